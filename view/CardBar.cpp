#include "view/CardBar.h"

#include "platform/Utf8.h"

#include <wx/button.h>

CCardBar::CCardBar(wxWindow* parent, OpenHandler open, std::function<void(bool shown)> showOrHide)
    : COfferBar(parent, "Open", std::move(showOrHide)), openHandler_(std::move(open))
{
    import_ = AddAction("Import");
    import_->Bind(wxEVT_BUTTON, &CCardBar::OnImport, this);
}

void CCardBar::Offer(const std::string& name, const std::string& root)
{
    root_ = root;
    name_ = name;
    Present(wxString::FromUTF8("Camcorder card " + platform::DisplayUtf8(name) + " inserted"));
}

void CCardBar::TellRemoved(const std::string& name, const std::string& root)
{
    root_ = root;
    PresentNotice(wxString::FromUTF8("Camcorder card " + platform::DisplayUtf8(name) +
                                     " was removed: its clips cannot be played until it is back"));
}

void CCardBar::Withdraw(const std::string& root)
{
    if (Offering() && root == root_)
        Close();
}

void CCardBar::OnAction()
{
    const std::string root = root_;
    Close();
    openHandler_(root);
}

void CCardBar::OnImport(wxCommandEvent&)
{
    if (importHandler_)
        importHandler_(root_);
}

void CCardBar::ShowFormattable(const std::string& root)
{
    if (Offering() && root == root_)
        PresentNotice(wxString::FromUTF8("Camcorder card " + platform::DisplayUtf8(name_) +
                                         ": every recording is imported and verified; the card can be formatted"));
}
