#include "import/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

void CSha256::ContextFree::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

CSha256::CSha256() : context_(EVP_MD_CTX_new())
{
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
}

CSha256::~CSha256() = default;

void CSha256::Add(const void* bytes, std::size_t count)
{
    if (count != 0)
        EVP_DigestUpdate(context_.get(), bytes, count);
}

CSha256::Digest CSha256::Finish()
{
    Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_.get(), digest.data(), &length);
    EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr);
    return digest;
}

std::string CSha256::Hex(const Digest& digest)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (const std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}
