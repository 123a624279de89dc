#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// What is known of one imported recording.
struct ImportRecord {
    // Its identity: the camera's recording time ("" when its stream has none), its size, and the
    // SHA-256 of its first and last MiB. The same on any mount point and in any copy of the card.
    std::string recorded;
    std::uint64_t size = 0;
    std::string endsHash;
    std::string destination;  // the imported file
    std::string sha256;       // of the whole file
    int parts = 1;
    std::string source;       // the first file it was imported from
    std::int64_t importedAt = 0;  // Unix seconds
};

// The local database of imported recordings (SQLite), so that none is imported twice, and of
// the temporary files an import is writing, so that one left by a power cut is found and removed
// by the next import. Two programs may use it at once: each change is one transaction, and a
// writer waits for the other.
class CImportCatalog {
public:
    // "${XDG_DATA_HOME:-~/.local/share}/viewmere/imports.sqlite"; "" without a home.
    static std::string DefaultPath();
    // Opens the database, creating it and its folder when missing; null with the reason in
    // `problem` when it cannot be opened or is not this program's database.
    static std::unique_ptr<CImportCatalog> Open(const std::string& path, std::string& problem);
    // Opens the database to look things up only: null, with `problem` left empty, when there
    // is none yet (nothing was ever imported), so that looking creates nothing.
    static std::unique_ptr<CImportCatalog> OpenForLookup(const std::string& path, std::string& problem);
    ~CImportCatalog();

    // The records of recordings with this identity, newest first.
    std::vector<ImportRecord> Find(const std::string& recorded, std::uint64_t size, const std::string& endsHash);
    // Whether any record has this size and time: when none does, the recording's ends need not
    // be read to know it was never imported.
    bool MayHold(const std::string& recorded, std::uint64_t size);
    bool Add(const ImportRecord& record);

    // Temporary files being written, by path.
    bool AddPending(const std::string& path);
    bool RemovePending(const std::string& path);
    std::vector<std::string> Pending();

    const std::string& LastProblem() const { return problem_; }

private:
    struct DatabaseClose {
        void operator()(sqlite3* database) const;
    };
    struct StatementFinalize {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalize>;

    CImportCatalog() = default;
    Statement Prepare(const char* sql);
    bool Execute(const char* sql);
    bool Step(sqlite3_stmt* statement);
    void Fail(const char* what);

    std::unique_ptr<sqlite3, DatabaseClose> database_;
    std::string problem_;
};
