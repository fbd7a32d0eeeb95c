#include "delivery/DeliveryStatus.h"

#include "delivery/PasteDelivery.h"

namespace quillpost {

namespace {

const QString copiedForHand = QStringLiteral("内容已复制，可手动粘贴。");

} // namespace

StatusText notTrustedStatus(MissingTrust reason, const PasteDeliveryOptions &options)
{
    switch (reason) {
    case MissingTrust::Permission:
        break;
    case MissingTrust::ConsentRefused:
        return {QStringLiteral("未获远程控制许可"),
                QStringLiteral("“远程桌面”请求被拒绝，或已从顶栏停止，这次运行不再询问。") + copiedForHand
                    + QStringLiteral("重新打开 Quillpost 后，粘贴时会再次询问。")};
    case MissingTrust::NotOffered:
        return {QStringLiteral("仅复制：桌面不允许输入"),
                QStringLiteral("这个桌面不让 Quillpost 向其他窗口输入按键（KDE Plasma 上请使用安装的 Quillpost）。")
                    + copiedForHand};
    case MissingTrust::NoClipboardOwner:
        return {QStringLiteral("仅复制：无法后台粘贴"),
                QStringLiteral("这个桌面只在 Quillpost 窗口在前台时接受它的剪贴板，按粘贴键只会贴出旧内容，所以没有输入。"
                               "请在 Quillpost 里复制后手动粘贴。")};
    }
    return {options.notTrustedMessage,
            QStringLiteral("Quillpost 需要模拟按键的权限才能自动粘贴。") + copiedForHand};
}

std::optional<StatusText> notTypedStatus(KeystrokeResult result, const PasteDeliveryOptions &options)
{
    switch (result) {
    case KeystrokeResult::Posted:
    case KeystrokeResult::Superseded:
        return std::nullopt;
    case KeystrokeResult::NotPermitted:
        return notTrustedStatus(MissingTrust::ConsentRefused, options);
    case KeystrokeResult::Stopped:
        return StatusText{QStringLiteral("未输入：剪贴板已变"),
                          QStringLiteral("输入前剪贴板换成了别的内容，为免输错，没有按粘贴键；剪贴板里的新内容保持不变。")};
    case KeystrokeResult::NotFocused:
        return StatusText{QStringLiteral("未输入：目标不在前台"),
                          QStringLiteral("目标窗口已不在前台，为免输进别的窗口，没有按粘贴键。") + copiedForHand};
    case KeystrokeResult::ModifiersHeld:
        return StatusText{QStringLiteral("未输入：有按键按着"),
                          QStringLiteral("Ctrl、Shift 等按键一直按着，为免触发别的快捷键，没有按粘贴键。") + copiedForHand};
    case KeystrokeResult::NoKeycode:
        return StatusText{QStringLiteral("未输入：布局缺粘贴键"),
                          QStringLiteral("当前键盘布局里没有粘贴所需的按键。") + copiedForHand};
    case KeystrokeResult::Unavailable:
        return StatusText{QStringLiteral("未输入：无法模拟按键"),
                          QStringLiteral("这里无法模拟按键。") + copiedForHand};
    }
    return std::nullopt;
}

StatusText pinnedWithoutKeepAboveStatus()
{
    return {QStringLiteral("悬浮：只自动复制"),
            QStringLiteral("此桌面不支持窗口置顶：悬浮时窗口不会停在最上面，只自动复制新内容。")};
}

QList<StatusText> allDeliveryStatusTexts(const PasteDeliveryOptions &options)
{
    QList<StatusText> texts{pinnedWithoutKeepAboveStatus()};
    for (const MissingTrust reason : {MissingTrust::Permission, MissingTrust::ConsentRefused, MissingTrust::NotOffered,
                                      MissingTrust::NoClipboardOwner})
        texts << notTrustedStatus(reason, options);
    for (const KeystrokeResult result :
         {KeystrokeResult::Stopped, KeystrokeResult::NotFocused, KeystrokeResult::ModifiersHeld,
          KeystrokeResult::NoKeycode, KeystrokeResult::Unavailable})
        texts << *notTypedStatus(result, options);
    return texts;
}

} // namespace quillpost
