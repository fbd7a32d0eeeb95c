#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "platform/DesktopPlatform.h"
#include "platform/secret/KeychainStore.h"
#include "service/APIClient.h"
#include "service/QtTranslations.h"
#include "widgets/DeferredIconStyle.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Our own options are answered before anything connects to the display.
    if (const std::optional<int> status = quillpost::runCommandLine(argc, argv))
        return *status;

    // The origin built in, or another one named at start (a staging service, or a local one on
    // a port of its own); either must pass the same rule.
    const QByteArray chosen = qgetenv("QUILLPOST_SERVICE_URL");
    const QByteArray origin = chosen.isEmpty() ? QByteArrayLiteral(QUILLPOST_SERVICE_URL) : chosen;
    const auto serviceURL = quillpost::makeServiceURL(QString::fromLocal8Bit(origin));
    if (!serviceURL) {
        std::fprintf(stderr, "quillpost: 服务地址“%s”无效：必须是 https 地址，或本机（127.0.0.1、::1、localhost）上的 http 地址。\n",
                     origin.constData());
        return 2;
    }

    quillpost::choosePlatformPlugin();
    QApplication application(argc, argv);
    QApplication::setStyle(new quillpost::DeferredIconStyle);
    QApplication::setApplicationName(QStringLiteral("Quillpost"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLPOST_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(QUILLPOST_APP_ID));
    // Qt has taken its own options now; anything left that is not ours is refused.
    if (const std::optional<int> status = quillpost::runCommandLine(argc, argv))
        return *status;

    quillpost::SingleInstance instance;
    if (instance.notifyRunningInstance())
        return 0;
    instance.listen();
    quillpost::installQtTranslations(application);

    quillpost::KeychainStore keychain;
    quillpost::KeychainStore remoteDesktopConsent(quillpost::KeychainStore::remoteDesktopKey,
                                                  "Quillpost 远程输入授权");
    const auto platform = quillpost::makePlatform(&remoteDesktopConsent);
    quillpost::AppDelegate delegate(*serviceURL, &keychain, platform->platform());
    QObject::connect(&instance, &quillpost::SingleInstance::activationRequested, &delegate,
                     &quillpost::AppDelegate::showWindow);
    instance.setPasteLatestHandler(&delegate, [&delegate] { return delegate.pasteLatest(); });
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
