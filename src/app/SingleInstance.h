#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace quillpost {

// One Quillpost per user session. The first instance listens on a local socket in the user's
// runtime directory; a later start finds it there, asks it to bring its window forward and
// exits, the way clicking the icon of a running program does on other desktops.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // `name` identifies the socket; the program uses the default, tests a name of their own.
    explicit SingleInstance(const QString &name = QStringLiteral("quillpost"), QObject *parent = nullptr);

    // True when another instance was running and has been asked to show itself.
    bool notifyRunningInstance();
    // Starts listening; activationRequested() is emitted for every later start.
    bool listen();

signals:
    void activationRequested();

private:
    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace quillpost
