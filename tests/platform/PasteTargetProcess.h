#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTimer>

#include <optional>

// Drives the paste-target helper (PasteTargetMain.cpp) from a test or benchmark.
class PasteTargetProcess : public QObject
{
public:
    explicit PasteTargetProcess(QObject *parent = nullptr) : QObject(parent)
    {
        connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
            while (m_process.canReadLine()) {
                const QList<QByteArray> parts = m_process.readLine().trimmed().split(' ');
                const QString payload = QString::fromUtf8(QByteArray::fromBase64(parts.value(1)));
                if (parts.first() == "ready")
                    windowId = parts.value(1).toUInt();
                else if (parts.first() == "text")
                    text = payload;
                else if (parts.first() == "done")
                    m_answers << payload;
            }
        });
    }
    ~PasteTargetProcess() override { kill(); }

    // Starts the helper and waits until its window is shown.
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(QUILLPOST_PASTE_TARGET), {});
        pid = m_process.processId();
        return waitFor([this] { return windowId != 0; }, 10000);
    }

    // Waits until the helper has handled everything sent and received before.
    bool sync() { return ask("ping"); }
    bool hide() { return ask("hide"); }
    bool copy(const QString &text) { return ask("copy " + text.toUtf8().toBase64()); }
    std::optional<QString> clipboard() { return ask("clipboard") ? std::optional(m_answers.last()) : std::nullopt; }
    void kill() { m_process.kill(); m_process.waitForFinished(5000); }

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
    // Sends a command and waits for its "done"; the helper answers commands in order.
    bool ask(const QByteArray &command)
    {
        const qsizetype answered = m_answers.size();
        m_process.write(command + '\n');
        return waitFor([&] { return m_answers.size() > answered; }, 5000);
    }

    QProcess m_process;
    QStringList m_answers; // the payloads of every "done" so far
};
