#pragma once
#include <wx/dialog.h>

#include <cstdint>
#include <string>

class wxRadioButton;
class wxStaticText;
class wxTextCtrl;

// The Import Recordings dialog: the destination folder (ImportFolder), the name pattern
// (ImportNames), what to import (every recording not yet imported, or the selection) and a
// summary of how many recordings, how many bytes and the free space at the destination. OK
// writes both settings; Cancel writes nothing.
class CImportDlg : public wxDialog {
public:
    struct Choice {
        int recordings = 0;
        std::uint64_t bytes = 0;
        int importedBefore = 0;  // of those recordings
    };
    CImportDlg(wxWindow* parent, Choice notImported, Choice selected);

    std::string Destination() const;
    std::string Pattern() const;
    bool SelectionOnly() const;
    std::string SummaryText() const;

private:
    void UpdateSummary();
    void OnBrowse(wxCommandEvent& event);
    void OnImport(wxCommandEvent& event);

    Choice notImported_, selected_;
    wxTextCtrl* destination_ = nullptr;
    wxTextCtrl* pattern_ = nullptr;
    wxRadioButton* every_ = nullptr;
    wxRadioButton* selection_ = nullptr;
    wxStaticText* summary_ = nullptr;
    std::string loadedDestination_;
};
