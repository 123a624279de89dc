#include "import/ImportCommand.h"

#include "import/Importer.h"
#include "model/ClipListing.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::atomic<bool> cancelled{false};
volatile sig_atomic_t caughtSignal = 0;

void OnTermination(int signal)
{
    caughtSignal = signal;
    cancelled.store(true);
}

// Signals cancel the import; the signal is raised again once it has cleaned up.
class CancelOnSignals {
public:
    CancelOnSignals()
    {
        struct sigaction action {};
        action.sa_handler = OnTermination;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &action, &previous_[i]);
    }
    ~CancelOnSignals()
    {
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &previous_[i], nullptr);
    }

private:
    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    struct sigaction previous_[3] {};
};

const char* OutcomeWord(ImportOutcome outcome)
{
    switch (outcome) {
    case ImportOutcome::Imported: return "imported";
    case ImportOutcome::Already: return "already";
    default: return "failed";
    }
}

// The lines of the recordings in the card's order, each written as soon as it and every one
// before it are settled, so a script reads them while the import goes on.
class SettledLines {
public:
    void Settle(std::size_t index, const RecordingImport& item)
    {
        if (lines_.size() <= index)
            lines_.resize(index + 1);
        lines_[index] = platform::FormatString("%s\t%s\t%llu\t%s\t%zu\n", OutcomeWord(item.outcome),
                                               EscapedPath(item.path).c_str(),
                                               static_cast<unsigned long long>(item.recording.Size()),
                                               item.sha256.empty() ? "-" : item.sha256.c_str(), item.recording.parts.size());
        for (; written_ < lines_.size() && !lines_[written_].empty(); ++written_) {
            std::fputs(lines_[written_].c_str(), stdout);
            std::fflush(stdout);
        }
    }

private:
    std::vector<std::string> lines_;
    std::size_t written_ = 0;
};

// Progress on a terminal: one line redrawn at most five times a second.
class TerminalProgress {
public:
    explicit TerminalProgress(bool shown) : shown_(shown) {}
    ~TerminalProgress() { Clear(); }
    void Show(const ImportProgress& progress)
    {
        if (!shown_ || progress.checking || progress.current == 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (start_ == std::chrono::steady_clock::time_point{})
            start_ = now;
        if (now - last_ < std::chrono::milliseconds(200))
            return;
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const std::string line = platform::FormatString("Importing %d of %d (%s): ", progress.current, progress.count,
                                                        progress.label.c_str()) +
                                 FormatProgress(progress, seconds);
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        drawn_ = true;
    }
    void Clear()
    {
        if (drawn_)
            std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

private:
    bool shown_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_{}, last_{};
};

}  // namespace

int ImportFromCommandLine(const std::string& folder, const std::optional<std::string>& destination)
{
    if (!platform::IsDirectory(folder)) {
        std::fprintf(stderr, "viewmere: cannot read folder %s: %s\n", EscapedPath(folder).c_str(),
                     platform::FileExists(folder) ? "it is not a folder" : std::strerror(ENOENT));
        return 2;
    }
    ImportRequest request;
    request.destination = destination ? *destination : ImportDestination();
    if (request.destination.empty()) {
        std::fputs("viewmere: no destination: give DEST, or set a home folder\n", stderr);
        return 2;
    }
    if (request.destination[0] != '/') {
        std::string here(4096, '\0');
        if (getcwd(here.data(), here.size()) != nullptr)
            request.destination = platform::JoinPath(here.c_str(), request.destination);
    }
    request.source = folder;
    request.pattern = ImportNamePattern();
    request.recordings = FindCardRecordings(folder);

    cancelled.store(false);
    caughtSignal = 0;
    ImportReport report;
    {
        CancelOnSignals signals;
        TerminalProgress progress(isatty(STDERR_FILENO) == 1);
        SettledLines lines;
        request.settled = [&](std::size_t index, const RecordingImport& item) {
            progress.Clear();
            lines.Settle(index, item);
        };
        report = RunImport(request, [&](const ImportProgress& now) { progress.Show(now); }, cancelled);
    }
    std::fprintf(stderr, "%s\n", report.Message().c_str());
    if (caughtSignal != 0) {
        const int signal = caughtSignal;
        ::signal(signal, SIG_DFL);
        raise(signal);
    }
    return report.Complete() || report.recordings.empty() ? 0 : 1;
}
