#include "platform/DesktopPlatform.h"

#include "platform/gnome/GnomePlatform.h"
#include "platform/wayland/WaylandPlatform.h"
#include "platform/x11/X11Platform.h"

#include <QGuiApplication>

namespace quillpost {

bool isGnomeWaylandSession()
{
    const QList<QByteArray> desktops = qgetenv("XDG_CURRENT_DESKTOP").split(':');
    return desktops.contains("GNOME") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void choosePlatformPlugin()
{
    if (isGnomeWaylandSession() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")
        && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

std::unique_ptr<DesktopPlatform> makePlatform(SecretStore *restoreTokens)
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("wayland"))
        return std::make_unique<WaylandPlatform>();
    if (platform == QLatin1String("xcb") && isGnomeWaylandSession())
        return std::make_unique<GnomePlatform>(restoreTokens);
    return std::make_unique<X11Platform>();
}

} // namespace quillpost
