#pragma once

#include <QLabel>

namespace quillpost {

// A one-line plain-text label that cuts its text at the tail with "…" when the row is too
// narrow. text() and the accessible name keep the whole text; the tooltip shows it while it is
// cut. Line breaks in the text are shown as spaces.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(const QString &text, QWidget *parent = nullptr);

    // The text as it is drawn at the current width.
    QString displayedText() const;
    bool isElided() const { return displayedText() != text(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Layouts ask for the size hints many times; measuring the text shapes it each time.
    mutable QString m_measuredText;
    mutable int m_measuredWidth = -1;
    int textWidth() const;
};

} // namespace quillpost
