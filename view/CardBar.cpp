#include "view/CardBar.h"

#include "platform/Utf8.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

CCardBar::CCardBar(wxWindow* parent, OpenHandler open, std::function<void(bool shown)> showOrHide)
    : wxPanel(parent, wxID_ANY), openHandler_(std::move(open)), showOrHide_(std::move(showOrHide))
{
    text_ = new wxStaticText(this, wxID_ANY, "Camcorder card inserted");
    // Ids of their own: the standard ones would be commands whose state the frame decides.
    open_ = new wxButton(this, wxID_ANY, "Open");
    dismiss_ = new wxButton(this, wxID_ANY, "Dismiss");
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    sizer->Add(text_, 1, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 8);
    sizer->Add(open_, 0, wxALL, 4);
    sizer->Add(dismiss_, 0, wxTOP | wxBOTTOM | wxRIGHT, 4);
    SetSizerAndFit(sizer);
    open_->Bind(wxEVT_BUTTON, &CCardBar::OnOpen, this);
    dismiss_->Bind(wxEVT_BUTTON, &CCardBar::OnDismiss, this);
}

void CCardBar::Offer(const std::string& name, const std::string& root)
{
    root_ = root;
    text_->SetLabel(wxString::FromUTF8("Camcorder card " + platform::DisplayUtf8(name) + " inserted"));
    Layout();
    showOrHide_(true);
}

void CCardBar::Withdraw(const std::string& root)
{
    if (Offering() && root == root_)
        Close();
}

wxString CCardBar::Text() const
{
    return text_->GetLabel();
}

void CCardBar::Close()
{
    root_.clear();
    showOrHide_(false);
}

void CCardBar::OnOpen(wxCommandEvent&)
{
    const std::string root = root_;
    Close();
    openHandler_(root);
}

void CCardBar::OnDismiss(wxCommandEvent&)
{
    Close();
}
