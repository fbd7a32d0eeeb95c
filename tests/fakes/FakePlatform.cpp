#include "FakePlatform.h"

namespace quillpost::test {

QString chordName(PasteChord chord)
{
    switch (chord) {
    case PasteChord::ControlV:
        return QStringLiteral("ControlV");
    case PasteChord::ControlShiftV:
        return QStringLiteral("ControlShiftV");
    case PasteChord::ShiftInsert:
        return QStringLiteral("ShiftInsert");
    }
    return QString();
}

void FakePasteboard::setText(const QString &text)
{
    m_log << QStringLiteral("pasteboard.setText ") + text;
    this->text = text;
}

void FakePasteboard::setSelectionText(const QString &text)
{
    m_log << QStringLiteral("pasteboard.setSelectionText ") + text;
    selectionText = text;
}

bool FakeAccessibility::isTrusted() const
{
    m_log << QStringLiteral("accessibility.isTrusted");
    return trusted;
}

void FakeAccessibility::requestTrust()
{
    m_log << QStringLiteral("accessibility.requestTrust");
    ++promptRequests;
}

bool FakeWorkspace::isTerminated(const RunningApplication &application) const
{
    m_log << QStringLiteral("workspace.isTerminated %1").arg(application.windowId);
    return terminatedWindows.contains(application.windowId);
}

void FakeWorkspace::activate(const RunningApplication &application)
{
    m_log << QStringLiteral("workspace.activate %1").arg(application.windowId);
    activations << application;
    emit applicationActivated(application);
}

FakeKeystroke::FakeKeystroke(QStringList &log, const FakePasteboard &pasteboard, QObject *parent)
    : Keystroke(parent), m_log(log), m_pasteboard(pasteboard)
{
    clock.start();
}

void FakeKeystroke::postPaste(const RunningApplication &target, PasteChord chord)
{
    m_log << QStringLiteral("keystroke.postPaste %1 %2").arg(target.windowId).arg(chordName(chord));
    posts << Post{target, chord, clock.elapsed(), m_pasteboard.text};
    emit finished(target, KeystrokeResult::Posted);
}

FakePlatform::FakePlatform() = default;

RunningApplication FakePlatform::app(quint32 windowId, std::optional<QString> identifier, qint64 processId)
{
    return RunningApplication{windowId, processId, std::move(identifier)};
}

} // namespace quillpost::test
