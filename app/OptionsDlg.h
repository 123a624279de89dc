#pragma once
#include <wx/dialog.h>

#include <string>

class wxCheckBox;

// The Options dialog: the ten generation, writing, sharing and display settings. It loads them
// when built and writes all ten on OK; Cancel writes nothing. Nothing is validated.
class COptionsDlg : public wxDialog {
public:
    explicit COptionsDlg(wxWindow* parent);

    // Enabling rules, read from the controls.
    void UpdateAllStates();
    void UpdateFFmpegStates();
    void UpdateWriteStates();

    // The members the controls edit.
    int generateThumbnails = 0;
    int grabMethod = 0;      // 0: media framework, 1: ffmpeg
    int writeThumbnails = 1;
    wxString ffmpegExe;
    int writeLocation = 0;   // 0: beside the clips, 1: Viewmere subdirectory
    int splitDates = 1;
    wxString ffmpegParams;
    int shareThumbnails = 1;  // with the desktop's thumbnail cache, both ways
    int joinSplitRecordings = 1;  // the files of a recording the camera split are one clip
    int skimClips = 1;  // the pointer runs through a recording across its picture

private:
    void OnBrowse(wxCommandEvent& event);
    void OnOK(wxCommandEvent& event);
    void Enable(int id, bool enable);
    // The text to store: the loaded bytes when the field was not edited, so a path that is not
    // valid UTF-8 survives a round trip unchanged.
    std::string StoredText(const wxString& shown, const std::string& loaded) const;

    wxCheckBox* generateCheck_ = nullptr;
    wxCheckBox* writeCheck_ = nullptr;
    std::string loadedExe_;
    std::string loadedParams_;
};
