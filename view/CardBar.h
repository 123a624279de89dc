#pragma once
#include "view/OfferBar.h"

#include <functional>
#include <string>

// The bar above the grid that offers a camcorder card when it is inserted: "Camcorder card
// <name> inserted" with Open, Import and Dismiss. Once every recording of the card is imported,
// it says that the card can be formatted. When the card of the open folder is pulled, it says
// so until the card is back or the bar is dismissed.
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
    wxButton* ImportButton() const { return import_; }
    // Import opens the card as Open does, then imports it; the bar stays until the import ends.
    void SetImportHandler(OpenHandler import) { importHandler_ = std::move(import); }
    // Every recording of the card at `root` is imported: the bar says it can be formatted.
    void ShowFormattable(const std::string& root);

private:
    void OnAction() override;
    void OnImport(wxCommandEvent& event);

    OpenHandler openHandler_;
    OpenHandler importHandler_;
    wxButton* import_ = nullptr;
    std::string name_;
    std::string root_;
};
