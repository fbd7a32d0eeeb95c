#pragma once

#include "platform/DesktopPlatform.h"
#include "platform/gnome/GnomeWorkspace.h"
#include "platform/gnome/PortalKeystroke.h"
#include "platform/x11/ClipboardPasteboard.h"

namespace quillpost {

// Key presses may be sent until the user refuses the portal's consent (which is asked at the
// first keystroke, not here); a refusal holds for the rest of the run, so requestTrust() has
// nothing left to show then.
class PortalAccessibility final : public Accessibility
{
public:
    explicit PortalAccessibility(PortalKeystroke *keystroke) : m_keystroke(keystroke) {}
    bool isTrusted() const override { return !m_keystroke->isRefused(); }
    void requestTrust() override { m_keystroke->requestConsent(); }
    MissingTrust missingTrust() const override { return MissingTrust::ConsentRefused; }

private:
    PortalKeystroke *m_keystroke;
};

// The desktop seams of a GNOME Wayland session, where this program runs as an X11 client under
// XWayland (see choosePlatformPlugin()): the clipboard through Qt (mutter hands an X11 client's
// clipboard to Wayland clients whatever has the focus), the workspace that knows only our own
// windows, and keystrokes through the desktop portal into the focused window. Create it after
// the QApplication. `restoreTokens` (may be null) keeps the portal's consent across runs where
// the portal allows that; it must outlive this object.
class GnomePlatform final : public DesktopPlatform
{
    Q_OBJECT

public:
    explicit GnomePlatform(SecretStore *restoreTokens = nullptr, QObject *parent = nullptr);

    Platform platform() override { return {&m_pasteboard, m_workspace, &m_accessibility, m_keystroke}; }
    GnomeWorkspace *workspace() const { return m_workspace; }
    PortalKeystroke *keystroke() const { return m_keystroke; }

private:
    ClipboardPasteboard m_pasteboard;
    GnomeWorkspace *m_workspace;
    PortalKeystroke *m_keystroke;
    PortalAccessibility m_accessibility;
};

} // namespace quillpost
