#include "director_window/camera_frame_image.hpp"

#include <algorithm>

#include <QPainter>

#include "model/preview_records.hpp"

namespace velk {

void drawCameraFrame(QPainter& painter, const QRectF& box, const QImage& image, std::int64_t rotation) {
    if (image.isNull() || box.isEmpty()) return;
    const int r = CameraFrameOrientation::normalized(rotation);
    const bool swapped = r == 90 || r == 270;
    const double frameWidth = swapped ? box.height() : box.width();
    const double frameHeight = swapped ? box.width() : box.height();
    const double scale = std::min(frameWidth / image.width(), frameHeight / image.height());
    const double width = image.width() * scale;
    const double height = image.height() * scale;

    painter.save();
    painter.setClipRect(box, Qt::IntersectClip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(box.center());
    painter.rotate(r);
    painter.drawImage(QRectF(-width / 2, -height / 2, width, height), image);
    painter.restore();
}

} // namespace velk
