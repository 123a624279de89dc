#pragma once
#include <wx/panel.h>

#include <functional>
#include <vector>

class wxButton;
class wxStaticText;

// A bar above the grid that offers one thing: a line of text, a button that does it and one
// that dismisses the offer. It never takes the focus from the grid and asks nothing: an offer
// nobody takes is simply left alone.
class COfferBar : public wxPanel {
public:
    wxString Text() const;
    bool Offering() const { return offering_; }
    wxButton* ActionButton() const { return action_; }
    wxButton* DismissButton() const { return dismiss_; }

protected:
    // `showOrHide` lays the bar in or out of its window.
    COfferBar(wxWindow* parent, const wxString& actionLabel, std::function<void(bool shown)> showOrHide);
    // Shows the bar with the text.
    void Present(const wxString& text);
    // Shows the bar with the text and Dismiss only: there is nothing more to do.
    void PresentNotice(const wxString& text);
    // A further action's button, before Dismiss; shown with the first one.
    wxButton* AddAction(const wxString& label);
    void Close();
    // The action's button was pressed; the bar is still shown.
    virtual void OnAction() = 0;
    virtual void OnDismissed() {}

private:
    void OnActionButton(wxCommandEvent& event);
    void OnDismissButton(wxCommandEvent& event);

    std::function<void(bool shown)> showOrHide_;
    wxStaticText* text_ = nullptr;
    wxButton* action_ = nullptr;
    wxButton* dismiss_ = nullptr;
    std::vector<wxButton*> more_;
    bool offering_ = false;
};
