#include "app/DialogBuilder.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

// Dialog units follow the desktop's font, whose letters run a little wider than those the
// layout was made with: a label may grow to its natural width while it stays in the dialog.
void GrowToFit(wxWindow* control, const wxDialog& dialog)
{
    const int limit = dialog.GetClientSize().x - control->GetPosition().x - dialog.ConvertDialogToPixels(wxSize(4, 0)).x;
    const int wanted = control->GetBestSize().x;
    if (wanted > control->GetSize().x)
        control->SetSize(std::min(wanted, limit), control->GetSize().y);
}

}  // namespace

void BuildDialog(wxDialog& dialog, const res::DialogTemplate& layout)
{
    dialog.SetClientSize(dialog.ConvertDialogToPixels(wxSize(layout.width, layout.height)));
    for (const res::ControlTemplate& c : layout.controls) {
        const wxPoint at = dialog.ConvertDialogToPixels(wxPoint(c.x, c.y));
        const wxSize size = dialog.ConvertDialogToPixels(wxSize(c.width, c.height));
        const wxString text = wxString::FromUTF8(c.text);
        switch (c.kind) {
        case res::ControlKind::GroupBox:
            new wxStaticBox(&dialog, c.id, text, at, size);
            break;
        case res::ControlKind::CheckBox:
            GrowToFit(new wxCheckBox(&dialog, c.id, text, at, size), dialog);
            break;
        case res::ControlKind::FirstRadioButton:
            GrowToFit(new wxRadioButton(&dialog, c.id, text, at, size, wxRB_GROUP), dialog);
            break;
        case res::ControlKind::RadioButton:
            GrowToFit(new wxRadioButton(&dialog, c.id, text, at, size), dialog);
            break;
        case res::ControlKind::Static:
            GrowToFit(new wxStaticText(&dialog, c.id, text, at, size, wxST_NO_AUTORESIZE), dialog);
            break;
        case res::ControlKind::Edit:
            new wxTextCtrl(&dialog, c.id, text, at, size);
            break;
        case res::ControlKind::Button:
            new wxButton(&dialog, c.id, text, at, size);
            break;
        case res::ControlKind::DefaultButton:
            (new wxButton(&dialog, c.id, text, at, size))->SetDefault();
            break;
        case res::ControlKind::Icon:
            break;  // the dialog places its own picture
        }
    }
}
