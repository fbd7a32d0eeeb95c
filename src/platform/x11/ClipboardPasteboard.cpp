#include "platform/x11/ClipboardPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScopedValueRollback>

namespace quillpost {

ClipboardPasteboard::ClipboardPasteboard(QObject *parent) : QObject(parent)
{
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !m_settingText)
            ++m_changes;
    });
}

void ClipboardPasteboard::setText(const QString &text)
{
    ++m_changes;
    const QScopedValueRollback settingText(m_settingText, true);
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

void ClipboardPasteboard::setSelectionText(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection())
        clipboard->setText(text, QClipboard::Selection);
}

} // namespace quillpost
