#pragma once

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

// Drives the paste-target helper (PasteTargetMain.cpp) from a test or benchmark.
class PasteTargetProcess : public QObject
{
public:
    explicit PasteTargetProcess(QObject *parent = nullptr) : QObject(parent)
    {
        connect(&m_process, &QProcess::readyReadStandardOutput, this, &PasteTargetProcess::readLines);
    }
    ~PasteTargetProcess() override
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Starts the helper and waits until its window is shown.
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(QUILLPOST_PASTE_TARGET), {});
        return waitFor([this] { return windowId != 0; }, 10000);
    }

    void send(const QByteArray &command) { m_process.write(command + '\n'); }

    // Waits until the helper has handled everything sent and received before.
    bool sync()
    {
        const int before = m_pongs;
        send("ping");
        return waitFor([&] { return m_pongs > before; }, 5000);
    }

    bool hide()
    {
        send("hide");
        return waitFor([this] { return m_hidden; }, 5000);
    }

    std::optional<QString> clipboard()
    {
        m_clipboard.reset();
        send("clipboard");
        if (!waitFor([this] { return m_clipboard.has_value(); }, 5000))
            return std::nullopt;
        return m_clipboard;
    }

    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Runs the event loop until `condition` holds, waking at every event (QTest::qWait would
    // sleep in 10 ms steps without serving events, which delays the clipboard transfer).
    template<typename Condition>
    static bool waitFor(Condition condition, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        QTimer wake; // also re-checks conditions that no event announces
        wake.start(20);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    quint32 windowId = 0;
    qint64 pid = 0;
    QString text; // the field's text as last reported

private:
    void readLines()
    {
        while (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            const QList<QByteArray> parts = line.split(' ');
            if (parts.value(0) == "ready" && parts.size() == 3) {
                windowId = parts.at(1).toUInt();
                pid = parts.at(2).toLongLong();
            } else if (parts.value(0) == "text") {
                text = QString::fromUtf8(QByteArray::fromBase64(parts.value(1)));
            } else if (parts.value(0) == "clipboard") {
                m_clipboard = QString::fromUtf8(QByteArray::fromBase64(parts.value(1)));
            } else if (parts.value(0) == "pong") {
                ++m_pongs;
            } else if (parts.value(0) == "hidden") {
                m_hidden = true;
            }
        }
    }

    QProcess m_process;
    int m_pongs = 0;
    bool m_hidden = false;
    std::optional<QString> m_clipboard;
};
