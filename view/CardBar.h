#pragma once
#include "view/OfferBar.h"

#include <functional>
#include <string>

// The bar above the grid that offers a camcorder card when it is inserted: "Camcorder card
// <name> inserted" with Open and Dismiss. When the card of the open folder is pulled, it says so
// until the card is back or the bar is dismissed.
class CCardBar : public COfferBar {
public:
    using OpenHandler = std::function<void(const std::string& root)>;
    CCardBar(wxWindow* parent, OpenHandler open, std::function<void(bool shown)> showOrHide);

    void Offer(const std::string& name, const std::string& root);
    void TellRemoved(const std::string& name, const std::string& root);
    // Hides the bar when it offers the card mounted on `root`.
    void Withdraw(const std::string& root);

    const std::string& OfferedRoot() const { return root_; }
    wxButton* OpenButton() const { return ActionButton(); }

private:
    void OnAction() override;

    OpenHandler openHandler_;
    std::string root_;
};
