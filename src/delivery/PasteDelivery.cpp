#include "delivery/PasteDelivery.h"

#include "delivery/DeliveryStatus.h"
#include "platform/SystemColors.h"

#include <QPointer>
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
        const StatusText status = notTrustedStatus(m_platform.accessibility->missingTrust(), m_options);
        emit statusChanged(status.text, SystemColors::orange(), status.explanation);
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
    Pasteboard *pasteboard = m_platform.pasteboard;
    // Only a delivery whose job follows counts its text as a delivery's: a text left for the
    // user to paste by hand must not be replaced by an earlier job.
    pasteboard->recordDeliveryChange();
    const quint64 change = pasteboard->changeCount();
    m_platform.workspace->activate(target);
    if (pastesPrimarySelection(chord))
        pasteboard->setSelectionText(text);

    // The job's context is the keystroke seam, not this object: it outlives the screen. What
    // becomes of it reaches this object only while it exists.
    QTimer::singleShot(m_options.keystrokeDelay, m_platform.keystroke,
                       [pasteboard, keystroke = m_platform.keystroke, delivery = QPointer<PasteDelivery>(this), target,
                        chord, text, change] {
                           // Runs when the first key is about to go out, however long the seam
                           // waited (held modifiers, the desktop's consent dialog).
                           const auto clipboardStillOurs = [pasteboard, chord, text, change] {
                               if (!pasteboard->onlyDeliveriesChangedSince(change))
                                   return false;
                               if (pasteboard->changeCount() != change) {
                                   pasteboard->setText(text);
                                   pasteboard->recordDeliveryChange();
                               }
                               if (pastesPrimarySelection(chord))
                                   pasteboard->setSelectionText(text);
                               return true;
                           };
                           keystroke->postPaste(
                               target, chord, delivery,
                               [delivery = delivery.data()](KeystrokeResult result) {
                                   if (const auto status = notTypedStatus(result, delivery->options()))
                                       emit delivery->statusChanged(status->text, SystemColors::orange(),
                                                                    status->explanation);
                               },
                               clipboardStillOurs);
                       });
    return true;
}

} // namespace quillpost
