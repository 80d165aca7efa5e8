#pragma once
// One preview frame drawn turned by its camera's rotation: fitted into the box (into the box with
// width and height swapped for a quarter turn), turned about the centre and clipped to the box.

#include <cstdint>

#include <QImage>
#include <QRectF>

class QPainter;

namespace velk {

void drawCameraFrame(QPainter& painter, const QRectF& box, const QImage& image, std::int64_t rotation);

} // namespace velk
