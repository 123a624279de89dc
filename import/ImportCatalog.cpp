#include "import/ImportCatalog.h"

#include "platform/UserDirectories.h"

#include <sqlite3.h>

#include <cstdlib>

#include <unistd.h>

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS recordings("
    " id INTEGER PRIMARY KEY,"
    " recorded TEXT NOT NULL, size INTEGER NOT NULL, ends_sha256 TEXT NOT NULL,"
    " destination BLOB NOT NULL, sha256 TEXT NOT NULL, parts INTEGER NOT NULL,"
    " source BLOB NOT NULL, imported_at INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS recordings_identity ON recordings(size, recorded, ends_sha256);"
    "CREATE TABLE IF NOT EXISTS pending(path BLOB PRIMARY KEY);";

// How long a change waits for another program that is writing to the database.
constexpr int kBusyMilliseconds = 10000;

// Paths are the file system's bytes, not necessarily UTF-8: they are kept as blobs.
void BindBytes(sqlite3_stmt* statement, int index, const std::string& bytes)
{
    sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt* statement, int column)
{
    const void* bytes = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return bytes == nullptr ? std::string() : std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

}  // namespace

void CImportCatalog::DatabaseClose::operator()(sqlite3* database) const
{
    sqlite3_close_v2(database);
}

void CImportCatalog::StatementFinalize::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}

std::string CImportCatalog::DefaultPath()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string folder;
    if (data != nullptr && data[0] == '/')
        folder = data;
    else if (const std::string home = platform::HomeDirectory(); !home.empty())
        folder = home + "/.local/share";
    return folder.empty() ? std::string() : folder + "/viewmere/imports.sqlite";
}

std::unique_ptr<CImportCatalog> CImportCatalog::Open(const std::string& path, std::string& problem)
{
    const std::size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos) {
        problem = "no folder for the database of imports (no home folder)";
        return nullptr;
    }
    if (slash > 0 && !platform::MakeDirectories(path.substr(0, slash), 0700)) {
        problem = "its folder cannot be made";
        return nullptr;
    }
    std::unique_ptr<CImportCatalog> catalog(new CImportCatalog);
    sqlite3* database = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &database,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    catalog->database_.reset(database);
    if (opened != SQLITE_OK) {
        problem = database != nullptr ? sqlite3_errmsg(database) : sqlite3_errstr(opened);
        return nullptr;
    }
    sqlite3_busy_timeout(database, kBusyMilliseconds);
    if (!catalog->Execute(kSchema)) {
        problem = catalog->problem_;
        return nullptr;
    }
    return catalog;
}

std::unique_ptr<CImportCatalog> CImportCatalog::OpenForLookup(const std::string& path, std::string& problem)
{
    if (path.empty() || access(path.c_str(), F_OK) != 0)
        return nullptr;
    std::unique_ptr<CImportCatalog> catalog(new CImportCatalog);
    sqlite3* database = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr);
    catalog->database_.reset(database);
    if (opened != SQLITE_OK) {
        problem = database != nullptr ? sqlite3_errmsg(database) : sqlite3_errstr(opened);
        return nullptr;
    }
    sqlite3_busy_timeout(database, kBusyMilliseconds);
    return catalog;
}

CImportCatalog::~CImportCatalog() = default;

void CImportCatalog::Fail(const char* what)
{
    problem_ = std::string(what) + ": " + sqlite3_errmsg(database_.get());
}

bool CImportCatalog::Execute(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(database_.get(), sql, nullptr, nullptr, &error) == SQLITE_OK)
        return true;
    problem_ = error != nullptr ? error : "the database cannot be changed";
    sqlite3_free(error);
    return false;
}

CImportCatalog::Statement CImportCatalog::Prepare(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database_.get(), sql, -1, &statement, nullptr) != SQLITE_OK)
        Fail("a query failed");
    return Statement(statement);
}

bool CImportCatalog::Step(sqlite3_stmt* statement)
{
    if (statement == nullptr)
        return false;
    const int result = sqlite3_step(statement);
    if (result == SQLITE_DONE || result == SQLITE_ROW)
        return true;
    Fail("the database cannot be changed");
    return false;
}

std::vector<ImportRecord> CImportCatalog::Find(const std::string& recorded, std::uint64_t size,
                                               const std::string& endsHash)
{
    std::vector<ImportRecord> records;
    Statement query = Prepare(
        "SELECT destination, sha256, parts, source, imported_at FROM recordings"
        " WHERE size = ?1 AND recorded = ?2 AND ends_sha256 = ?3 ORDER BY id DESC");
    if (!query)
        return records;
    sqlite3_bind_int64(query.get(), 1, static_cast<sqlite3_int64>(size));
    BindText(query.get(), 2, recorded);
    BindText(query.get(), 3, endsHash);
    while (sqlite3_step(query.get()) == SQLITE_ROW) {
        ImportRecord record;
        record.recorded = recorded;
        record.size = size;
        record.endsHash = endsHash;
        record.destination = ColumnBytes(query.get(), 0);
        record.sha256 = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 1));
        record.parts = sqlite3_column_int(query.get(), 2);
        record.source = ColumnBytes(query.get(), 3);
        record.importedAt = sqlite3_column_int64(query.get(), 4);
        records.push_back(std::move(record));
    }
    return records;
}

bool CImportCatalog::MayHold(const std::string& recorded, std::uint64_t size)
{
    Statement query = Prepare("SELECT 1 FROM recordings WHERE size = ?1 AND recorded = ?2 LIMIT 1");
    if (!query)
        return true;  // unknown: the ends are read and looked up
    sqlite3_bind_int64(query.get(), 1, static_cast<sqlite3_int64>(size));
    BindText(query.get(), 2, recorded);
    return sqlite3_step(query.get()) == SQLITE_ROW;
}

bool CImportCatalog::Add(const ImportRecord& record)
{
    Statement insert = Prepare(
        "INSERT INTO recordings(recorded, size, ends_sha256, destination, sha256, parts, source, imported_at)"
        " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    if (!insert)
        return false;
    BindText(insert.get(), 1, record.recorded);
    sqlite3_bind_int64(insert.get(), 2, static_cast<sqlite3_int64>(record.size));
    BindText(insert.get(), 3, record.endsHash);
    BindBytes(insert.get(), 4, record.destination);
    BindText(insert.get(), 5, record.sha256);
    sqlite3_bind_int(insert.get(), 6, record.parts);
    BindBytes(insert.get(), 7, record.source);
    sqlite3_bind_int64(insert.get(), 8, record.importedAt);
    return Step(insert.get());
}

bool CImportCatalog::AddPending(const std::string& path)
{
    Statement insert = Prepare("INSERT OR IGNORE INTO pending(path) VALUES(?1)");
    if (!insert)
        return false;
    BindBytes(insert.get(), 1, path);
    return Step(insert.get());
}

bool CImportCatalog::RemovePending(const std::string& path)
{
    Statement remove = Prepare("DELETE FROM pending WHERE path = ?1");
    if (!remove)
        return false;
    BindBytes(remove.get(), 1, path);
    return Step(remove.get());
}

std::vector<std::string> CImportCatalog::Pending()
{
    std::vector<std::string> paths;
    Statement query = Prepare("SELECT path FROM pending");
    while (query && sqlite3_step(query.get()) == SQLITE_ROW)
        paths.push_back(ColumnBytes(query.get(), 0));
    return paths;
}
