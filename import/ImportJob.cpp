#include "import/ImportJob.h"

#include "import/ImportCatalog.h"
#include "log/EventLog.h"

CImportJob::CImportJob(ImportRequest request)
{
    thread_ = std::thread(&CImportJob::Run, this, std::move(request));
}

CImportJob::~CImportJob()
{
    Cancel();
    Wait();
}

void CImportJob::Run(ImportRequest request)
{
    ImportReport report = RunImport(
        request,
        [this](const ImportProgress& progress) {
            std::lock_guard<std::mutex> guard(lock_);
            if (progress_.checking && !progress.checking)
                copyStart_ = std::chrono::steady_clock::now();
            progress_ = progress;
        },
        cancel_);
    {
        std::lock_guard<std::mutex> guard(lock_);
        report_ = std::move(report);
    }
    finished_.store(true);
}

ImportProgress CImportJob::Progress() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return progress_;
}

double CImportJob::CopySeconds() const
{
    std::lock_guard<std::mutex> guard(lock_);
    if (progress_.checking)
        return 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - copyStart_).count();
}

std::optional<ImportReport> CImportJob::TakeReport()
{
    if (!finished_.load())
        return std::nullopt;
    std::lock_guard<std::mutex> guard(lock_);
    std::optional<ImportReport> report = std::move(report_);
    report_.reset();
    return report;
}

void CImportJob::Wait()
{
    if (thread_.joinable())
        thread_.join();
}

CImportLookup::~CImportLookup()
{
    Stop();
}

void CImportLookup::Stop()
{
    if (state_)
        state_->stop.store(true);
    if (thread_.joinable())
        thread_.join();
    state_.reset();
}

void CImportLookup::Start(std::vector<std::pair<Token, CardRecording>> recordings, std::string catalogPath)
{
    Stop();
    state_ = std::make_shared<State>();
    thread_ = std::thread([state = state_, recordings = std::move(recordings), catalogPath = std::move(catalogPath)]() mutable {
        std::string problem;
        const std::string path = catalogPath.empty() ? CImportCatalog::DefaultPath() : catalogPath;
        std::unique_ptr<CImportCatalog> catalog = CImportCatalog::OpenForLookup(path, problem);
        if (!catalog && !problem.empty())
            LogEvent("Imported recordings cannot be looked up: %s", problem.c_str());
        for (auto& [token, recording] : recordings) {
            if (!catalog || state->stop.load())
                break;
            const std::optional<ImportRecord> record = FindImport(*catalog, recording);
            std::lock_guard<std::mutex> guard(state->lock);
            state->results[token] = record ? record->destination : std::string();
        }
        state->finished.store(true);
    });
}

std::map<CImportLookup::Token, std::string> CImportLookup::TakeResults()
{
    std::map<Token, std::string> taken;
    if (state_) {
        std::lock_guard<std::mutex> guard(state_->lock);
        taken.swap(state_->results);
    }
    return taken;
}

bool CImportLookup::Finished() const
{
    return !state_ || state_->finished.load();
}
