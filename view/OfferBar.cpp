#include "view/OfferBar.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

COfferBar::COfferBar(wxWindow* parent, const wxString& actionLabel, std::function<void(bool shown)> showOrHide)
    : wxPanel(parent, wxID_ANY), showOrHide_(std::move(showOrHide))
{
    text_ = new wxStaticText(this, wxID_ANY, wxString());
    // Ids of their own: the standard ones would be commands whose state the frame decides.
    action_ = new wxButton(this, wxID_ANY, actionLabel);
    dismiss_ = new wxButton(this, wxID_ANY, "Dismiss");
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    sizer->Add(text_, 1, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 8);
    sizer->Add(action_, 0, wxALL, 4);
    sizer->Add(dismiss_, 0, wxTOP | wxBOTTOM | wxRIGHT, 4);
    SetSizerAndFit(sizer);
    action_->Bind(wxEVT_BUTTON, &COfferBar::OnActionButton, this);
    dismiss_->Bind(wxEVT_BUTTON, &COfferBar::OnDismissButton, this);
}

wxString COfferBar::Text() const
{
    return text_->GetLabel();
}

wxButton* COfferBar::AddAction(const wxString& label)
{
    auto* button = new wxButton(this, wxID_ANY, label);
    GetSizer()->Insert(static_cast<std::size_t>(2 + more_.size()), button, 0, wxTOP | wxBOTTOM | wxRIGHT, 4);
    more_.push_back(button);
    SetSizerAndFit(GetSizer(), false);
    return button;
}

void COfferBar::PresentNotice(const wxString& text)
{
    Present(text);
    action_->Hide();
    for (wxButton* button : more_)
        button->Hide();
    Layout();
}

void COfferBar::Present(const wxString& text)
{
    // Offered again as it stands (the counts are offered whenever they may have changed): the
    // window is left as it is.
    if (offering_ && text_->GetLabel() == text && action_->IsShown())
        return;
    offering_ = true;
    action_->Show();
    for (wxButton* button : more_)
        button->Show();
    text_->SetLabel(text);
    Layout();
    showOrHide_(true);
}

void COfferBar::Close()
{
    if (!offering_)
        return;
    offering_ = false;
    showOrHide_(false);
}

void COfferBar::OnActionButton(wxCommandEvent&)
{
    OnAction();
}

void COfferBar::OnDismissButton(wxCommandEvent&)
{
    Close();
    OnDismissed();
}
