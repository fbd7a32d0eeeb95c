#include "Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <stdexcept>
#include <vector>

namespace quillpost::devservice {

namespace {

std::string toHex(const unsigned char *data, std::size_t size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0F]);
    }
    return out;
}

void fillRandom(unsigned char *data, std::size_t size)
{
    if (RAND_bytes(data, static_cast<int>(size)) != 1)
        throw std::runtime_error("no random bytes available");
}

} // namespace

std::string randomHex(std::size_t bytes)
{
    std::vector<unsigned char> data(bytes);
    fillRandom(data.data(), data.size());
    return toHex(data.data(), data.size());
}

std::string randomDigits(std::size_t digits)
{
    std::string out;
    while (out.size() < digits) {
        unsigned char byte = 0;
        fillRandom(&byte, 1);
        // 250 is the largest multiple of 10 below 256: rejecting the rest keeps digits uniform.
        if (byte < 250)
            out.push_back(static_cast<char>('0' + byte % 10));
    }
    return out;
}

std::string sha256Hex(std::string_view text)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return toHex(digest.data(), length);
}

bool constantTimeEquals(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace quillpost::devservice
