#pragma once

#include <QProxyStyle>

namespace quillpost {

// The desktop's own style, with one change: a standard icon (the menu bar's overflow arrow, a
// message box's symbol, ...) is read from its file when it is first drawn rather than when a
// widget asks for it. Qt reads those files by asking every image format plugin whether it knows
// the file, which loads them all (and Qt SVG with them) into a program that may never show one
// of these icons: the menu bar's arrow, made with the menu bar, shows only when its menus do not
// fit.
class DeferredIconStyle final : public QProxyStyle
{
public:
    // Wraps `base`, or the desktop's default style when null.
    explicit DeferredIconStyle(QStyle *base = nullptr);

    QIcon standardIcon(StandardPixmap icon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};

} // namespace quillpost
