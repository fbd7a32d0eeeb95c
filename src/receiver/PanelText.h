#pragma once

#include <QString>

namespace quillpost::panel {

// The scope choices that every clip list has.
inline const QString allScope = QStringLiteral("全部");
inline const QString personalScope = QStringLiteral("个人");

// Texts shown where "&" marks a mnemonic (button and menu titles) show it as it is.
inline QString escapeMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace quillpost::panel
