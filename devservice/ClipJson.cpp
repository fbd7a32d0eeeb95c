#include "ClipJson.h"

#include "TextRules.h"

#include <string_view>

namespace quillpost::devservice {

namespace {

// JSON text of a string. Stored texts are valid UTF-8 (every input is checked), so only quotes,
// backslashes and control characters need escapes.
void appendJsonString(std::string &out, std::string_view text)
{
    out.push_back('"');
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default: {
            static constexpr char hex[] = "0123456789abcdef";
            out.append("\\u00");
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        }
        }
    }
    out.append(text.substr(plain));
    out.push_back('"');
}

} // namespace

void appendClip(std::string &out, const ClipView &clip)
{
    auto text = [&out](const char *key, std::string_view value) {
        out.append(key);
        appendJsonString(out, value);
    };
    auto flag = [&out](const char *key, bool value) {
        out.append(key);
        out.append(value ? "true" : "false");
    };
    text("{\"id\":", clip.id);
    text(",\"title\":", clip.title);
    text(",\"rawText\":", clip.rawText);
    text(",\"optimizedText\":", clip.optimizedText);
    text(",\"status\":", clip.status);
    text(",\"optimizeStatus\":", clip.optimizeStatus);
    text(",\"updatedAt\":", isoTimestamp(clip.updatedMs));
    text(",\"deviceName\":", clip.deviceName);
    flag(",\"canEdit\":", clip.canEdit);
    flag(",\"favorite\":", clip.favorite);
    text(",\"collaborationName\":", clip.collaborationName);
    text(",\"collaborationColor\":", clip.collaborationColor);
    out.push_back('}');
}

std::string clipEnvelope(const ClipView &clip)
{
    std::string out = "{\"clip\":";
    appendClip(out, clip);
    out.push_back('}');
    return out;
}

} // namespace quillpost::devservice
