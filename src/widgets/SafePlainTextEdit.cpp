#include "widgets/SafePlainTextEdit.h"

#include <QMimeData>
#include <QScopedValueRollback>

namespace quillpost {

SafePlainTextEdit::SafePlainTextEdit(QWidget *parent) : QPlainTextEdit(parent)
{
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (isReadOnly() && !m_settingText && toPlainText() != m_shown)
            setText(m_text);
    });
}

void SafePlainTextEdit::setText(const QString &text)
{
    const QScopedValueRollback settingText(m_settingText, true);
    setPlainText(text);
    m_text = text;
    m_shown = toPlainText();
}

QString SafePlainTextEdit::text() const
{
    const QString shown = toPlainText();
    return shown == m_shown ? m_text : shown;
}

bool SafePlainTextEdit::canInsertFromMimeData(const QMimeData *source) const
{
    return source && source->hasText();
}

void SafePlainTextEdit::insertFromMimeData(const QMimeData *source)
{
    if (!source || !source->hasText() || isReadOnly())
        return;
    textCursor().insertText(source->text());
    ensureCursorVisible();
}

} // namespace quillpost
