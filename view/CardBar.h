#pragma once
#include <wx/panel.h>

#include <functional>
#include <string>

class wxButton;
class wxStaticText;

// The bar above the grid that offers a camcorder card when it is inserted: "Camcorder card
// <name> inserted" with Open and Dismiss. It never takes the focus from the grid and asks
// nothing: a card that nobody opens is simply left alone.
class CCardBar : public wxPanel {
public:
    using OpenHandler = std::function<void(const std::string& root)>;
    // `showOrHide` lays the bar in or out of its window.
    CCardBar(wxWindow* parent, OpenHandler open, std::function<void(bool shown)> showOrHide);

    void Offer(const std::string& name, const std::string& root);
    // Hides the bar when it offers the card mounted on `root`.
    void Withdraw(const std::string& root);

    bool Offering() const { return !root_.empty(); }
    const std::string& OfferedRoot() const { return root_; }
    wxString Text() const;
    wxButton* OpenButton() const { return open_; }
    wxButton* DismissButton() const { return dismiss_; }

private:
    void OnOpen(wxCommandEvent& event);
    void OnDismiss(wxCommandEvent& event);
    void Close();

    OpenHandler openHandler_;
    std::function<void(bool shown)> showOrHide_;
    wxStaticText* text_ = nullptr;
    wxButton* open_ = nullptr;
    wxButton* dismiss_ = nullptr;
    std::string root_;
};
