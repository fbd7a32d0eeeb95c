#pragma once

#include "platform/DesktopPlatform.h"
#include "platform/x11/ClipboardPasteboard.h"
#include "platform/x11/X11Accessibility.h"
#include "platform/x11/X11Keystroke.h"
#include "platform/x11/X11Workspace.h"

namespace quillpost {

// The program's real desktop seams. Create one after the QApplication, keep it for the life of
// the program (it must outlive every screen given its platform()), and hand platform() to the
// screens' constructors. Off X11 (offscreen, Wayland) it still works: the clipboard works,
// Accessibility is not trusted, and no activation is ever reported.
class X11Platform final : public DesktopPlatform
{
    Q_OBJECT

public:
    explicit X11Platform(QObject *parent = nullptr);

    Platform platform() override { return {&m_pasteboard, m_workspace, &m_accessibility, m_keystroke}; }
    X11Workspace *workspace() const { return m_workspace; }
    X11Keystroke *keystroke() const { return m_keystroke; }

private:
    ClipboardPasteboard m_pasteboard;
    X11Accessibility m_accessibility;
    X11Workspace *m_workspace;
    X11Keystroke *m_keystroke;
};

} // namespace quillpost
