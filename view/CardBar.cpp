#include "view/CardBar.h"

#include "platform/Utf8.h"

CCardBar::CCardBar(wxWindow* parent, OpenHandler open, std::function<void(bool shown)> showOrHide)
    : COfferBar(parent, "Open", std::move(showOrHide)), openHandler_(std::move(open))
{
}

void CCardBar::Offer(const std::string& name, const std::string& root)
{
    root_ = root;
    Present(wxString::FromUTF8("Camcorder card " + platform::DisplayUtf8(name) + " inserted"));
}

void CCardBar::TellRemoved(const std::string& name, const std::string& root)
{
    root_ = root;
    Present(wxString::FromUTF8("Camcorder card " + platform::DisplayUtf8(name) +
                               " was removed: its clips cannot be played until it is back"),
            false);
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
