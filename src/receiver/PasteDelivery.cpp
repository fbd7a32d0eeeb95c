#include "receiver/PasteDelivery.h"

#include "platform/SystemColors.h"

#include <QTimer>

namespace quillpost {

namespace {

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

} // namespace

QString preferredText(const Clip &clip)
{
    return isBlank(clip.optimizedText) ? clip.rawText : clip.optimizedText;
}

std::optional<QString> autoPasteText(const Clip &clip, const QString &selectedAutoVersion)
{
    const QString &text = selectedAutoVersion == QLatin1String("raw") ? clip.rawText : clip.optimizedText;
    if (isBlank(text))
        return std::nullopt;
    return text;
}

PasteDeliveryOptions PasteDeliveryOptions::inboxWindow()
{
    PasteDeliveryOptions options;
    options.keystrokeDelay = std::chrono::milliseconds(350);
    options.promptOnlyOnce = false;
    options.checkTerminated = false;
    options.notTrustedMessage = QStringLiteral("请允许辅助功能权限后重试");
    options.noTargetMessage = QStringLiteral("请先切换一次需要粘贴的应用");
    return options;
}

PasteDelivery::PasteDelivery(const Platform &platform, PasteDeliveryOptions options, QObject *parent)
    : QObject(parent), m_platform(platform), m_options(std::move(options))
{
    Q_ASSERT(m_platform.pasteboard && m_platform.workspace && m_platform.accessibility && m_platform.keystroke);
    connect(m_platform.workspace, &Workspace::applicationActivated, this, &PasteDelivery::appActivated);
}

void PasteDelivery::appActivated(const RunningApplication &application)
{
    if (application.identifier == m_platform.workspace->ownIdentifier())
        return;
    m_lastExternalApp = application;
}

bool PasteDelivery::paste(const QString &text)
{
    m_platform.pasteboard->setText(text);

    if (!m_platform.accessibility->isTrusted()) {
        if (!m_options.promptOnlyOnce || !m_permissionPrompted) {
            m_permissionPrompted = true;
            m_platform.accessibility->requestTrust();
        }
        emit statusChanged(m_options.notTrustedMessage, SystemColors::orange());
        return false;
    }
    if (!m_lastExternalApp) {
        emit statusChanged(m_options.noTargetMessage, std::nullopt);
        return false;
    }
    if (m_options.checkTerminated && m_platform.workspace->isTerminated(*m_lastExternalApp)) {
        emit statusChanged(m_options.terminatedMessage, std::nullopt);
        return false;
    }

    const RunningApplication target = *m_lastExternalApp;
    const PasteChord chord = pasteChordFor(target.identifier);
    m_platform.workspace->activate(target);
    if (pastesPrimarySelection(chord))
        m_platform.pasteboard->setSelectionText(text);

    // The job's context is the keystroke seam, not this object: it outlives the screen.
    QTimer::singleShot(m_options.keystrokeDelay, m_platform.keystroke,
                       [pasteboard = m_platform.pasteboard, keystroke = m_platform.keystroke, target, chord, text] {
                           pasteboard->setText(text);
                           if (pastesPrimarySelection(chord))
                               pasteboard->setSelectionText(text);
                           keystroke->postPaste(target, chord);
                       });
    return true;
}

} // namespace quillpost
