#pragma once

#include <QColor>
#include <QString>

#include <optional>

namespace quillpost {

// Reads a collaboration colour such as "#3366CC": blanks around the text and one leading "#"
// are ignored; exactly six characters must remain, read as one signed base-16 number whose low
// 24 bits are red, green and blue. Anything else (three-, four- or eight-digit forms, a second
// "#", stray characters) gives nothing. The result is always opaque.
std::optional<QColor> hexColor(const QString &text);

} // namespace quillpost
