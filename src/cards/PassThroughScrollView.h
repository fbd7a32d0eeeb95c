#pragma once

#include "widgets/SafePlainTextEdit.h"

namespace quillpost {

// A plain-text scroll view that hands the mouse wheel to the nearest enclosing scroll area, so
// that wheeling over a card's text scrolls the card list rather than the text. Only when no
// scroll area encloses it does it scroll its own text. Its scroll bars still scroll the text
// when dragged or clicked; the wheel over them is handed on like the wheel over the text.
class PassThroughScrollView : public SafePlainTextEdit
{
    Q_OBJECT

public:
    explicit PassThroughScrollView(QWidget *parent = nullptr);

protected:
    void wheelEvent(QWheelEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Gives the event to the nearest enclosing scroll area; false when there is none.
    bool passOn(QWheelEvent *event);
};

} // namespace quillpost
