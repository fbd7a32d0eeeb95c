#pragma once

#include "platform/Platform.h"

#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace quillpost::test {

// Recording fakes of the four desktop seams. They share one event log, in call order, with
// entries such as "pasteboard.setText hello", "accessibility.isTrusted",
// "accessibility.requestTrust", "workspace.isTerminated 7", "workspace.activate 7" and
// "keystroke.postPaste 7 ControlV" (numbers are window ids), so that tests can check the order
// of steps across seams.

class FakePasteboard final : public Pasteboard
{
public:
    explicit FakePasteboard(QStringList &log) : m_log(log) {}
    void setText(const QString &text) override;
    void setSelectionText(const QString &text) override;

    QString text;
    std::optional<QString> selectionText;

private:
    QStringList &m_log;
};

class FakeAccessibility final : public Accessibility
{
public:
    explicit FakeAccessibility(QStringList &log) : m_log(log) {}
    bool isTrusted() const override;
    void requestTrust() override;

    bool trusted = true;
    int promptRequests = 0;

private:
    QStringList &m_log;
};

// Applications are told apart by window id. activate() records the call and, like a window
// manager, reports the application as activated.
class FakeWorkspace final : public Workspace
{
    Q_OBJECT

public:
    explicit FakeWorkspace(QStringList &log, QObject *parent = nullptr) : Workspace(parent), m_log(log) {}

    std::optional<QString> ownIdentifier() const override { return ownId; }
    bool isTerminated(const RunningApplication &application) const override;
    void activate(const RunningApplication &application) override;

    // What the user does: bring an application to the front, or quit it.
    void userActivates(const RunningApplication &application) { emit applicationActivated(application); }
    void terminate(const RunningApplication &application) { terminatedWindows.insert(application.windowId); }

    std::optional<QString> ownId = QStringLiteral("Quillpost");
    QSet<quint32> terminatedWindows;
    QList<RunningApplication> activations;

private:
    QStringList &m_log;
};

// Records every postPaste (target, chord, milliseconds since the fake was made, and the
// clipboard text at that moment) and reports it Posted at once.
class FakeKeystroke final : public Keystroke
{
    Q_OBJECT

public:
    struct Post
    {
        RunningApplication target;
        PasteChord chord;
        qint64 atMs;
        QString clipboardText;
    };

    FakeKeystroke(QStringList &log, const FakePasteboard &pasteboard, QObject *parent = nullptr);
    void postPaste(const RunningApplication &target, PasteChord chord) override;

    QList<Post> posts;
    QElapsedTimer clock;

private:
    QStringList &m_log;
    const FakePasteboard &m_pasteboard;
};

// All four fakes with one log. Keep it alive longer than whatever is given platform().
class FakePlatform
{
public:
    FakePlatform();

    Platform platform() { return {&pasteboard, &workspace, &accessibility, &keystroke}; }

    // An application as a test names it.
    static RunningApplication app(quint32 windowId, std::optional<QString> identifier = QStringLiteral("Editor"),
                                  qint64 processId = 0);

    QStringList log;
    FakePasteboard pasteboard{log};
    FakeAccessibility accessibility{log};
    FakeWorkspace workspace{log};
    FakeKeystroke keystroke{log, pasteboard};
};

QString chordName(PasteChord chord);

} // namespace quillpost::test
