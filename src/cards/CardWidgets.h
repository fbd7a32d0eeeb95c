#pragma once

#include <QColor>
#include <QProxyStyle>
#include <QPushButton>
#include <QWidget>

#include <optional>

namespace quillpost {

// A rounded rectangle behind its children, with an optional one-pixel border. Drawn directly
// (not through a style sheet): a card list rebuilds up to 30 cards at once, and per-widget
// style sheets made that several times slower.
class RoundedPanel : public QWidget
{
    Q_OBJECT

public:
    RoundedPanel(QColor fill, std::optional<QColor> border, qreal radius, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    std::optional<QColor> m_border;
    qreal m_radius;
};

// A borderless button of the card: a rounded background (another one while checked), its title
// in a fixed colour, 24 pixels high and as wide as its title. A ring marks keyboard focus.
class CardButton : public QPushButton
{
    Q_OBJECT

public:
    struct Look
    {
        QColor title;
        QColor background;
        QColor checkedBackground; // used by checkable buttons while checked
        int pixelSize = 10;
        QFont::Weight weight = QFont::Normal;
    };

    static constexpr int height = 24;
    static constexpr qreal radius = 7;

    CardButton(const QString &title, const Look &look, QWidget *parent = nullptr);

    // The background drawn in the current state, pressed state aside.
    QColor currentBackground() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    Look m_look;
    // Layouts ask for the size hint many times; measuring the title shapes it each time.
    mutable QString m_measuredText;
    mutable int m_measuredWidth = -1;
};

// A slim vertical scroll bar for the card's text: no arrows, a thin rounded handle, nothing
// drawn while there is nothing to scroll. One instance serves every card (a style sheet per
// scroll bar was the most expensive part of building a card).
class SlimScrollBarStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // The shared instance, owned by the application.
    static SlimScrollBarStyle *instance();

    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl subControl,
                         const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;

private:
    SlimScrollBarStyle() = default;
};

} // namespace quillpost
