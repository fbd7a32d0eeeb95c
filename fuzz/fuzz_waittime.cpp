// The wait time in a service error text, any text: a time comes out only when the text has
// "秒", it is never negative, and its decimal digits stand in the text.

#include "FuzzCheck.h"

#include "signin/WaitTime.h"

#include <cstdint>
#include <cstring>

using namespace quillpost;

namespace {

void check(const QString &text)
{
    const std::optional<qint64> seconds = waitSecondsIn(text);
    if (!seconds)
        return;
    FUZZ_CHECK(text.contains(QChar(0x79D2)));
    FUZZ_CHECK(*seconds >= 0);
    FUZZ_CHECK(text.contains(QString::number(*seconds)));
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
