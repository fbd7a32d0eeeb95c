#pragma once

#include <QColor>

namespace quillpost {

// The desktop's named colours that the screens use for status lines and secondary text.
// Linux has no system palette entries for these, so the values of the light appearance are
// fixed here once.
namespace SystemColors {

inline QColor red() { return QColor(255, 59, 48); }
inline QColor orange() { return QColor(255, 149, 0); }
inline QColor green() { return QColor(40, 205, 65); }
inline QColor label() { return QColor(0, 0, 0, 217); }
inline QColor secondaryLabel() { return QColor(0, 0, 0, 128); }
inline QColor tertiaryLabel() { return QColor(0, 0, 0, 66); }

// A colour given as red, green, blue and alpha components from 0 to 1.
inline QColor rgba(double red, double green, double blue, double alpha = 1.0)
{
    return QColor::fromRgbF(float(red), float(green), float(blue), float(alpha));
}

} // namespace SystemColors

} // namespace quillpost
