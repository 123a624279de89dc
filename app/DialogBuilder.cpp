#include "app/DialogBuilder.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

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
            new wxCheckBox(&dialog, c.id, text, at, size);
            break;
        case res::ControlKind::FirstRadioButton:
            new wxRadioButton(&dialog, c.id, text, at, size, wxRB_GROUP);
            break;
        case res::ControlKind::RadioButton:
            new wxRadioButton(&dialog, c.id, text, at, size);
            break;
        case res::ControlKind::Static:
            new wxStaticText(&dialog, c.id, text, at, size, wxST_NO_AUTORESIZE);
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
