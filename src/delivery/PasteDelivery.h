#pragma once

#include "platform/Platform.h"
#include "service/Records.h"

#include <QColor>
#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

namespace quillpost {

// The text of a clip for the newest-clip checks and the copy while pinned: the optimized text
// unless it is blank (empty after trimming white space and line breaks), else the raw text.
// The chosen text is returned untrimmed; the raw text may itself be empty or blank.
QString preferredText(const Clip &clip);

// The text that auto-paste delivers for `selectedAutoVersion` ("raw" or "optimized"; any other
// value counts as "optimized"): that version, untrimmed, or nothing while it is blank. There is
// no fall-back from the optimized to the raw text.
std::optional<QString> autoPasteText(const Clip &clip, const QString &selectedAutoVersion);

// How a screen's delivery behaves. The receiver panel uses the defaults; the inbox window uses
// PasteDeliveryOptions::inboxWindow().
struct PasteDeliveryOptions
{
    // Between activating the target and posting its paste chord.
    std::chrono::milliseconds keystrokeDelay{420};
    // true: ask for the Accessibility prompt only at the first untrusted delivery of this
    // object's life; false: ask at every untrusted delivery.
    bool promptOnlyOnce = true;
    // Whether a target that has quit (or whose window is gone) stops the delivery with
    // terminatedMessage. Without the check the keystroke still never types into another
    // application: it is posted only into a focused window of the target.
    bool checkTerminated = true;
    QString notTrustedMessage = QStringLiteral("请在系统设置中允许辅助功能");
    QString noTargetMessage = QStringLiteral("先切换一次目标应用");
    QString terminatedMessage = QStringLiteral("目标应用已关闭，请重新点一下输入框");

    static PasteDeliveryOptions receiverPanel() { return {}; }
    static PasteDeliveryOptions inboxWindow();
};

// Delivers text into the application the user last worked in: puts it on the clipboard, then,
// when key presses may be synthesised, raises that application and posts its paste chord a
// moment later. A screen owns one (as a child) for its whole life and hands it the platform
// seams; the delivery follows the workspace's activations from construction to destruction.
//
// paste(text), in this order:
//  1. Put `text` on the clipboard. Always, so the user can paste by hand whatever follows.
//  2. Not trusted for Accessibility: request the prompt (see promptOnlyOnce), report
//     notTrustedMessage in SystemColors::orange(), stop.
//  3. No lastExternalApp yet: report noTargetMessage, colour unchanged, stop.
//  4. lastExternalApp has terminated (when checkTerminated): report terminatedMessage, colour
//     unchanged, stop. It stays the target until another application is activated.
//  5. Activate lastExternalApp. For terminals that paste the primary selection (xterm, rxvt)
//     the text is put there too.
//  6. After keystrokeDelay, on the GUI thread, a job that holds only the target (not this
//     object, so it runs even if the screen is gone by then) asks the Keystroke seam to post
//     the target's paste chord. Immediately before the first key event, after whatever the seam
//     waited for and its focus check, the clipboard is checked: if anyone but a delivery changed
//     it since step 1 (the user's copy, a copy while pinned), nothing is typed and the newer
//     contents stay. Otherwise `text` is put back if a later delivery replaced it. So two
//     deliveries shortly after each other each paste their own text, and the clipboard ends up
//     holding the later one.
// paste() reports nothing on success; it returns true exactly when the keystroke job was
// scheduled, so that callers can show their own success message. A job that types nothing
// (clipboard changed, or the keystroke was refused) later replaces that message with one in
// SystemColors::orange() that says why, if this object still exists. Status texts and their
// explanations come from DeliveryStatus.h.
//
// appActivated(application) makes `application` the target unless its identifier equals the
// workspace's ownIdentifier() (two absent identifiers are equal; absent never equals present).
class PasteDelivery : public QObject
{
    Q_OBJECT

public:
    explicit PasteDelivery(const Platform &platform,
                           PasteDeliveryOptions options = PasteDeliveryOptions::receiverPanel(),
                           QObject *parent = nullptr);

    bool paste(const QString &text);

    // The most recently activated application other than this program; none until the user
    // activates one after construction.
    const std::optional<RunningApplication> &lastExternalApp() const { return m_lastExternalApp; }
    // Whether the Accessibility prompt has been requested by this object; never cleared.
    bool permissionPrompted() const { return m_permissionPrompted; }
    const PasteDeliveryOptions &options() const { return m_options; }

public slots:
    void appActivated(const quillpost::RunningApplication &application);

signals:
    // A status text for the owner's status line: `color` is the colour to show it in, or
    // std::nullopt to keep the status line's current colour; `explanation` (may be empty) is
    // the fuller text for its tooltip and accessible description.
    void statusChanged(const QString &text, const std::optional<QColor> &color, const QString &explanation = {});

private:
    Platform m_platform;
    PasteDeliveryOptions m_options;
    std::optional<RunningApplication> m_lastExternalApp;
    bool m_permissionPrompted = false;
};

} // namespace quillpost
