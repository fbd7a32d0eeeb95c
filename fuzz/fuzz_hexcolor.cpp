// Collaboration colours, any text: a colour comes out only for six characters (after blanks
// and one "#"), always opaque, and equal to the low 24 bits of the text read as a signed
// base-16 number.

#include "FuzzCheck.h"

#include "cards/HexColor.h"

#include <cstdint>
#include <cstring>

using namespace quillpost;

namespace {

void check(const QString &text)
{
    const std::optional<QColor> color = hexColor(text);
    if (!color)
        return;
    QString digits = text.trimmed();
    if (digits.startsWith(u'#'))
        digits.remove(0, 1);
    FUZZ_CHECK(digits.size() == 6);
    FUZZ_CHECK(color->isValid() && color->alpha() == 255);
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok, 16);
    FUZZ_CHECK(ok);
    FUZZ_CHECK((color->rgb() & 0xFFFFFF) == (quint64(value) & 0xFFFFFF));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    // The same bytes as UTF-16, which reaches every code unit, unpaired surrogates included.
    QString units(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(units.data(), data, size / 2 * 2);
    check(units);
    return 0;
}
