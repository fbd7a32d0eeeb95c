#pragma once

#include <QImage>
#include <QPixmap>

namespace quillpost {

// A size × size (logical pixels) picture of the centred square of `source` inside a circle,
// rendered at `devicePixelRatio` so that it stays sharp on HiDPI screens. A wide or tall source
// loses equal parts on both long sides; it is never stretched. Outside the circle the picture
// is transparent. A null source or a size below 1 gives a null pixmap: there is no placeholder.
QPixmap circularAvatarImage(const QImage &source, int size, qreal devicePixelRatio);

} // namespace quillpost
