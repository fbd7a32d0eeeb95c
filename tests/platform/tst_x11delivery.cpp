#include "PasteTargetProcess.h"
#include "SessionTestMain.h"

#include "platform/x11/X11Platform.h"
#include "platform/x11/XcbSupport.h"
#include "receiver/PasteDelivery.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

using namespace quillpost;

namespace {

// Presses or releases the left Shift key as if the user did.
void fakeShift(bool down)
{
    xcb_connection_t *connection = x11::qtConnection();
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(connection);
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, 0xffe1);
    xcb_test_fake_input(connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, codes[0], XCB_CURRENT_TIME, XCB_NONE,
                        0, 0, 0);
    xcb_flush(connection);
    std::free(codes);
    xcb_key_symbols_free(symbols);
}

} // namespace

class X11DeliveryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void workspaceReportsActivations();
    void deliversExactText_data();
    void deliversExactText();
    void terminalGetsItsChord();
    void neverTypesIntoAnotherWindow_data();
    void neverTypesIntoAnotherWindow();
    void waitsForModifiers_data();
    void waitsForModifiers();

private:
    // Activates `application` through the workspace and waits until the window manager made it
    // the active window.
    bool activate(const RunningApplication &application);
    RunningApplication applicationOf(const PasteTargetProcess &target);
    // Shows the stand-in for our own panel and makes it active.
    bool activatePanel();

    X11Platform *m_platform = nullptr;
    QWidget *m_panel = nullptr;
    QList<RunningApplication> m_activations;
};

void X11DeliveryTest::initTestCase()
{
    if (!x11::qtConnection())
        QSKIP("needs the xcb platform");
}

void X11DeliveryTest::init()
{
    m_platform = new X11Platform(this);
    QVERIFY(m_platform->workspace()->isAvailable());
    m_activations.clear();
    connect(m_platform->workspace(), &Workspace::applicationActivated, this,
            [this](const RunningApplication &application) { m_activations << application; });
    m_panel = new QWidget;
    m_panel->resize(200, 100);
}

void X11DeliveryTest::cleanup()
{
    delete m_panel;
    delete m_platform;
}

bool X11DeliveryTest::activate(const RunningApplication &application)
{
    m_platform->workspace()->activate(application);
    return PasteTargetProcess::waitFor(
        [&] { return !m_activations.isEmpty() && m_activations.last().windowId == application.windowId; }, 5000);
}

RunningApplication X11DeliveryTest::applicationOf(const PasteTargetProcess &target)
{
    for (const RunningApplication &application : m_activations) {
        if (application.windowId == target.windowId)
            return application;
    }
    return RunningApplication{target.windowId, target.pid, QStringLiteral("PasteTarget")};
}

bool X11DeliveryTest::activatePanel()
{
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    return PasteTargetProcess::waitFor([this] { return m_panel->isActiveWindow(); }, 5000)
        && PasteTargetProcess::waitFor(
               [this] { return !m_activations.isEmpty() && m_activations.last().windowId == m_panel->winId(); },
               5000);
}

void X11DeliveryTest::workspaceReportsActivations()
{
    PasteTargetProcess target;
    QVERIFY(target.start());
    QVERIFY(activate(RunningApplication{target.windowId, 0, std::nullopt}));
    const RunningApplication seen = m_activations.last();
    QCOMPARE(seen.processId, target.pid);
    QCOMPARE(seen.identifier, std::optional<QString>(QStringLiteral("PasteTarget")));
    QVERIFY(!m_platform->workspace()->isTerminated(seen));

    QVERIFY(activatePanel());
    QCOMPARE(m_activations.last().identifier, m_platform->workspace()->ownIdentifier());
    for (const RunningApplication &application : std::as_const(m_activations))
        QVERIFY(application.windowId != 0);

    target.kill();
    QVERIFY(m_platform->workspace()->isTerminated(seen));
}

void X11DeliveryTest::deliversExactText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("latin") << QStringLiteral("Hello, world");
    QTest::newRow("chinese and line breaks") << QStringLiteral("第一行：你好\n第二行，世界！\n\n末尾");
    QTest::newRow("leading and trailing blank lines") << QStringLiteral("\n  indented\n\n");
}

void X11DeliveryTest::deliversExactText()
{
    QFETCH(QString, text);
    PasteTargetProcess target;
    PasteTargetProcess bystander;
    QVERIFY(target.start());
    QVERIFY(bystander.start());
    PasteDelivery delivery(m_platform->platform());
    QVERIFY(activate(applicationOf(target)));
    QVERIFY(activatePanel()); // our own window: the target stays
    QCOMPARE(delivery.lastExternalApp()->windowId, target.windowId);

    QVERIFY(delivery.paste(text));
    QTRY_COMPARE_WITH_TIMEOUT(target.text, text, 5000);
    QVERIFY(bystander.sync());
    QCOMPARE(bystander.text, QString());
}

void X11DeliveryTest::terminalGetsItsChord()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString received = directory.filePath(QStringLiteral("received"));
    QProcess terminal;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    terminal.setProcessEnvironment(environment);
    terminal.start(QStringLiteral("xterm"), {QStringLiteral("-u8"), QStringLiteral("-e"), QStringLiteral("sh"),
                                              QStringLiteral("-c"), QStringLiteral("cat > \"$0\""), received});
    QVERIFY(terminal.waitForStarted());
    QVERIFY(PasteTargetProcess::waitFor(
        [this] {
            return !m_activations.isEmpty() && m_activations.last().identifier == QStringLiteral("XTerm");
        },
        10000));
    PasteDelivery delivery(m_platform->platform());
    delivery.appActivated(m_activations.last());
    QVERIFY(activatePanel());

    const QString text = QStringLiteral("echo 你好\nsecond line\n");
    QVERIFY(delivery.paste(text));
    const auto contents = [&] {
        QFile file(received);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(contents(), text, 5000);
    terminal.kill();
    terminal.waitForFinished();
}

void X11DeliveryTest::neverTypesIntoAnotherWindow_data()
{
    QTest::addColumn<bool>("processQuits");
    QTest::newRow("target process quits") << true;
    QTest::newRow("target window closed, process lives") << false;
}

void X11DeliveryTest::neverTypesIntoAnotherWindow()
{
    QFETCH(bool, processQuits);
    PasteTargetProcess target;
    PasteTargetProcess other;
    QVERIFY(target.start());
    QVERIFY(other.start());
    QVERIFY(activate(applicationOf(target)));
    const RunningApplication gone = applicationOf(target);
    if (processQuits)
        target.kill();
    else
        QVERIFY(target.hide());
    QVERIFY(activate(applicationOf(other)));
    QVERIFY(m_platform->workspace()->isTerminated(gone));

    m_platform->platform().pasteboard->setText(QStringLiteral("private dictation"));
    QSignalSpy finished(m_platform->keystroke(), &Keystroke::finished);
    m_platform->keystroke()->postPaste(gone, PasteChord::ControlV);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(finished.first().at(1).value<KeystrokeResult>(), KeystrokeResult::NotFocused);
    QVERIFY(other.sync());
    QCOMPARE(other.text, QString());
}

void X11DeliveryTest::waitsForModifiers_data()
{
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<KeystrokeResult>("result");
    QTest::newRow("released after 200 ms") << 200 << KeystrokeResult::Posted;
    QTest::newRow("held past the wait") << 1300 << KeystrokeResult::ModifiersHeld;
}

void X11DeliveryTest::waitsForModifiers()
{
    QFETCH(int, holdMs);
    QFETCH(KeystrokeResult, result);
    PasteTargetProcess target;
    QVERIFY(target.start());
    QVERIFY(activate(applicationOf(target)));
    m_platform->platform().pasteboard->setText(QStringLiteral("typed after release"));

    QSignalSpy finished(m_platform->keystroke(), &Keystroke::finished);
    fakeShift(true);
    m_platform->keystroke()->postPaste(applicationOf(target), PasteChord::ControlV);
    QTest::qWait(holdMs);
    if (result == KeystrokeResult::Posted)
        QVERIFY(finished.isEmpty()); // still waiting for the key to be released
    fakeShift(false);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(finished.first().at(1).value<KeystrokeResult>(), result);
    if (result == KeystrokeResult::Posted) {
        QTRY_COMPARE_WITH_TIMEOUT(target.text, QStringLiteral("typed after release"), 5000);
    } else {
        QVERIFY(target.sync());
        QCOMPARE(target.text, QString());
    }
}

QUILLPOST_SESSION_TEST_MAIN(X11DeliveryTest)
#include "tst_x11delivery.moc"
