#pragma once

#include <QString>

#include <optional>

namespace quillpost {

// The wait time in seconds that a service error text asks for: the first run of ASCII digits
// among the text's runs of characters with a Unicode numeric type, provided the text contains
// "秒". Runs holding other numerals (full-width, Arabic-Indic, CJK such as 万, ...) or
// exceeding 64 bits do not count.
std::optional<qint64> waitSecondsIn(const QString &text);

} // namespace quillpost
