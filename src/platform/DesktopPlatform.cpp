#include "platform/DesktopPlatform.h"

#include "platform/wayland/WaylandPlatform.h"
#include "platform/x11/X11Platform.h"

#include <QGuiApplication>

namespace quillpost {

std::unique_ptr<DesktopPlatform> makePlatform()
{
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        return std::make_unique<WaylandPlatform>();
    return std::make_unique<X11Platform>();
}

} // namespace quillpost
