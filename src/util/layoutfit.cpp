#include "layoutfit.h"

#include <algorithm>
#include <cmath>

namespace qx {

double FitScale(const QSize &design, const QSize &room)
{
    if (room.isEmpty() || design.isEmpty())
        return 1.0;
    const double fit = std::min(double(room.width()) / design.width(), double(room.height()) / design.height());
    return std::clamp(fit, kLeastLayoutScale, 1.0);
}

double ScaleForSize(const QSize &design, const QSize &size)
{
    if (design.isEmpty())
        return 1.0;
    const double s = std::min(double(size.width()) / design.width(), double(size.height()) / design.height());
    return std::max(s, kLeastLayoutScale);
}

QRect ScaledRect(const QRect &design, double scale)
{
    const auto at = [scale](int v) { return int(std::lround(v * scale)); };
    const int left = at(design.x()), top = at(design.y());
    return QRect(left, top, at(design.x() + design.width()) - left, at(design.y() + design.height()) - top);
}

QPoint KeepInside(const QRect &frame, const QRect &area)
{
    const int x = std::max(area.left(), std::min(frame.left(), area.left() + area.width() - frame.width()));
    const int y = std::max(area.top(), std::min(frame.top(), area.top() + area.height() - frame.height()));
    return {x, y};
}

} // namespace qx
