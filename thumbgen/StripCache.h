#pragma once
#include "thumbgen/StripMaker.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

// The frames of one strip made so far, by index.
struct Strip {
    double duration = 0;  // of the recording
    std::vector<std::shared_ptr<const StripFrame>> frames;  // one place a frame, empty where none was made

    explicit Strip(int count = 0) : frames(static_cast<std::size_t>(std::max(count, 0))) {}
    int Count() const { return static_cast<int>(frames.size()); }
    int Made() const;
    std::size_t Bytes() const;
    // Takes a frame in its place; false for an index outside the strip.
    bool Put(StripFrame frame);
    // The index of the made frame nearest `index`, or -1 when none is made.
    int NearestMade(int index) const;
};

// The identity of a recording's strip: each file's path, size and modification time, so a clip
// that changed gets a strip of its own. "" when a file cannot be examined.
std::string StripKeyOf(const std::vector<std::string>& files);

// Strips kept on disk, a file a recording named by a hash of its identity, under
// "<user cache>/viewmere/strips" (or a folder given). A file holds the identity it was made for,
// so a file of another recording (a hash shared) or of a clip that changed is never taken.
// Files are written whole through a temporary name, never through a link planted at their
// name.
class CStripFiles {
public:
    explicit CStripFiles(std::string folder = {});
    static std::string DefaultFolder();
    const std::string& Folder() const { return folder_; }
    std::string PathOf(const std::string& key) const;

    // False when it cannot be written (the strip is then made again at the next visit).
    bool Save(const std::string& key, const Strip& strip) const;
    // Null when there is no file for the recording, or it is damaged or another's.
    std::shared_ptr<Strip> Load(const std::string& key) const;

    // The file's bytes for a strip, and back; null for bytes that are not a strip of `key`.
    static std::string Encode(const std::string& key, const Strip& strip);
    static std::shared_ptr<Strip> Decode(std::span<const std::uint8_t> bytes, const std::string& key);

    static constexpr std::size_t kMaxFileBytes = 32u * 1024 * 1024;

private:
    std::string folder_;
};

// The strips in memory, by identity: at most `capacity` of them holding at most `byteCapacity`
// bytes of frames, the least recently used given up first; the one used last always stays, as
// it is being skimmed. UI thread only.
class CStripCache {
public:
    CStripCache(std::size_t capacity, std::size_t byteCapacity) : capacity_(capacity), byteCapacity_(byteCapacity) {}

    // The strip kept for the identity (marked as used), or null.
    std::shared_ptr<Strip> Find(const std::string& key);
    // Keeps a strip (marked as used), replacing one of the same identity.
    void Keep(const std::string& key, std::shared_ptr<Strip> strip);
    // A kept strip grew: counts its bytes again, giving up the oldest beyond the capacities.
    void Grew(const std::string& key);
    void Clear();
    std::size_t Size() const { return order_.size(); }
    std::size_t Bytes() const { return bytes_; }

    // A few screens of skimmed clips: 16 frames of about 15 KB each make a strip of 250 KB.
    static constexpr std::size_t kDefaultCapacity = 200;
    static constexpr std::size_t kDefaultByteCapacity = 48u * 1024 * 1024;

private:
    struct Kept {
        std::string key;
        std::shared_ptr<Strip> strip;
        std::size_t bytes = 0;
    };
    void Trim();
    std::size_t capacity_;
    std::size_t byteCapacity_;
    std::size_t bytes_ = 0;
    std::list<Kept> order_;  // most recently used first
    std::unordered_map<std::string, std::list<Kept>::iterator> where_;
};
