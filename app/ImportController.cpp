#include "app/ImportController.h"

#include "app/ImportDlg.h"
#include "import/Importer.h"
#include "model/ClipDetails.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/Utf8.h"
#include "view/ChildView.h"

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <chrono>
#include <set>
#include <thread>

namespace {

constexpr int kTimerMilliseconds = 200;

wxString Shown(const std::string& bytes)
{
    return wxString::FromUTF8(platform::DisplayUtf8(bytes));
}

}  // namespace

CImportProgressDlg::CImportProgressDlg(wxWindow* parent, std::function<void()> cancel)
    : wxDialog(parent, wxID_ANY, "Importing Recordings", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxCLOSE_BOX | wxFRAME_FLOAT_ON_PARENT),
      onCancel_(std::move(cancel))
{
    recording_ = new wxStaticText(this, wxID_ANY, "Finding the recordings imported before...");
    bar_ = new wxGauge(this, wxID_ANY, 1000, wxDefaultPosition, wxSize(420, -1));
    details_ = new wxStaticText(this, wxID_ANY, wxString());
    cancel_ = new wxButton(this, wxID_CANCEL, "Cancel");
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(recording_, 0, wxEXPAND | wxALL, 12);
    sizer->Add(bar_, 0, wxEXPAND | wxLEFT | wxRIGHT, 12);
    sizer->Add(details_, 0, wxEXPAND | wxALL, 12);
    sizer->Add(cancel_, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 12);
    SetSizerAndFit(sizer);
    auto cancelled = [this] {
        cancel_->Disable();
        cancel_->SetLabel("Cancelling...");
        onCancel_();
    };
    cancel_->Bind(wxEVT_BUTTON, [cancelled](wxCommandEvent&) { cancelled(); });
    Bind(wxEVT_CLOSE_WINDOW, [cancelled](wxCloseEvent&) { cancelled(); });
    CentreOnParent();
}

void CImportProgressDlg::Show(const ImportProgress& progress, double seconds)
{
    if (progress.checking)
        return;
    recording_->SetLabel(Shown(platform::FormatString("Recording %d of %d: %s", progress.current, progress.count,
                                                      progress.label.c_str())));
    bar_->SetValue(progress.workTotal == 0 ? 0 : static_cast<int>(1000 * progress.workDone / progress.workTotal));
    details_->SetLabel(Shown(FormatProgress(progress, seconds)));
}

wxString CImportProgressDlg::DetailsText() const
{
    return recording_->GetLabel() + "\n" + details_->GetLabel();
}

CImportController::CImportController(wxWindow* frame, CChildView* view, std::function<void(const std::string&)> note)
    : frame_(frame), view_(view), note_(std::move(note)), timer_(this)
{
    Bind(wxEVT_TIMER, &CImportController::OnTimer, this);
}

CImportController::~CImportController()
{
    timer_.Stop();
    // The import is cancelled and waited for: its temporary file is removed before the program ends.
    job_.reset();
    lookup_.Stop();
}

std::vector<CImportController::Clip> CImportController::FolderClips(bool selectedOnly) const
{
    std::set<std::pair<const CClipDetails*, int>> selected;
    if (selectedOnly)
        for (const IFmtItem* item : view_->GridLayout().Items())
            if (const auto* clip = dynamic_cast<const CFmtClip*>(item); clip != nullptr && clip->IsSelected())
                selected.insert({clip->Clips(), static_cast<int>(clip->Index())});
    std::vector<Clip> clips;
    CAVCHDDoc& document = view_->Document();
    for (int d = 0; d < document.GetDirectoryCount(); ++d) {
        const boost::shared_ptr<CClipDetails> list = document.GetDirectory(d)->clips;
        for (int slot = 0; slot < list->GetCount(); ++slot)
            if (list->GetEntry(slot) != nullptr && !list->IsContinuation(slot) &&
                (!selectedOnly || selected.count({list.get(), slot}) > 0))
                clips.push_back(Clip{list, slot});
    }
    return clips;
}

bool CImportController::CanImport() const
{
    return !job_ && view_->Document().GetClipCount() > 0;
}

void CImportController::ChooseAndImport(std::function<void(bool complete)> whenDone)
{
    if (!CanImport())
        return;
    // What the dialog offers depends on which recordings were imported before.
    FinishLookup();
    auto choiceOf = [](const std::vector<Clip>& clips, bool onlyMissing) {
        CImportDlg::Choice choice;
        for (const Clip& clip : clips) {
            const bool before = !clip.clips->GetEntry(clip.index)->importedTo.empty();
            if (!onlyMissing || !before) {
                ++choice.recordings;
                choice.bytes += clip.clips->RecordingSize(clip.index);
                choice.importedBefore += before;
            }
        }
        return choice;
    };
    const std::vector<Clip> all = FolderClips(false), selected = FolderClips(true);
    CImportDlg dialog(frame_, choiceOf(all, true), choiceOf(selected, false));
    if (dialog.ShowModal() != wxID_OK)
        return;
    ImportRequest request;
    request.destination = dialog.Destination();
    request.pattern = dialog.Pattern();
    request.source = view_->OpenedFolder();
    request.wholeCard = !dialog.SelectionOnly();
    importing_.clear();
    std::set<std::string> firstFiles;  // each file of a split recording shown alone gives it whole: once
    for (const Clip& clip : dialog.SelectionOnly() ? selected : all)
        if (std::optional<CardRecording> recording = RecordingOfClip(*clip.clips, clip.index);
            recording && firstFiles.insert(recording->parts.front()).second) {
            request.recordings.push_back(std::move(*recording));
            importing_.push_back(clip);
        }
    whenDone_ = std::move(whenDone);
    job_ = std::make_unique<CImportJob>(std::move(request));
    progress_ = new CImportProgressDlg(frame_, [this] {
        if (job_)
            job_->Cancel();
    });
    progress_->wxDialog::Show();
    timer_.Start(kTimerMilliseconds);
    UpdateNote();
}

void CImportController::FolderShown()
{
    lookup_.Stop();
    lookedUp_ = FolderClips(false);
    complete_ = false;
    std::vector<std::pair<CImportLookup::Token, CardRecording>> recordings;
    for (std::size_t i = 0; i < lookedUp_.size(); ++i)
        if (std::optional<CardRecording> recording = RecordingOfClip(*lookedUp_[i].clips, lookedUp_[i].index))
            recordings.emplace_back(static_cast<CImportLookup::Token>(i), std::move(*recording));
    lookupPending_ = !recordings.empty();
    if (lookupPending_) {
        lookup_.Start(std::move(recordings));
        timer_.Start(kTimerMilliseconds);
    }
    UpdateNote();
}

void CImportController::FinishLookup()
{
    if (!lookupPending_)
        return;
    // A lookup reads two pieces of a recording only where the database knows one of its size:
    // it ends within moments; a card that hangs is given up on after a while.
    wxBusyCursor busy;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!lookup_.Finished() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    TakeLookups();
}

void CImportController::TakeLookups()
{
    if (!lookupPending_)
        return;
    const bool finished = lookup_.Finished();
    bool changed = false;
    for (const auto& [token, destination] : lookup_.TakeResults()) {
        const Clip& clip = lookedUp_.at(static_cast<std::size_t>(token));
        changed = clip.clips->SetImportedTo(clip.index, destination) || changed;
    }
    if (changed)
        view_->Refresh(false);
    if (finished) {
        lookupPending_ = false;
        UpdateNote();
    }
}

void CImportController::OnTimer(wxTimerEvent&)
{
    TakeLookups();
    if (job_ && progress_ != nullptr)
        progress_->Show(job_->Progress(), job_->CopySeconds());
    if (job_ && job_->Finished())
        Finish();
    else if (job_)
        UpdateNote();
    if (!job_ && !lookupPending_)
        timer_.Stop();
}

void CImportController::Finish()
{
    const ImportReport report = *job_->TakeReport();
    job_.reset();
    for (std::size_t i = 0; i < report.recordings.size() && i < importing_.size(); ++i) {
        const RecordingImport& item = report.recordings[i];
        if (item.outcome == ImportOutcome::Imported || item.outcome == ImportOutcome::Already)
            importing_[i].clips->SetImportedTo(importing_[i].index, item.path);
    }
    importing_.clear();
    view_->Refresh(false);
    if (progress_ != nullptr) {
        progress_->Destroy();
        progress_ = nullptr;
    }
    UpdateNote();
    if (whenDone_)
        whenDone_(complete_);
    whenDone_ = {};
    const bool anyFailed = report.Count(ImportOutcome::Failed) + report.Count(ImportOutcome::NotTried) > 0;
    platform::ShowMessageBox(report.Message(), "Import Recordings",
                             anyFailed ? platform::MessageBoxIcon::Warning : platform::MessageBoxIcon::None);
}

void CImportController::UpdateNote()
{
    if (job_) {
        const ImportProgress progress = job_->Progress();
        note_(progress.checking ? std::string("Importing: finding the recordings imported before")
                                : platform::FormatString("Importing recording %d of %d: %s", progress.current,
                                                         progress.count,
                                                         FormatProgress(progress, job_->CopySeconds()).c_str()));
        return;
    }
    const std::vector<Clip> clips = FolderClips(false);
    complete_ = !clips.empty();
    for (const Clip& clip : clips)
        complete_ = complete_ && !clip.clips->GetEntry(clip.index)->importedTo.empty();
    if (!complete_)
        note_({});
    else if (clips.size() == 1)
        note_("The recording of this folder is imported and verified: the card can be formatted.");
    else
        note_(platform::FormatString("All %zu recordings of this folder are imported and verified: the card can be "
                                     "formatted.",
                                     clips.size()));
}
