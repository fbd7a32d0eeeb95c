#pragma once

#include <QWidget>

namespace quillpost {

// The document view of the receiver panel's scrolling card list. Qt's coordinates already run
// top-down, so the list starts at the top of the scroll area and its scroll origin is the top
// of the list without anything added here; the type names the role of that widget.
class FlippedReceiverView : public QWidget
{
    Q_OBJECT

public:
    using QWidget::QWidget;
};

} // namespace quillpost
