#include "app/ImportDlg.h"

#include "import/ImportNames.h"
#include "import/Importer.h"
#include "platform/Utf8.h"
#include "settings/Settings.h"

#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

wxString Shown(const std::string& bytes)
{
    return wxString::FromUTF8(platform::DisplayUtf8(bytes));
}

std::string Recordings(const CImportDlg::Choice& choice)
{
    std::string text = std::to_string(choice.recordings) + (choice.recordings == 1 ? " recording, " : " recordings, ") +
                       FormatBytes(choice.bytes);
    if (choice.importedBefore == choice.recordings && choice.recordings > 0)
        return text + (choice.recordings == 1 ? ", imported before" : ", all imported before");
    if (choice.importedBefore > 0)
        return text + ", " + std::to_string(choice.importedBefore) + " of them imported before";
    return text;
}

}  // namespace

CImportDlg::CImportDlg(wxWindow* parent, Choice notImported, Choice selected)
    : wxDialog(parent, wxID_ANY, "Import Recordings", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      notImported_(notImported), selected_(selected), loadedDestination_(ImportDestination())
{
    destination_ = new wxTextCtrl(this, wxID_ANY, Shown(loadedDestination_), wxDefaultPosition, wxSize(380, -1));
    auto* browse = new wxButton(this, wxID_ANY, "Browse...");
    pattern_ = new wxTextCtrl(this, wxID_ANY, Shown(ImportNamePattern()));
    every_ = new wxRadioButton(this, wxID_ANY, "Every recording not yet imported (" + Recordings(notImported) + ")",
                               wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    selection_ = new wxRadioButton(this, wxID_ANY, "The selected recordings (" + Recordings(selected) + ")");
    selection_->Enable(selected.recordings > 0);
    summary_ = new wxStaticText(this, wxID_ANY, wxString());

    auto* grid = new wxFlexGridSizer(2, 6, 8);
    grid->AddGrowableCol(1);
    grid->Add(new wxStaticText(this, wxID_ANY, "&Destination folder:"), 0, wxALIGN_CENTER_VERTICAL);
    auto* folderRow = new wxBoxSizer(wxHORIZONTAL);
    folderRow->Add(destination_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    folderRow->Add(browse, 0);
    grid->Add(folderRow, 1, wxEXPAND);
    grid->Add(new wxStaticText(this, wxID_ANY, "&Names:"), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(pattern_, 1, wxEXPAND);
    grid->AddSpacer(0);
    grid->Add(new wxStaticText(this, wxID_ANY, "The recording time's strftime fields (%Y %m %d %H %M %S); \"/\" makes folders."));
    grid->Add(new wxStaticText(this, wxID_ANY, "Import:"), 0, wxTOP, 2);
    auto* what = new wxBoxSizer(wxVERTICAL);
    what->Add(every_, 0, wxBOTTOM, 4);
    what->Add(selection_);
    grid->Add(what);

    auto* buttons = new wxStdDialogButtonSizer;
    auto* import = new wxButton(this, wxID_OK, "&Import");
    import->SetDefault();
    buttons->AddButton(import);
    buttons->AddButton(new wxButton(this, wxID_CANCEL, "Cancel"));
    buttons->Realize();

    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(grid, 0, wxEXPAND | wxALL, 12);
    top->Add(summary_, 0, wxEXPAND | wxLEFT | wxRIGHT, 12);
    top->Add(buttons, 0, wxEXPAND | wxALL, 12);
    SetSizerAndFit(top);

    browse->Bind(wxEVT_BUTTON, &CImportDlg::OnBrowse, this);
    import->Bind(wxEVT_BUTTON, &CImportDlg::OnImport, this);
    destination_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { UpdateSummary(); });
    every_->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { UpdateSummary(); });
    selection_->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { UpdateSummary(); });
    UpdateSummary();
    CentreOnParent();
}

std::string CImportDlg::Destination() const
{
    // The loaded bytes when the field was not edited, so a folder whose name is not UTF-8 stays.
    if (destination_->GetValue() == Shown(loadedDestination_))
        return loadedDestination_;
    return destination_->GetValue().utf8_string();
}

std::string CImportDlg::Pattern() const
{
    return pattern_->GetValue().utf8_string();
}

bool CImportDlg::SelectionOnly() const
{
    return selection_->GetValue();
}

std::string CImportDlg::SummaryText() const
{
    return summary_->GetLabel().utf8_string();
}

void CImportDlg::UpdateSummary()
{
    const Choice& chosen = SelectionOnly() ? selected_ : notImported_;
    const std::optional<std::uint64_t> free = FreeSpaceAt(Destination());
    std::string text = Recordings(chosen) + "; " +
                       (free ? FormatBytes(*free) + " free at the destination" : std::string("the destination cannot be read"));
    if (free && *free < chosen.bytes)
        text += ": not enough room";
    summary_->SetLabel(Shown(text));
    Layout();
}

void CImportDlg::OnBrowse(wxCommandEvent&)
{
    wxDirDialog chooser(this, "Choose the folder to import recordings to", destination_->GetValue());
    if (chooser.ShowModal() == wxID_OK)
        destination_->SetValue(chooser.GetPath());
}

void CImportDlg::OnImport(wxCommandEvent&)
{
    std::string problem;
    if (Destination().empty() || Destination()[0] != '/') {
        wxMessageBox("The destination must be a whole folder path, starting with \"/\".", "Import Recordings",
                     wxOK | wxICON_EXCLAMATION, this);
        return;
    }
    if (!IsUsableNamePattern(Pattern(), problem)) {
        wxMessageBox("The names cannot be made: " + problem + ".", "Import Recordings", wxOK | wxICON_EXCLAMATION, this);
        return;
    }
    settings::ImportFolder.Write(Destination());
    settings::ImportNames.Write(Pattern());
    EndModal(wxID_OK);
}
