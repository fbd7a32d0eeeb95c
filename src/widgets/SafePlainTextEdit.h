#pragma once

#include <QPlainTextEdit>

namespace quillpost {

// A plain-text editor that survives a paste while nothing owns the clipboard: Qt 6.4's
// QPlainTextEdit dereferences the missing mime data and crashes. Every multi-line editor of the
// program is one of these. It also takes only plain text from a paste or a drop.
class SafePlainTextEdit : public QPlainTextEdit
{
    Q_OBJECT

public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
};

} // namespace quillpost
