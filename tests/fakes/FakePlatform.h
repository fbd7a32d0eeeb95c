#pragma once

#include "platform/Platform.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QStringList>

#include <functional>
#include <utility>

namespace quillpost::test {

// Recording fakes of the four desktop seams. They share one event log, in call order, with
// entries such as "pasteboard.setText hello", "accessibility.isTrusted",
// "accessibility.requestTrust", "workspace.isTerminated 7", "workspace.activate 7" and
// "keystroke.postPaste 7" (numbers are window ids), so that tests can check the order of steps
// across seams.

// Every setText() and every userCopies() is one change.
struct FakePasteboard final : Pasteboard
{
    explicit FakePasteboard(QStringList &log) : log(log) {}
    void setText(const QString &value) override { log << "pasteboard.setText " + value; text = value; ++changes; }
    void setSelectionText(const QString &value) override { log << "pasteboard.setSelectionText " + value; }
    quint64 changeCount() const override { return changes; }

    // Another program (or the user) puts a text on the clipboard.
    void userCopies(const QString &value) { log << "user copies " + value; text = value; ++changes; }

    QStringList &log;
    QString text;
    quint64 changes = 0;
};

struct FakeAccessibility final : Accessibility
{
    explicit FakeAccessibility(QStringList &log) : log(log) {}
    bool isTrusted() const override { log << QStringLiteral("accessibility.isTrusted"); return trusted; }
    void requestTrust() override { log << QStringLiteral("accessibility.requestTrust"); ++promptRequests; }
    MissingTrust missingTrust() const override { return missing; }

    QStringList &log;
    bool trusted = true;
    MissingTrust missing = MissingTrust::Permission;
    int promptRequests = 0;
};

// Applications are told apart by window id. activate() records the call and, like a window
// manager, reports the application as activated.
struct FakeWorkspace final : Workspace
{
    explicit FakeWorkspace(QStringList &log) : log(log) {}
    std::optional<QString> ownIdentifier() const override { return ownId; }
    bool isTerminated(const RunningApplication &application) const override
    {
        log << QStringLiteral("workspace.isTerminated %1").arg(application.windowId);
        return terminatedWindows.contains(application.windowId);
    }
    void activate(const RunningApplication &application) override
    {
        log << QStringLiteral("workspace.activate %1").arg(application.windowId);
        activations << application;
        emit applicationActivated(application);
    }

    // What the user does: bring an application to the front, or quit it.
    void userActivates(const RunningApplication &application) { emit applicationActivated(application); }
    void terminate(const RunningApplication &application) { terminatedWindows.insert(application.windowId); }
    std::optional<RunningApplication> focusedApplication() const override { return focused; }
    bool canKeepWindowsAbove() const override { return keepsAbove; }
    void setPinned(QWindow *window, bool pinned) override { pinnedWindow = pinned ? window : nullptr; }

    QStringList &log;
    std::optional<QString> ownId = QStringLiteral("Quillpost");
    QSet<quint32> terminatedWindows;
    bool keepsAbove = true;
    std::optional<RunningApplication> focused; // what the desktop says has the focus, if it says
    QWindow *pinnedWindow = nullptr; // as last asked
    QList<RunningApplication> activations;
};

// Records every postPaste that types (target, chord, milliseconds since the fake was made, and
// the clipboard text when the keys go out) and reports it with `result`: at once, or, while
// `holding`, when the test calls release() (as a seam that waits for held keys or for consent).
// The caller's BeforeKeys runs just before the keys, as in the real seams.
struct FakeKeystroke final : Keystroke
{
    struct Post { RunningApplication target; PasteChord chord; qint64 atMs; QString clipboardText; };

    FakeKeystroke(QStringList &log, const FakePasteboard &pasteboard) : log(log), pasteboard(pasteboard) { clock.start(); }

    void release()
    {
        for (const std::function<void()> &held : std::exchange(this->held, {}))
            held();
    }

    QStringList &log;
    const FakePasteboard &pasteboard;
    QList<Post> posts;
    QElapsedTimer clock;
    KeystrokeResult result = KeystrokeResult::Posted;
    bool holding = false;
    QList<std::function<void()>> held;

protected:
    void post(const RunningApplication &target, PasteChord chord, BeforeKeys beforeKeys, Completion report) override
    {
        log << QStringLiteral("keystroke.postPaste %1").arg(target.windowId);
        auto type = [this, target, chord, beforeKeys = std::move(beforeKeys), report = std::move(report)] {
            if (result == KeystrokeResult::Posted && !mayType(beforeKeys))
                return report(KeystrokeResult::Stopped);
            if (result == KeystrokeResult::Posted)
                posts << Post{target, chord, clock.elapsed(), pasteboard.text};
            report(result);
        };
        if (holding)
            held << std::move(type);
        else
            type();
    }
};

// All four fakes with one log. Keep it alive longer than whatever is given platform().
struct FakePlatform
{
    Platform platform() { return {&pasteboard, &workspace, &accessibility, &keystroke}; }

    // An application as a test names it.
    static RunningApplication app(quint32 windowId, std::optional<QString> identifier = QStringLiteral("Editor"),
                                  qint64 processId = 0) { return {windowId, processId, std::move(identifier)}; }

    QStringList log;
    FakePasteboard pasteboard{log};
    FakeAccessibility accessibility{log};
    FakeWorkspace workspace{log};
    FakeKeystroke keystroke{log, pasteboard};
};

} // namespace quillpost::test
