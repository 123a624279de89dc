#pragma once
#include "platform/MediaPlayer.h"

#include <wx/frame.h>
#include <wx/timer.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The quick look: a window of the viewer that plays one recording (every file of it in order,
// with its sound) through the media framework, its pictures drawn at the window's own pixels.
// A click pauses and resumes (and, at the end, plays the recording again). A recording that
// cannot be played shows why. Put away, it stops and closes everything it opened, and keeps its
// size and place for the next look while the program runs.
class CQuickLook : public wxFrame {
public:
    // The keys the window itself gets (Space, Escape, Left, Right) go to its owner, which answers
    // them as it does its own: true when it took the key.
    using KeyHandler = std::function<bool(int keyCode)>;

    CQuickLook(wxWindow* parent, KeyHandler keys);
    ~CQuickLook() override;

    // Shows the window and plays the recording's files from their start; `name` titles it.
    void Play(const std::string& name, const std::vector<std::string>& files);
    // Stops playing, closes the files and hides the window.
    void PutAway();
    bool Looking() const { return IsShown(); }
    // The files of the recording shown.
    const std::vector<std::string>& Files() const { return files_; }
    void TogglePause();
    // What the window says in place of a picture ("" while it shows one).
    wxString Message() const;
    wxWindow* Picture() const { return picture_; }

private:
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnClick(wxMouseEvent& event);
    void OnPlayerEvent(wxThreadEvent& event);
    void OnTimer(wxTimerEvent& event);
    void TakePlayerNews();
    void UpdateTitle();
    wxSize FrameSizeWanted() const;

    KeyHandler keys_;
    wxWindow* picture_ = nullptr;  // where the pictures are drawn
    std::unique_ptr<platform::MediaPlayer> player_;
    platform::MediaPlayer::State state_ = platform::MediaPlayer::State::Opening;
    std::string name_;
    std::vector<std::string> files_;
    wxTimer timer_;
    wxRect place_;  // where the window was when put away: the next look opens there
    // Set while a wake-up from the player's threads waits to be taken, so a burst posts one.
    std::shared_ptr<std::atomic<bool>> wakeUpPosted_ = std::make_shared<std::atomic<bool>>(false);
};
