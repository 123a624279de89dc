#include "app/OptionsDlg.h"

#include "app/DialogBuilder.h"
#include "platform/Utf8.h"
#include "res/Resources.h"
#include "settings/Settings.h"

#include <wx/checkbox.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>
#include <wx/valgen.h>

namespace {

wxString Shown(const std::string& bytes)
{
    return wxString::FromUTF8(platform::DisplayUtf8(bytes));
}

// A check box edits an int that is 0 or 1.
class CheckValidator : public wxValidator {
public:
    explicit CheckValidator(int* value) : value_(value) {}
    wxObject* Clone() const override { return new CheckValidator(*this); }
    bool TransferToWindow() override
    {
        static_cast<wxCheckBox*>(GetWindow())->SetValue(*value_ != 0);
        return true;
    }
    bool TransferFromWindow() override
    {
        *value_ = static_cast<wxCheckBox*>(GetWindow())->GetValue() ? 1 : 0;
        return true;
    }
    bool Validate(wxWindow*) override { return true; }

private:
    int* value_;
};

// A radio group edits the index of its ticked button; each button knows its index.
class RadioIndexValidator : public wxValidator {
public:
    RadioIndexValidator(int* index, int position) : index_(index), position_(position) {}
    wxObject* Clone() const override { return new RadioIndexValidator(*this); }
    bool TransferToWindow() override
    {
        static_cast<wxRadioButton*>(GetWindow())->SetValue(*index_ == position_);
        return true;
    }
    bool TransferFromWindow() override
    {
        if (static_cast<wxRadioButton*>(GetWindow())->GetValue())
            *index_ = position_;
        return true;
    }
    bool Validate(wxWindow*) override { return true; }

private:
    int* index_;
    int position_;
};

}  // namespace

COptionsDlg::COptionsDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, res::OptionsDialog().caption, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    // Loading, each setting with its default.
    generateThumbnails = settings::GenerateThumbnails.Read() ? 1 : 0;
    grabMethod = settings::UseFFmpeg.Read() ? 1 : 0;
    writeThumbnails = settings::WriteThumbnails.Read() ? 1 : 0;
    loadedExe_ = GetFFmpegExe();
    ffmpegExe = Shown(loadedExe_);
    writeLocation = settings::WriteToSubdir.Read() ? 1 : 0;
    splitDates = settings::SplitDates.Read() ? 1 : 0;
    loadedParams_ = GetFFmpegParams();
    ffmpegParams = Shown(loadedParams_);
    shareThumbnails = settings::ShareThumbnails.Read() ? 1 : 0;
    joinSplitRecordings = settings::JoinSplitRecordings.Read() ? 1 : 0;
    skimClips = settings::SkimClips.Read() ? 1 : 0;

    BuildDialog(*this, res::OptionsDialog());
    generateCheck_ = static_cast<wxCheckBox*>(FindWindow(res::kIdGenerate));
    writeCheck_ = static_cast<wxCheckBox*>(FindWindow(res::kIdWrite));
    generateCheck_->SetValidator(CheckValidator(&generateThumbnails));
    writeCheck_->SetValidator(CheckValidator(&writeThumbnails));
    FindWindow(res::kIdMediaGrab)->SetValidator(RadioIndexValidator(&grabMethod, 0));
    FindWindow(res::kIdFFmpeg)->SetValidator(RadioIndexValidator(&grabMethod, 1));
    FindWindow(res::kIdFFmpegPath)->SetValidator(wxGenericValidator(&ffmpegExe));
    FindWindow(res::kIdBesideClips)->SetValidator(RadioIndexValidator(&writeLocation, 0));
    FindWindow(res::kIdSubdirectory)->SetValidator(RadioIndexValidator(&writeLocation, 1));
    FindWindow(res::kIdSplitDates)->SetValidator(CheckValidator(&splitDates));
    FindWindow(res::kIdParameters)->SetValidator(wxGenericValidator(&ffmpegParams));
    FindWindow(res::kIdShareThumbnails)->SetValidator(CheckValidator(&shareThumbnails));
    FindWindow(res::kIdJoinSplitRecordings)->SetValidator(CheckValidator(&joinSplitRecordings));
    FindWindow(res::kIdSkimClips)->SetValidator(CheckValidator(&skimClips));

    Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { UpdateAllStates(); }, res::kIdGenerate);
    Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { UpdateFFmpegStates(); }, res::kIdMediaGrab);
    Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { UpdateFFmpegStates(); }, res::kIdFFmpeg);
    Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { UpdateWriteStates(); }, res::kIdWrite);
    Bind(wxEVT_BUTTON, &COptionsDlg::OnBrowse, this, res::kIdBrowse);
    Bind(wxEVT_BUTTON, &COptionsDlg::OnOK, this, wxID_OK);

    TransferDataToWindow();
    UpdateAllStates();
}

void COptionsDlg::Enable(int id, bool enable)
{
    if (wxWindow* control = FindWindow(id))
        control->Enable(enable);
}

void COptionsDlg::UpdateAllStates()
{
    const bool generate = generateCheck_->GetValue();
    for (int id : {res::kIdMediaGrab, res::kIdFFmpeg, res::kIdWrite})
        Enable(id, generate);
    UpdateFFmpegStates();
    UpdateWriteStates();
}

void COptionsDlg::UpdateFFmpegStates()
{
    const bool ffmpeg =
        generateCheck_->GetValue() && static_cast<wxRadioButton*>(FindWindow(res::kIdFFmpeg))->GetValue();
    for (int id : {res::kIdPathLabel, res::kIdFFmpegPath, res::kIdBrowse, res::kIdParameters, res::kIdParametersLabel,
                   res::kIdWarningText, res::kIdPlaceholderText})
        Enable(id, ffmpeg);
}

void COptionsDlg::UpdateWriteStates()
{
    const bool write = writeCheck_->GetValue() && generateCheck_->GetValue();
    Enable(res::kIdBesideClips, write);
    Enable(res::kIdSubdirectory, write);
}

void COptionsDlg::OnBrowse(wxCommandEvent&)
{
    auto* path = static_cast<wxTextCtrl*>(FindWindow(res::kIdFFmpegPath));
    const wxFileName current(path->GetValue());
    wxFileDialog chooser(this, wxFileSelectorPromptStr, current.GetPath(), current.GetFullName(), wxFileSelectorDefaultWildcardStr,
                         wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (chooser.ShowModal() == wxID_OK)
        path->SetValue(chooser.GetPath());
}

std::string COptionsDlg::StoredText(const wxString& shown, const std::string& loaded) const
{
    if (shown == Shown(loaded))
        return loaded;
    const wxScopedCharBuffer utf8 = shown.utf8_str();
    return std::string(utf8.data(), utf8.length());
}

void COptionsDlg::OnOK(wxCommandEvent&)
{
    if (!Validate() || !TransferDataFromWindow())
        return;
    EndModal(wxID_OK);
    settings::GenerateThumbnails.Write(generateThumbnails != 0);
    settings::WriteThumbnails.Write(writeThumbnails != 0);
    settings::UseFFmpeg.Write(grabMethod == 1);
    settings::FFmpegExe.Write(StoredText(ffmpegExe, loadedExe_));
    settings::WriteToSubdir.Write(writeLocation == 1);
    settings::SplitDates.Write(splitDates != 0);
    settings::FFmpegParams.Write(StoredText(ffmpegParams, loadedParams_));
    settings::ShareThumbnails.Write(shareThumbnails != 0);
    settings::JoinSplitRecordings.Write(joinSplitRecordings != 0);
    settings::SkimClips.Write(skimClips != 0);
}
