// Delivery and pinning on KDE Plasma (KWin), into helper processes. Runs inside
// scripts/kwin-session, which leaves KWin's permission check on: main() installs the program's
// desktop file with this binary as Exec= before connecting, as a package would.
#include "PasteTargetProcess.h"

#include "delivery/PasteDelivery.h"
#include "platform/wayland/PlasmaWorkspace.h"
#include "platform/wayland/WaylandPlatform.h"
#include "widgets/SafePlainTextEdit.h"

#include "plasma-window-management-client-protocol.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>

using namespace quillpost;

namespace {
const QString targetAppId = QStringLiteral("quillpost_paste_target");
constexpr quint32 pinStates =
    ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_KEEP_ABOVE | ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ON_ALL_DESKTOPS;
} // namespace

class KWinDeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(m_platform.seams(), WaylandPlatform::Seams::Plasma);
        QVERIFY(m_platform.platform().accessibility->isTrusted());
        QVERIFY(m_platform.platform().workspace->canKeepWindowsAbove());
        QCOMPARE(m_platform.workspace()->ownIdentifier(), std::optional<QString>(QStringLiteral("quillpost")));
    }

    // Activations that earlier tests caused are not looked at again.
    void init() { m_seen = m_activations.size(); }

    // With our own window in front, as when the user clicks a paste button, the exact text
    // reaches the window worked in last; our window never becomes the target and never gets
    // keys; keystrokes for a closed window or one not in front type nothing anywhere.
    void deliversOnlyIntoTheTarget()
    {
        PasteDelivery delivery(m_platform.platform());
        PasteTargetProcess closed, target;
        QVERIFY(closed.start());
        const RunningApplication closedApp = activationOf(targetAppId);
        QVERIFY(target.start());
        const RunningApplication seen = activationOf(targetAppId, closedApp.windowId);
        QVERIFY(seen.windowId != 0 && closedApp.windowId != 0);
        QCOMPARE(seen.processId, target.pid);
        QVERIFY(closed.hide());
        QVERIFY(PasteTargetProcess::waitFor([&] { return m_platform.workspace()->isTerminated(closedApp); }, 5000));
        QVERIFY(!m_platform.workspace()->isTerminated(seen));
        QVERIFY(activatePanel());
        QCOMPARE(delivery.lastExternalApp(), std::optional(seen));

        const QString text = QStringLiteral("\n  第一行：你好\n第二行，世界！\n\n末尾\n");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(delivery.paste(text));
        QVERIFY(PasteTargetProcess::waitFor([&] { return target.text == text; }, 5000));
        std::fprintf(stderr, "paste to text in the target on KWin: %lld ms (420 ms of it the fixed delay)\n",
                     static_cast<long long>(clock.elapsed()));

        QSignalSpy finished(m_platform.keystroke(), &Keystroke::finished);
        m_platform.keystroke()->postPaste(closedApp, PasteChord::ControlV);
        QVERIFY(activatePanel());
        m_platform.keystroke()->postPaste(seen, PasteChord::ControlV); // not in front now
        QCOMPARE(finished.size(), 2);
        for (const QList<QVariant> &outcome : std::as_const(finished))
            QCOMPARE(outcome.at(1).value<KeystrokeResult>(), KeystrokeResult::NotFocused);
        QVERIFY(target.sync());
        QCOMPARE(target.text, text);
        QCOMPARE(m_panel.toPlainText(), QString());
    }

    // A closed target gets the message and nothing is typed, also when it closes while the
    // delivery waits for its keystroke.
    void typesNothingForAClosedTarget_data()
    {
        QTest::addColumn<bool>("beforePaste");
        QTest::addColumn<QString>("message");
        QTest::newRow("closed before the paste") << true << "目标应用已关闭，请重新点一下输入框";
        QTest::newRow("closed before the keystroke") << false << "没有输入：目标窗口不在前台，内容已复制";
    }

    void typesNothingForAClosedTarget()
    {
        QFETCH(bool, beforePaste);
        PasteDeliveryOptions options;
        options.keystrokeDelay = std::chrono::seconds(2); // time enough to act in between
        PasteDelivery delivery(m_platform.platform(), options);
        QSignalSpy status(&delivery, &PasteDelivery::statusChanged);
        PasteTargetProcess target;
        QVERIFY(target.start());
        const RunningApplication seen = activationOf(targetAppId);
        QVERIFY(activatePanel());
        QCOMPARE(delivery.lastExternalApp(), std::optional(seen));

        if (beforePaste) {
            QVERIFY(target.hide());
            QVERIFY(PasteTargetProcess::waitFor([&] { return m_platform.workspace()->isTerminated(seen); }, 5000));
            QVERIFY(!delivery.paste(QStringLiteral("要输入的")));
        } else {
            QVERIFY(delivery.paste(QStringLiteral("要输入的")));
            QVERIFY(PasteTargetProcess::waitFor([&] { return m_platform.workspace()->isActive(seen); }, 5000));
            QVERIFY(target.hide());
        }
        QVERIFY(PasteTargetProcess::waitFor([&] { return !status.isEmpty(); }, 10000));
        QTEST(status.first().at(0).toString(), "message");
        QVERIFY(target.sync());
        QVERIFY(target.text.isEmpty());
        QCOMPARE(m_panel.toPlainText(), QString());
    }

    // Pinning keeps our window above and on all desktops, as KWin reports to another client,
    // also after the window is hidden and shown again; unpinning clears both.
    void pinKeepsTheWindowAbove()
    {
        // Another connection, as a task manager would have, reads the states back.
        WaylandConnection observerConnection;
        PlasmaWorkspace observer(&observerConnection, std::nullopt);
        QVERIFY(observer.isAvailable());
        const auto ownStates = [&] {
            const QList<RunningApplication> handles = observer.handlesOf(m_panel.windowHandle());
            return handles.size() == 1 ? observer.statesOf(handles.first()).value_or(0) : 0u;
        };
        QVERIFY(activatePanel());
        QVERIFY(PasteTargetProcess::waitFor([&] { return observer.handlesOf(m_panel.windowHandle()).size() == 1; }, 5000));
        QCOMPARE(ownStates() & pinStates, 0u);

        m_platform.workspace()->setPinned(m_panel.windowHandle(), true);
        QVERIFY(PasteTargetProcess::waitFor([&] { return (ownStates() & pinStates) == pinStates; }, 5000));
        QVERIFY(activatePanel()); // a new handle: KWin forgets the states of a hidden window
        QVERIFY(PasteTargetProcess::waitFor([&] { return (ownStates() & pinStates) == pinStates; }, 5000));

        // Another window in front does not cover it.
        PasteTargetProcess other;
        QVERIFY(other.start());
        QVERIFY(activationOf(targetAppId).windowId != 0);
        QCOMPARE(ownStates() & pinStates, pinStates);

        m_platform.workspace()->setPinned(m_panel.windowHandle(), false);
        QVERIFY(PasteTargetProcess::waitFor([&] { return (ownStates() & pinStates) == 0; }, 5000));
        QVERIFY(activatePanel());
        QVERIFY(PasteTargetProcess::waitFor([&] { return observer.handlesOf(m_panel.windowHandle()).size() == 1; }, 5000));
        QCOMPARE(ownStates() & pinStates, 0u);
    }

private:
    // Waits for the next activation of a window with the given app_id (other than `except`)
    // and returns it; an empty application when none came within 10 s.
    RunningApplication activationOf(const QString &appId, quint32 except = 0)
    {
        RunningApplication found;
        PasteTargetProcess::waitFor([&] {
            for (qsizetype i = m_seen; i < m_activations.size(); ++i) {
                const auto application = m_activations.at(i).at(0).value<RunningApplication>();
                if (application.identifier == appId && application.windowId != except) {
                    found = application;
                    m_seen = i + 1;
                    return true;
                }
            }
            return false;
        }, 10000);
        return found;
    }

    // Maps the stand-in for our own panel anew, which gives it the focus, and waits until the
    // compositor reports it active.
    bool activatePanel()
    {
        m_panel.hide();
        m_panel.show();
        const RunningApplication own = activationOf(QStringLiteral("quillpost"));
        return own.windowId != 0 && own.processId == QCoreApplication::applicationPid();
    }

    WaylandPlatform m_platform;
    SafePlainTextEdit m_panel;
    QSignalSpy m_activations{m_platform.workspace(), &Workspace::applicationActivated};
    qsizetype m_seen = 0;
};

// Installs the program's desktop file for this binary, as a package installs it for the
// program: KWin reads it when we connect.
static bool installDesktopFile()
{
    QFile in(QStringLiteral(QUILLPOST_DESKTOP_FILE));
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !in.open(QIODevice::ReadOnly) || !QDir().mkpath(dataHome + "/applications"))
        return false;
    QByteArray contents = in.readAll();
    contents.replace("@QUILLPOST_INSTALLED_PROGRAM@", QFile::symLinkTarget("/proc/self/exe").toUtf8());
    QFile out(dataHome + "/applications/quillpost.desktop");
    return out.open(QIODevice::WriteOnly) && out.write(contents) == contents.size();
}

int main(int argc, char **argv)
{
    const auto unavailable = [](const char *why) {
        std::fprintf(stderr, "%s: this test needs scripts/kwin-session\n", why);
        return qEnvironmentVariableIsSet("QUILLPOST_KWIN_SESSION") ? 1 : 77;
    };
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !qEnvironmentVariableIsSet("QUILLPOST_KWIN_SESSION"))
        return unavailable("no KWin session");
    if (!installDesktopFile())
        return unavailable("cannot install the desktop file");
    QApplication application(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        return unavailable("Qt does not run on Wayland");
    QApplication::setApplicationName(QStringLiteral("Quillpost"));
    QApplication::setDesktopFileName(QStringLiteral("quillpost"));
    KWinDeliveryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_kwindelivery.moc"
