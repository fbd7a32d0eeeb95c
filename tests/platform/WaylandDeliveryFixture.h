#pragma once

// The delivery fixture on a Wayland compositor: the seams it offers, and another program's copy
// made with wl-copy while it is not focused, as clipboard tools do. Runs inside
// scripts/wayland-session or scripts/kwin-session.
#include "DeliveryFixture.h"
#include "SignedInPanel.h"

#include "platform/wayland/WaylandPlatform.h"

#include <QApplication>
#include <QPushButton>
#include <QScopeGuard>

#include <csignal>

namespace quillpost::test {

class WaylandDeliveryFixture : public DeliveryFixture<WaylandPlatform>
{
protected:
    WaylandDeliveryFixture() : DeliveryFixture(QStringLiteral("quillpost_paste_target")) {}
    ~WaylandDeliveryFixture() override { m_copier.kill(); m_copier.waitForFinished(5000); }

    bool closeWindow(PasteTargetProcess &target) override { target.kill(); return true; }
    bool copyElsewhere(PasteTargetProcess &, const QString &text) override
    {
        m_copier.start(QStringLiteral("wl-copy"), {QStringLiteral("--foreground"), text});
        return m_copier.waitForStarted(5000);
    }
    std::optional<QString> clipboardElsewhere(PasteTargetProcess &) override
    {
        QProcess reader;
        reader.start(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")});
        return reader.waitForFinished(5000) ? std::optional(QString::fromUtf8(reader.readAllStandardOutput())) : std::nullopt;
    }

    // The compositor gave us the seams expected of it, trusted to type, and knows our window by
    // the desktop file's name; only KWin keeps a window above. Without data control keys would
    // paste an older text: not trusted, for that reason. A reader that leaves before it has
    // read a text of ours harms nothing, whatever the SIGPIPE disposition.
    void checkSeams(WaylandPlatform::Seams expected)
    {
        QCOMPARE(m_platform.seams(), expected);
        QVERIFY(m_platform.platform().accessibility->isTrusted());
        const WaylandAccessibility withoutDataControl(m_platform.workspace(), m_platform.keystroke(), nullptr);
        QVERIFY(!withoutDataControl.isTrusted());
        QCOMPARE(withoutDataControl.missingTrust(), MissingTrust::NoClipboardOwner);
        QCOMPARE(m_platform.platform().workspace->canKeepWindowsAbove(), expected == WaylandPlatform::Seams::Plasma);
        QCOMPARE(m_platform.workspace()->ownIdentifier(), std::optional<QString>(QStringLiteral(QUILLPOST_APP_ID)));

        const auto sigpipe = std::signal(SIGPIPE, SIG_DFL);
        const auto restoreSigpipe = qScopeGuard([sigpipe] { std::signal(SIGPIPE, sigpipe); });
        m_platform.platform().pasteboard->setText(QString(1 << 20, u'x')); // more than a pipe holds
        QProcess reader;
        reader.start(QStringLiteral("sh"), {"-c", "wl-paste | head -c 1 >/dev/null"});
        QVERIFY(PasteTargetProcess::waitFor([&] { return reader.state() == QProcess::NotRunning; }, 5000));
    }

    // Asked for the newest clip while our panel is open behind the window worked in (`quillpost
    // --paste-latest` from a shortcut), with auto-paste on: that clip is typed into the focused
    // window once, the window keeps the focus and our panel stays behind.
    void checkPasteLatest()
    {
        SignedInPanel signedIn;
        QVERIFY(signedIn.start(m_platform.platform()));
        CompactInboxViewController &panel = signedIn.panel();
        panel.show();
        QTRY_VERIFY_WITH_TIMEOUT(!panel.currentClips().isEmpty(), 10000);
        panel.autoPasteButton()->click();
        PasteTargetProcess target;
        QVERIFY(target.start());
        QVERIFY(activationOf(m_targetId).windowId != 0);
        QVERIFY(PasteTargetProcess::waitFor([&] { return !panel.isActiveWindow(); }, 5000));

        QVERIFY(signedIn.pastesLatestOnceInto(target));
        QVERIFY(!panel.isActiveWindow());
        const std::optional<QString> own = m_platform.workspace()->ownIdentifier();
        for (qsizetype i = m_seen; i < m_activations.size(); ++i)
            QVERIFY(m_activations.at(i).at(0).value<RunningApplication>().identifier != own);
    }

    QProcess m_copier;
};

} // namespace quillpost::test
