#include "cards/CircularAvatar.h"

#include <QPainter>
#include <QtMath>

#include <algorithm>

namespace quillpost {

QPixmap circularAvatarImage(const QImage &source, int size, qreal devicePixelRatio)
{
    if (source.isNull() || size < 1)
        return {};
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int side = std::max(1, qCeil(size * ratio));

    const int w = source.width();
    const int h = source.height();
    const int s = std::min(w, h);
    const QRect crop((w - s) / 2, (h - s) / 2, s, s);
    // Scaling the crop once with a smooth filter gives a better result for large sources than
    // the painter's bilinear transform, and the brush below then maps texel to pixel 1:1.
    const QImage scaled = source.copy(crop)
                              .convertToFormat(QImage::Format_ARGB32_Premultiplied)
                              .scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    QImage out(side, side, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    {
        QPainter painter(&out);
        // A filled ellipse is antialiased; a clip path would give a jagged edge.
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QBrush(scaled));
        painter.drawEllipse(QRectF(0, 0, side, side));
    }
    out.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(std::move(out));
}

} // namespace quillpost
