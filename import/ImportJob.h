#pragma once
#include "import/Importer.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// An import running on a thread of its own, so the window that started it stays usable: the UI
// thread reads its progress and takes its report when it has finished. Going, it cancels the
// import and waits for it, so that its temporary file is removed before the program ends.
class CImportJob {
public:
    explicit CImportJob(ImportRequest request);
    ~CImportJob();
    CImportJob(const CImportJob&) = delete;
    CImportJob& operator=(const CImportJob&) = delete;

    void Cancel() { cancel_.store(true); }
    bool Cancelling() const { return cancel_.load(); }
    bool Finished() const { return finished_.load(); }
    ImportProgress Progress() const;
    // Seconds since the copying started (the check before it not counted).
    double CopySeconds() const;
    // The report, once the import has finished; only once.
    std::optional<ImportReport> TakeReport();
    void Wait();

private:
    void Run(ImportRequest request);

    mutable std::mutex lock_;
    ImportProgress progress_;
    std::chrono::steady_clock::time_point copyStart_{};
    std::optional<ImportReport> report_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// Finds, on a thread of its own, which of a folder's recordings were imported and where to: the
// grid marks them. A new lookup replaces the one running.
class CImportLookup {
public:
    using Token = int;
    CImportLookup() = default;
    ~CImportLookup();
    CImportLookup(const CImportLookup&) = delete;
    CImportLookup& operator=(const CImportLookup&) = delete;

    // Looks the recordings up, each under its caller's token; `catalogPath` "" for the user's database.
    void Start(std::vector<std::pair<Token, CardRecording>> recordings, std::string catalogPath = {});
    void Stop();
    // The destinations found since the last call, by token ("" for a recording not imported).
    std::map<Token, std::string> TakeResults();
    bool Finished() const;

private:
    struct State {
        std::mutex lock;
        std::map<Token, std::string> results;
        std::atomic<bool> stop{false};
        std::atomic<bool> finished{false};
    };
    std::shared_ptr<State> state_;
    std::thread thread_;
};
