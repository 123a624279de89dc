#pragma once
#include <wx/dialog.h>

// The About box: icon, "Viewmere Version <product version>", the rights notice and the JPEG
// library credit.
class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
    // The product version of the build ("1.0.3.1").
    static const char* ProductVersion();
};
