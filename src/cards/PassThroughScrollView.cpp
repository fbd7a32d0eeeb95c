#include "cards/PassThroughScrollView.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <QWheelEvent>

namespace quillpost {

PassThroughScrollView::PassThroughScrollView(QWidget *parent)
    : SafePlainTextEdit(parent)
{
    verticalScrollBar()->installEventFilter(this);
    horizontalScrollBar()->installEventFilter(this);
}

void PassThroughScrollView::wheelEvent(QWheelEvent *event)
{
    if (!passOn(event))
        SafePlainTextEdit::wheelEvent(event);
}

bool PassThroughScrollView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel
        && (watched == verticalScrollBar() || watched == horizontalScrollBar()))
        return passOn(static_cast<QWheelEvent *>(event));
    return SafePlainTextEdit::eventFilter(watched, event);
}

bool PassThroughScrollView::passOn(QWheelEvent *event)
{
    QAbstractScrollArea *enclosing = nullptr;
    for (QWidget *ancestor = parentWidget(); ancestor && !enclosing; ancestor = ancestor->parentWidget()) {
        enclosing = qobject_cast<QAbstractScrollArea *>(ancestor);
        if (ancestor->isWindow())
            break;
    }
    if (!enclosing)
        return false;

    // The enclosing area reads the wheel from its viewport, in the viewport's coordinates. An
    // enclosing PassThroughScrollView hands it on in turn.
    QWidget *target = enclosing->viewport();
    QWheelEvent forwarded(target->mapFromGlobal(event->globalPosition()), event->globalPosition(),
                          event->pixelDelta(), event->angleDelta(), event->buttons(), event->modifiers(),
                          event->phase(), event->inverted(), event->source(), event->pointingDevice());
    QCoreApplication::sendEvent(target, &forwarded);
    // The wheel has been offered to the list; it must not come back up to it through the
    // ordinary propagation of an ignored event.
    event->accept();
    return true;
}

} // namespace quillpost
