#pragma once

#include <QFont>
#include <QPalette>
#include <QString>

class QWidget;

namespace quillpost {

// The application's font family at a size in logical pixels. The sizes of this design are
// those of a desktop whose points are logical pixels, so they are set as pixel sizes here.
QFont pixelFont(const QFont &base, int pixels, QFont::Weight weight = QFont::Normal);

// The light palette every screen is drawn with, whatever the desktop's theme: the screens' own
// colours are fixed, mostly dark texts on light backgrounds, and must not meet a dark desktop's
// backgrounds or light texts. Popup menus and alerts keep the desktop's look.
QPalette lightPalette();

// Sets one colour role of a widget's palette.
void setColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour);

// The texts of a modal confirmation: the question, its explanation and the two buttons (the
// confirming one first; it is the default, the other answers Escape).
struct Confirmation
{
    QString text;
    QString informativeText;
    QString confirmTitle;
    QString cancelTitle = QStringLiteral("取消");
};

// Asks the question in a modal alert over `parent`, in plain text. True only when the user
// chose the confirming button; false also when `parent` was destroyed while the alert waited
// (the alert goes with it).
bool confirm(QWidget *parent, const Confirmation &confirmation);

} // namespace quillpost
