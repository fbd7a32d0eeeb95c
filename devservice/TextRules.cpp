#include "TextRules.h"

#include <cstdio>
#include <ctime>

namespace quillpost::devservice {

namespace {

// Decodes well-formed UTF-8 (callers validate first) into code points.
std::u32string decode(std::string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t cp = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F) : (lead & 0x07);
        for (int k = 1; k <= extra && i + k < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        out.push_back(cp);
        i += 1 + extra;
    }
    return out;
}

void append(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string encode(const std::u32string &cps)
{
    std::string out;
    out.reserve(cps.size());
    for (char32_t cp : cps)
        append(out, cp);
    return out;
}

bool isLineBreak(char32_t cp)
{
    return cp == U'\n' || cp == U'\r' || cp == 0x0B || cp == 0x0C || cp == 0x85 || cp == 0x2028 || cp == 0x2029;
}

// Blanks: white space within a line.
bool isBlankChar(char32_t cp)
{
    return cp == U' ' || cp == U'\t' || cp == 0xA0 || cp == 0x3000 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x202F
        || cp == 0x205F || cp == 0xFEFF;
}

bool isSpace(char32_t cp)
{
    return isBlankChar(cp) || isLineBreak(cp);
}

bool isCjk(char32_t cp)
{
    return (cp >= 0x3000 && cp <= 0x30FF) || (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF)
        || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFF00 && cp <= 0xFFEF) || (cp >= 0x20000 && cp <= 0x3FFFF);
}

bool isLatinLetter(char32_t cp)
{
    return (cp >= U'a' && cp <= U'z') || (cp >= U'A' && cp <= U'Z') || (cp >= 0xC0 && cp <= 0x24F && cp != 0xD7 && cp != 0xF7);
}

bool endsSentence(char32_t cp)
{
    static constexpr std::u32string_view enders = U".!?;:。．！？；：…～~";
    return enders.find(cp) != std::u32string_view::npos;
}

bool isClosingMark(char32_t cp)
{
    static constexpr std::u32string_view closers = U"\"')]}”’）」』】》〉";
    return closers.find(cp) != std::u32string_view::npos;
}

std::u32string trimmedCps(std::u32string_view cps)
{
    std::size_t begin = 0;
    std::size_t end = cps.size();
    while (begin < end && isSpace(cps[begin]))
        ++begin;
    while (end > begin && isSpace(cps[end - 1]))
        --end;
    return std::u32string(cps.substr(begin, end - begin));
}

} // namespace

bool isValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        char32_t cp;
        char32_t minimum;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, cp = c & 0x1F, minimum = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, cp = c & 0x0F, minimum = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, cp = c & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += 1 + extra;
    }
    return true;
}

std::size_t countCharacters(std::string_view text)
{
    std::size_t count = 0;
    for (char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

bool isBlank(std::string_view text)
{
    return trimmedCps(decode(text)).empty();
}

std::string trimmed(std::string_view text)
{
    return encode(trimmedCps(decode(text)));
}

std::string tidy(std::string_view raw)
{
    const std::u32string source = trimmedCps(decode(raw));
    // Fold each run of white space: one containing a line break becomes that many line breaks
    // (a "\r\n" pair counts once), any other run one space.
    std::u32string folded;
    folded.reserve(source.size() + 1);
    for (std::size_t i = 0; i < source.size();) {
        if (!isSpace(source[i])) {
            folded.push_back(source[i++]);
            continue;
        }
        std::size_t breaks = 0;
        while (i < source.size() && isSpace(source[i])) {
            if (isLineBreak(source[i]) && !(source[i] == U'\n' && i > 0 && source[i - 1] == U'\r'))
                ++breaks;
            ++i;
        }
        if (breaks == 0)
            folded.push_back(U' ');
        else
            folded.append(breaks, U'\n');
    }
    if (folded.empty())
        return {};

    // Where does the last sentence end? Skip closing quotes and brackets.
    std::size_t last = folded.size();
    while (last > 0 && isClosingMark(folded[last - 1]))
        --last;
    if (last > 0 && endsSentence(folded[last - 1]))
        return encode(folded);

    // Chinese or Japanese script before the end gets the full-width stop.
    bool cjk = false;
    for (std::size_t i = folded.size(); i-- > 0;) {
        if (isCjk(folded[i]) && !isClosingMark(folded[i])) {
            cjk = true;
            break;
        }
        if (isLatinLetter(folded[i]))
            break;
    }
    folded.push_back(cjk ? U'。' : U'.');
    return encode(folded);
}

std::string titleFromText(std::string_view text)
{
    const std::u32string source = trimmedCps(decode(text));
    std::u32string folded;
    for (std::size_t i = 0; i < source.size() && folded.size() < 20; ++i) {
        if (!isSpace(source[i]))
            folded.push_back(source[i]);
        else if (folded.empty() || folded.back() != U' ')
            folded.push_back(U' ');
    }
    return encode(trimmedCps(folded));
}

std::string isoTimestamp(std::int64_t msSinceEpoch)
{
    const std::time_t seconds = static_cast<std::time_t>(msSinceEpoch / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(msSinceEpoch % 1000));
    return buffer;
}

bool percentDecode(std::string_view encoded, std::string &decoded)
{
    decoded.clear();
    decoded.reserve(encoded.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            decoded.push_back(encoded[i]);
            continue;
        }
        if (i + 2 >= encoded.size())
            return false;
        const int high = hex(encoded[i + 1]);
        const int low = hex(encoded[i + 2]);
        if (high < 0 || low < 0)
            return false;
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

} // namespace quillpost::devservice
