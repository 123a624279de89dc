#include "app/AboutDlg.h"

#include "app/DialogBuilder.h"
#include "res/Resources.h"

#include <wx/bmpbndl.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#ifndef VIEWMERE_VERSION
#define VIEWMERE_VERSION ""
#endif

const char* CAboutDlg::ProductVersion()
{
    return VIEWMERE_VERSION;
}

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, res::AboutDialog().caption, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    const res::DialogTemplate& layout = res::AboutDialog();
    BuildDialog(*this, layout);
    for (const res::ControlTemplate& c : layout.controls) {
        if (c.kind == res::ControlKind::Icon) {
            const wxSize size = ConvertDialogToPixels(wxSize(c.width, c.height));
            const std::string svg = res::IconSvg();
            new wxStaticBitmap(this, wxID_ANY, wxBitmapBundle::FromSVG(svg.c_str(), size),
                               ConvertDialogToPixels(wxPoint(c.x, c.y)), size);
        }
    }
    // The version text's "0.0" becomes the product version.
    if (auto* version = dynamic_cast<wxStaticText*>(FindWindow(res::kIdVersionText))) {
        wxString text = version->GetLabel();
        text.Replace("0.0", ProductVersion());
        version->SetLabel(text);
    }
    // The two-line notice is the third control of the template.
    for (wxWindow* child : GetChildren())
        if (auto* text = dynamic_cast<wxStaticText*>(child); text != nullptr && text->GetId() != res::kIdVersionText)
            text->SetLabel(wxString::FromUTF8(res::kRightsNotice) + "\n" + wxString::FromUTF8(res::kJpegCredit));
}
