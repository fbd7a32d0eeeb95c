#pragma once

#include "platform/Platform.h"

#include <QObject>

#include <memory>

namespace quillpost {

class SecretStore;

// The real desktop seams of one kind of session, owned as one object. Keep it for the life of
// the program (it must outlive every screen given its platform()).
class DesktopPlatform : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual Platform platform() = 0;
};

// True in a GNOME session on Wayland (XDG_CURRENT_DESKTOP names GNOME and a Wayland display is
// set).
bool isGnomeWaylandSession();

// Call before the QApplication exists. In a GNOME Wayland session, unless the user chose a Qt
// platform (QT_QPA_PLATFORM), the program runs as an X11 client under XWayland: GNOME offers a
// Wayland client no way to set the clipboard while another window has the focus, nor to keep a
// window above, and does both for X11 clients. Elsewhere Qt chooses as usual.
void choosePlatformPlugin();

// Chooses the seams for the session the program runs in, once, after the QApplication exists:
// the Wayland ones when Qt runs as a Wayland client (what each offers depends on the
// compositor), the GNOME ones when it runs under XWayland in a GNOME Wayland session, else the
// X11 ones (which also serve offscreen runs: clipboard only). `restoreTokens` (may be null)
// keeps a desktop's remote-control consent across runs where it allows that.
std::unique_ptr<DesktopPlatform> makePlatform(SecretStore *restoreTokens = nullptr);

} // namespace quillpost
