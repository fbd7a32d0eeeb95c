#include "app/AppDelegate.h"
#include "app/SingleInstance.h"
#include "platform/DesktopPlatform.h"
#include "platform/secret/KeychainStore.h"
#include "service/APIClient.h"
#include "service/QtTranslations.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    const auto serviceURL = quillpost::makeServiceURL(QStringLiteral(QUILLPOST_SERVICE_URL));
    if (!serviceURL) {
        std::fprintf(stderr, "quillpost: 服务地址“%s”无效：必须是 https 地址，或本机（127.0.0.1、::1、localhost）上的 http 地址。\n",
                     QUILLPOST_SERVICE_URL);
        return 2;
    }

    quillpost::choosePlatformPlugin();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillpost"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLPOST_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(QUILLPOST_APP_ID));

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
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
