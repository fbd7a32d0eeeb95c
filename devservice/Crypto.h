#pragma once

#include <string>
#include <string_view>

namespace quillpost::devservice {

// `bytes` bytes from the system's cryptographic random source, as lower-case hex.
std::string randomHex(std::size_t bytes);

// A uniformly chosen decimal code of `digits` digits (leading zeros kept).
std::string randomDigits(std::size_t digits);

// SHA-256 of `text` as lower-case hex. Tokens are stored only in this form.
std::string sha256Hex(std::string_view text);

// Compares two texts in time that depends only on their lengths.
bool constantTimeEquals(std::string_view a, std::string_view b);

} // namespace quillpost::devservice
