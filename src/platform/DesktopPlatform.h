#pragma once

#include "platform/Platform.h"

#include <QObject>

#include <memory>

namespace quillpost {

// The real desktop seams of one kind of session, owned as one object. Keep it for the life of
// the program (it must outlive every screen given its platform()).
class DesktopPlatform : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual Platform platform() = 0;
};

// Chooses the seams for the session the program runs in, once, after the QApplication exists:
// the Wayland ones when Qt runs as a Wayland client (what each offers depends on the
// compositor), else the X11 ones (which also serve offscreen runs: clipboard only).
std::unique_ptr<DesktopPlatform> makePlatform();

} // namespace quillpost
