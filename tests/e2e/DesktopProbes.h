#pragma once

// What the desktop of the headless session says about windows and the keyring, read the way
// another program reads it (the keyring: storedToken() of support/StoreAnswers.h).

#include "platform/secret/KeychainStore.h"
#include "support/StoreAnswers.h"

#include <QProcess>

#include <optional>
#include <utility>

namespace quillpost::test {

// What the window manager says of a window, as xprop prints it.
inline QString windowManagerState(quint64 window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window),
                                          QStringLiteral("_NET_WM_STATE"), QStringLiteral("_NET_WM_DESKTOP")});
    xprop.waitForFinished();
    return QString::fromUtf8(xprop.readAllStandardOutput());
}

// Above other windows, and on every desktop (said either way a window manager may say it).
inline std::pair<bool, bool> pinState(quint64 window)
{
    const QString state = windowManagerState(window);
    return {state.contains(QLatin1String("_NET_WM_STATE_ABOVE")),
            state.contains(QLatin1String("_NET_WM_STATE_STICKY")) || state.contains(QLatin1String("4294967295"))};
}

// The windows that a window list of the root window names, in its order: the one with the focus
// (_NET_ACTIVE_WINDOW), or all from bottom to top (_NET_CLIENT_LIST_STACKING).
inline QList<quint64> rootWindows(const char *property)
{
    QProcess xprop; // "NAME(WINDOW): window id # 0x400007, 0x600003"
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QString::fromLatin1(property)});
    xprop.waitForFinished();
    const QByteArray output = xprop.readAllStandardOutput();
    QList<quint64> windows;
    for (const QByteArray &id : output.mid(output.indexOf('#') + 1).split(','))
        windows << id.trimmed().toULongLong(nullptr, 16);
    return windows;
}

// The window of another process once the window manager manages it, or 0 until then.
inline quint64 windowOfProcess(qint64 pid)
{
    QProcess list; // wmctrl lists the managed windows: id, desktop, process, host, title
    list.start(QStringLiteral("wmctrl"), {QStringLiteral("-l"), QStringLiteral("-p")});
    list.waitForFinished();
    for (const QByteArray &line : list.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 2 && fields.at(2).toLongLong() == pid)
            return fields.at(0).toULongLong(nullptr, 16);
    }
    return 0;
}

} // namespace quillpost::test
