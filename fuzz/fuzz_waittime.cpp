// The wait time in a service error text, any text: a time comes out only when the text has
// "秒", it is never negative, and its decimal digits stand in the text.

#include "FuzzCheck.h"
#include "FuzzText.h"

#include "signin/WaitTime.h"

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
    checkAsTexts(data, size, check);
    return 0;
}
