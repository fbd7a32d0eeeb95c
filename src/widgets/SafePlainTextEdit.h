#pragma once

#include <QPlainTextEdit>

namespace quillpost {

// A plain-text editor that survives a paste while nothing owns the clipboard: Qt 6.4's
// QPlainTextEdit dereferences the missing mime data and crashes. Every multi-line editor of the
// program is one of these. It also takes only plain text from a paste or a drop.
//
// It also gives back exactly the text it was given. QPlainTextEdit keeps line breaks as
// paragraph separators and turns CR, CRLF, U+2028 and U+2029 into LF and no-break spaces into
// spaces in toPlainText(), so a clip read back from the editor would quietly change. text() is
// the text given to setText() for as long as what is shown has not been changed (also when the
// user changed it and changed it back), and what is shown once it has.
//
// While read-only it keeps the text given to setText(): Qt's accessibility bridge edits the
// document without asking whether the editor is read-only, and what an assistive tool changes
// there is put back at once.
class SafePlainTextEdit : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit SafePlainTextEdit(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const;

protected:
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    QString m_text;  // as given
    QString m_shown; // as toPlainText() gave it back right after
    bool m_settingText = false;
};

} // namespace quillpost
