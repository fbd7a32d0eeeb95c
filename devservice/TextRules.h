#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Text handling of the local clip service. All texts are UTF-8; "characters" are Unicode code
// points.
namespace quillpost::devservice {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view text);

// Number of code points of a well-formed UTF-8 text.
std::size_t countCharacters(std::string_view text);

// True when the text is empty after removing white space (ASCII, no-break and ideographic
// spaces, line breaks) from both ends.
bool isBlank(std::string_view text);

// Removes white space from both ends.
std::string trimmed(std::string_view text);

// The "optimized" version of a raw text: trimmed, line breaks normalised to "\n", runs of blanks
// inside a line folded into one space, blanks next to a line break dropped, and a closing "。"
// (after Chinese or Japanese text) or "." (otherwise) added when the text does not already end
// a sentence.
std::string tidy(std::string_view raw);

// A title made from a text: its first 20 characters after folding all white space.
std::string titleFromText(std::string_view text);

// "2024-05-01T12:34:56.789Z" for milliseconds since the Unix epoch.
std::string isoTimestamp(std::int64_t msSinceEpoch);

// Decodes %XX escapes; false when an escape is malformed.
bool percentDecode(std::string_view encoded, std::string &decoded);

} // namespace quillpost::devservice
