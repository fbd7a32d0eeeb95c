#pragma once

// What the delivery tests of every desktop share (X11, wlroots, KWin): the real seams of the
// session, a stand-in for our own panel, the activations the desktop reported, and the scenarios
// every desktop must pass. Each desktop's test says how a target's window closes and how another
// program copies there.
#include "PasteTargetProcess.h"

#include "delivery/DeliveryStatus.h"
#include "delivery/PasteDelivery.h"
#include "widgets/SafePlainTextEdit.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace quillpost::test {

template<typename Desktop>
class DeliveryFixture : public QObject
{
protected:
    // `targetId`: the identifier the desktop reports for the paste-target helper's windows.
    explicit DeliveryFixture(QString targetId) : m_targetId(std::move(targetId)) {}

    // The target's window goes away while its process may live on.
    virtual bool closeWindow(PasteTargetProcess &target) = 0;
    // Another program puts `text` on the clipboard; what the clipboard holds, as another program
    // reads it.
    virtual bool copyElsewhere(PasteTargetProcess &target, const QString &text) = 0;
    virtual std::optional<QString> clipboardElsewhere(PasteTargetProcess &target) = 0;
    // Our window gets the focus when it is mapped anew.
    virtual void raisePanel()
    {
        m_panel.hide();
        m_panel.show();
    }

    // Activations that earlier tests caused are not looked at again.
    void skipEarlierActivations() { m_seen = m_activations.size(); }

    // With our own window in front, as when the user clicks a paste button, the exact text
    // reaches the window worked in last; our window never becomes the target and never gets
    // keys; keystrokes for a closed window or one not in front type nothing anywhere. Back in
    // our window, the text pastes there at once (Qt reads it on the GUI thread that serves it).
    void checkDeliversOnlyIntoTheTarget()
    {
        PasteDelivery delivery(m_platform.platform());
        PasteTargetProcess closed, target;
        QVERIFY(closed.start());
        const RunningApplication closedApp = activationOf(m_targetId);
        QVERIFY(target.start());
        const RunningApplication seen = activationOf(m_targetId, closedApp.windowId);
        QVERIFY(seen.windowId != 0 && closedApp.windowId != 0);
        QVERIFY(closeWindow(closed));
        QVERIFY(PasteTargetProcess::waitFor([&] { return m_platform.workspace()->isTerminated(closedApp); }, 5000));
        QVERIFY(!m_platform.workspace()->isTerminated(seen));
        QVERIFY(activatePanel());
        QCOMPARE(delivery.lastExternalApp(), std::optional(seen));

        const QString text = QStringLiteral("\n  第一行：你好\n第二行，世界！\n\n末尾\n");
        QVERIFY(delivery.paste(text));
        QVERIFY(PasteTargetProcess::waitFor([&] { return target.text == text; }, 5000));

        QSignalSpy finished(m_platform.keystroke(), &Keystroke::finished);
        m_platform.keystroke()->postPaste(closedApp, PasteChord::ControlV);
        QVERIFY(activatePanel());
        m_platform.keystroke()->postPaste(seen, PasteChord::ControlV); // not in front now
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 5000);
        for (const QList<QVariant> &outcome : std::as_const(finished))
            QCOMPARE(outcome.at(1).value<KeystrokeResult>(), KeystrokeResult::NotFocused);
        QVERIFY(target.sync());
        QCOMPARE(target.text, text);
        QCOMPARE(m_panel.toPlainText(), QString());

        QVERIFY(PasteTargetProcess::waitFor([] { return QGuiApplication::clipboard()->mimeData()->hasText(); }, 5000));
        QElapsedTimer clock;
        clock.start();
        m_panel.paste();
        QCOMPARE(m_panel.toPlainText(), text);
        QVERIFY(clock.elapsed() < 200);
        m_panel.clear();
    }

    // A job that finds its target's window gone, or another program's text on the clipboard,
    // types nothing, says why and leaves the newer text there. Targets close by quitting: Qt
    // 6.4's Wayland client now and then aborts while it hides a window (an assertion in
    // wl_proxy_unref, seen on KWin), which is the helper's fault, not ours.
    static void thingsThatChange()
    {
        QTest::addColumn<bool>("copy");
        QTest::addColumn<QString>("message");
        QTest::newRow("target closed before the keystroke") << false << notTypedStatus(KeystrokeResult::NotFocused, {})->text;
        QTest::newRow("another program copies") << true << notTypedStatus(KeystrokeResult::Stopped, {})->text;
    }
    void checkTypesNothingWhenThingsChanged()
    {
        QFETCH(bool, copy);
        PasteDeliveryOptions options;
        options.keystrokeDelay = std::chrono::seconds(4); // time enough to act right after the paste, also on a loaded machine
        PasteDelivery delivery(m_platform.platform(), options);
        QSignalSpy status(&delivery, &PasteDelivery::statusChanged);
        PasteTargetProcess target;
        QVERIFY(target.start());
        const RunningApplication seen = activationOf(m_targetId);
        QVERIFY(activatePanel());
        QCOMPARE(delivery.lastExternalApp(), std::optional(seen));

        QVERIFY(delivery.paste(QStringLiteral("要输入的")));
        if (copy)
            QVERIFY(copyElsewhere(target, QStringLiteral("别人的")));
        else
            target.kill();
        QVERIFY(PasteTargetProcess::waitFor([&] { return !status.isEmpty(); }, 10000));
        QTEST(status.first().at(0).toString(), "message");
        QVERIFY(!copy || target.sync()); // a closed target is gone with its process
        QVERIFY(target.text.isEmpty());
        QCOMPARE(m_panel.toPlainText(), QString());
        if (copy)
            QCOMPARE(clipboardElsewhere(target), std::optional<QString>(QStringLiteral("别人的")));
    }

    // A terminal (`terminal` and its options before the command, reported as `identifier`) gets
    // the chord it pastes with; line breaks arrive as typed lines.
    void checkTerminalGetsItsChord(const QString &terminal, QStringList options, const QString &identifier)
    {
        QTemporaryDir directory;
        const QString received = directory.filePath(QStringLiteral("received"));
        PasteDelivery delivery(m_platform.platform());
        QProcess process;
        process.start(terminal, options << QStringLiteral("sh") << QStringLiteral("-c") << QStringLiteral("cat > \"$0\"") << received);
        QVERIFY(activationOf(identifier).windowId != 0);
        QVERIFY(activatePanel());

        const QString text = QStringLiteral("echo 你好\nsecond line\n");
        QVERIFY(delivery.paste(text));
        const auto contents = [&] {
            QFile file(received);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(contents(), text, 5000);
        process.terminate();
        process.waitForFinished(5000);
    }

    // Waits for the next activation of a window with the given identifier (other than `except`)
    // and returns it; an empty application when none came within 10 s.
    RunningApplication activationOf(const QString &identifier, quint32 except = 0)
    {
        RunningApplication found;
        PasteTargetProcess::waitFor([&] {
            for (qsizetype i = m_seen; i < m_activations.size(); ++i) {
                const auto application = m_activations.at(i).at(0).value<RunningApplication>();
                if (application.identifier == identifier && application.windowId != except) {
                    found = application;
                    m_seen = i + 1;
                    return true;
                }
            }
            return false;
        }, 10000);
        return found;
    }

    // Brings the stand-in for our own panel to the front, as a click on it would, and waits until
    // it has the focus and is the window the desktop reported active last (a desktop may report
    // one activation twice).
    bool activatePanel()
    {
        raisePanel();
        const std::optional<QString> own = m_platform.workspace()->ownIdentifier();
        return activationOf(own.value_or(QString())).windowId != 0 && PasteTargetProcess::waitFor([&] {
            return m_panel.isActiveWindow() && m_activations.last().at(0).value<RunningApplication>().identifier == own;
        }, 5000);
    }

    Desktop m_platform;
    SafePlainTextEdit m_panel;
    QSignalSpy m_activations{m_platform.workspace(), &Workspace::applicationActivated};
    qsizetype m_seen = 0;
    const QString m_targetId;
};

} // namespace quillpost::test
