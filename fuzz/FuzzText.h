#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

// Feeds one input to a check of a text twice: read as UTF-8, and the same bytes as UTF-16, which
// reaches every code unit, unpaired surrogates included.
template<typename Check>
void checkAsTexts(const std::uint8_t *data, std::size_t size, Check check)
{
    check(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    QString units(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(units.data(), data, size / 2 * 2);
    check(units);
}
