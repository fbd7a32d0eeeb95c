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
