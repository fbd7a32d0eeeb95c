// Collaboration colours, any text: a colour comes out only for six characters (after blanks
// and one "#"), always opaque, and equal to the low 24 bits of the text read as a signed
// base-16 number.

#include "FuzzCheck.h"
#include "FuzzText.h"

#include "cards/HexColor.h"

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
    checkAsTexts(data, size, check);
    return 0;
}
