#include "widgets/Styling.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

namespace quillpost {

QFont pixelFont(const QFont &base, int pixels, QFont::Weight weight)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QPalette lightPalette()
{
    // Qt derives a whole light palette from a button and a window colour: black text on white
    // fields, dark grey for disabled and placeholder text.
    QPalette palette(QColor(0xef, 0xef, 0xef), QColor(0xf6, 0xf6, 0xf6));
    palette.setColor(QPalette::Highlight, QColor(0x30, 0x8c, 0xc6));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xdc));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    palette.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 110));
    return palette;
}

void setColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

bool confirm(QWidget *parent, const Confirmation &confirmation)
{
    auto *alert = new QMessageBox(parent);
    alert->setIcon(QMessageBox::Question);
    alert->setWindowTitle(confirmation.confirmTitle);
    alert->setTextFormat(Qt::PlainText);
    alert->setText(confirmation.text);
    alert->setInformativeText(confirmation.informativeText);
    QPushButton *yes = alert->addButton(confirmation.confirmTitle, QMessageBox::AcceptRole);
    QPushButton *no = alert->addButton(confirmation.cancelTitle, QMessageBox::RejectRole);
    alert->setDefaultButton(yes);
    alert->setEscapeButton(no);

    const QPointer<QMessageBox> guard(alert);
    alert->exec();
    if (!guard)
        return false;
    const bool confirmed = alert->clickedButton() == yes;
    delete alert;
    return confirmed;
}

} // namespace quillpost
