#include "widgets/SafePlainTextEdit.h"

#include <QMimeData>

namespace quillpost {

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
