#pragma once

#include <QColor>
#include <QGraphicsEffect>
#include <QImage>
#include <QString>

namespace quillpost {

// The card's drop shadow and its arrival fade, as one effect on the card.
//
// The shadow is Qt's drop shadow (the card's alpha, blurred, in the shadow colour, moved down a
// little), but it is made once per card look, size and pixel ratio and kept, instead of rendering
// the card offscreen and blurring it on every paint. Cards of one look share one image.
//
// While the card fades in, the card and its shadow are drawn as one layer (an offscreen image) at
// the effect's opacity, so that its parts do not show through each other and the shadow fades
// with what casts it. The steps of a fade share the layer of its first step. Opaque, the card
// paints directly over its shadow.
class CardShadowEffect : public QGraphicsEffect
{
    Q_OBJECT
    Q_PROPERTY(qreal opacity READ opacity WRITE setOpacity)

public:
    static constexpr qreal blurRadius = 14;
    static constexpr QPointF offset{0, 3};
    static QColor color();

    // `look` names what decides the card's alpha (its colours, its buttons): cards with the same
    // look and size share a shadow image.
    explicit CardShadowEffect(const QString &look, QObject *parent = nullptr);

    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity);

    QRectF boundingRectFor(const QRectF &rect) const override;

    // How many shadow images have been made so far, by all cards.
    static int shadowsMade();

protected:
    void draw(QPainter *painter) override;

private:
    QImage shadowImage(const QSize &size, qreal pixelRatio);

    QString m_look;
    qreal m_opacity = 1.0;
    // The card over its shadow as drawn at the first step of its fade, for the later steps.
    QImage m_layer;
    QSize m_layerSize;
};

} // namespace quillpost
