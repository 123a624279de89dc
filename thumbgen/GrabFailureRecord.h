#pragma once
#include <string>

// Clips that crashed or hung a grab worker, remembered across runs so that one bad clip does not
// cost a crash or a 10-second wait at every start. One small file per clip in a folder of the
// user's cache, named by a hash of the clip path and holding the path, size and modification
// time it was made for: a clip that changes (a new size or time) is tried again.
class CGrabFailureRecord {
public:
    // `folder` "" means the default, "<user cache>/viewmere/failed".
    explicit CGrabFailureRecord(std::string folder = {});

    static std::string DefaultFolder();
    const std::string& Folder() const { return folder_; }

    // True when the clip failed before as it is now. A record made for another size or time is
    // removed.
    bool HasFailed(const std::string& clipPath) const;
    // Remembers the clip as it is now; false when the record cannot be written (nothing else
    // depends on it).
    bool Add(const std::string& clipPath, const std::string& reason) const;
    void Forget(const std::string& clipPath) const;

private:
    std::string RecordPath(const std::string& clipPath) const;
    std::string folder_;
};
