#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct evp_md_ctx_st;

// SHA-256 of bytes fed in pieces (libcrypto's, which uses the processor's SHA instructions where
// it has them: hashing must keep up with a disk).
class CSha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    void Add(const void* bytes, std::size_t count);
    // The digest of everything added; the hash starts afresh afterwards.
    Digest Finish();

    // 64 lower-case hexadecimal digits, as sha256sum writes them.
    static std::string Hex(const Digest& digest);

private:
    struct ContextFree {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, ContextFree> context_;
};
