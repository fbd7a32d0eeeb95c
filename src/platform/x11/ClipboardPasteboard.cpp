#include "platform/x11/ClipboardPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace quillpost {

void ClipboardPasteboard::setText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

void ClipboardPasteboard::setSelectionText(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection())
        clipboard->setText(text, QClipboard::Selection);
}

} // namespace quillpost
