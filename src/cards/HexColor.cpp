#include "cards/HexColor.h"

namespace quillpost {

namespace {

// Only ASCII digits count: QChar's digit tests would also accept other scripts' digits.
int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

std::optional<QColor> hexColor(const QString &text)
{
    QString digits = text.trimmed();
    if (digits.startsWith(u'#'))
        digits.remove(0, 1);
    if (digits.size() != 6)
        return std::nullopt;

    // The sign, when there is one, takes one of the six places.
    qsizetype index = 0;
    bool negative = false;
    if (digits.front() == u'+' || digits.front() == u'-') {
        negative = digits.front() == u'-';
        index = 1;
    }
    qint64 value = 0;
    for (; index < digits.size(); ++index) {
        const int digit = hexDigitValue(digits.at(index));
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + digit;
    }
    if (negative)
        value = -value;

    // Masking a negative value keeps the low bits of its two's complement.
    const quint32 rgb = quint32(value & 0xFFFFFF);
    return QColor::fromRgb(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
}

} // namespace quillpost
