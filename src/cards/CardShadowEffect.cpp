#include "cards/CardShadowEffect.h"

#include "platform/SystemColors.h"

#include <QBackingStore>
#include <QCache>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

// Qt's own blur, the one its drop shadow uses; exported by Qt Widgets but not declared in a
// public header.
QT_BEGIN_NAMESPACE
Q_WIDGETS_EXPORT void qt_blurImage(QPainter *painter, QImage &blurImage, qreal radius, bool quality, bool alphaOnly,
                                   int transposed = 0);
QT_END_NAMESPACE

namespace quillpost {

namespace {

// A few looks (neutral, each space colour, read-only) at one or two sizes: a few MiB at most.
constexpr int cacheKiB = 4096;

QCache<QString, QImage> &shadowCache()
{
    static QCache<QString, QImage> cache(cacheKiB);
    return cache;
}

int madeCount = 0;

} // namespace

QColor CardShadowEffect::color()
{
    // A layer shadow of colour alpha 0.12 at opacity 0.18; its radius 7 is a Gaussian radius,
    // about half of Qt's blur radius.
    return SystemColors::rgba(0.15, 0.15, 0.15, 0.12 * 0.18);
}

CardShadowEffect::CardShadowEffect(const QString &look, QObject *parent)
    : QGraphicsEffect(parent)
    , m_look(look)
{
}

void CardShadowEffect::setOpacity(qreal opacity)
{
    opacity = qBound(0.0, opacity, 1.0);
    if (qFuzzyCompare(opacity, m_opacity))
        return;
    m_opacity = opacity;
    update();
}

QRectF CardShadowEffect::boundingRectFor(const QRectF &rect) const
{
    return rect.united(rect.translated(offset).adjusted(-blurRadius, -blurRadius, blurRadius, blurRadius));
}

int CardShadowEffect::shadowsMade()
{
    return madeCount;
}

QImage CardShadowEffect::shadowImage(const QSize &size, qreal pixelRatio)
{
    const QString key = QStringLiteral("%1|%2x%3@%4").arg(m_look).arg(size.width()).arg(size.height()).arg(pixelRatio);
    if (const QImage *cached = shadowCache().object(key))
        return *cached;

    // As Qt's drop shadow makes it: the card rendered with room for the shadow around it, its
    // alpha moved by the offset and blurred, then filled with the shadow colour.
    QPoint origin;
    const QPixmap source = sourcePixmap(Qt::LogicalCoordinates, &origin, PadToEffectiveBoundingRect);
    QImage moved(source.size(), QImage::Format_ARGB32_Premultiplied);
    moved.setDevicePixelRatio(source.devicePixelRatio());
    moved.fill(0);
    QPainter painter(&moved);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawPixmap(offset, source);
    painter.end();

    QImage shadow(moved.size(), QImage::Format_ARGB32_Premultiplied);
    shadow.setDevicePixelRatio(moved.devicePixelRatio());
    shadow.fill(0);
    painter.begin(&shadow);
    qt_blurImage(&painter, moved, blurRadius, false, true);
    painter.end();
    painter.begin(&shadow);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(shadow.rect(), color());
    painter.end();

    ++madeCount;
    shadowCache().insert(key, new QImage(shadow), int(shadow.sizeInBytes() / 1024));
    return shadow;
}

void CardShadowEffect::draw(QPainter *painter)
{
    if (m_opacity <= 0)
        return;
    const QRect source = sourceBoundingRect(Qt::LogicalCoordinates).toAlignedRect();
    const QRect padded = boundingRectFor(source).toAlignedRect();
    const qreal pixelRatio = painter->device()->devicePixelRatio();

    if (m_opacity < 1) {
        // Fading in, the card and its shadow are one image, made at the first step and drawn at
        // each step's opacity: they fade together, as one layer.
        if (m_layer.isNull() || m_layerSize != source.size() || m_layer.devicePixelRatio() != pixelRatio) {
            const QImage shadow = shadowImage(source.size(), pixelRatio);
            QPoint origin;
            const QPixmap card = sourcePixmap(Qt::LogicalCoordinates, &origin, NoPad);
            m_layer = QImage(shadow.size(), QImage::Format_ARGB32_Premultiplied);
            m_layer.setDevicePixelRatio(shadow.devicePixelRatio());
            m_layer.fill(0);
            QPainter layer(&m_layer);
            layer.drawImage(QPoint(0, 0), shadow);
            layer.drawPixmap(origin - padded.topLeft(), card);
            layer.end();
            m_layerSize = source.size();
        }
        painter->save();
        painter->setOpacity(painter->opacity() * m_opacity);
        painter->drawImage(padded.topLeft(), m_layer);
        painter->restore();
        return;
    }

    m_layer = QImage();
    painter->drawImage(padded.topLeft(), shadowImage(source.size(), pixelRatio));
    // Painted on screen, the card paints directly over its shadow. Rendered elsewhere
    // (QWidget::render, grab), it goes through an image: Qt 6.4 offsets a directly drawn effect
    // source a second time there.
    const auto *card = qobject_cast<const QWidget *>(parent());
    QBackingStore *store = card ? card->window()->backingStore() : nullptr;
    if (store && painter->device() == store->paintDevice()) {
        drawSource(painter);
        return;
    }
    QPoint origin;
    const QPixmap image = sourcePixmap(Qt::LogicalCoordinates, &origin, NoPad);
    painter->drawPixmap(origin, image);
}

} // namespace quillpost
