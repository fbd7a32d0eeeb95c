#include "signin/WaitTime.h"

#include <QList>

#include <unicode/uchar.h>

#include <limits>

namespace quillpost {

std::optional<qint64> waitSecondsIn(const QString &text)
{
    if (!text.contains(QChar(0x79D2))) // 秒
        return std::nullopt;

    // Walk the code points (not UTF-16 units, so that numerals outside the BMP stay whole) and
    // return the first maximal run of numeric characters that reads as a 64-bit decimal number.
    // "Numeric" is the Unicode numeric type, which CJK numerals such as 万 have as well: "1万" is
    // one run, and not a number of seconds.
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    const QList<uint> codePoints = text.toUcs4();
    bool inRun = false;
    bool convertible = false;
    qint64 value = 0;
    for (qsizetype i = 0; i <= codePoints.size(); ++i) {
        const bool numeric = i < codePoints.size()
            && u_getIntPropertyValue(UChar32(codePoints[i]), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
        if (!numeric) {
            if (inRun && convertible)
                return value;
            inRun = false;
            continue;
        }
        if (!inRun) {
            inRun = true;
            convertible = true;
            value = 0;
        }
        if (!convertible)
            continue;
        const uint c = codePoints[i];
        if (c < '0' || c > '9') {
            convertible = false;
            continue;
        }
        const int digit = int(c - '0');
        if (value > (max - digit) / 10) {
            convertible = false;
            continue;
        }
        value = value * 10 + digit;
    }
    return std::nullopt;
}

} // namespace quillpost
