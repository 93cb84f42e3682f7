#include "tilegeometry.h"

#include <algorithm>
#include <cmath>

int TileGeometry::columns(int width)
{
    return std::max(1, (width - kGap) / (kWidth + kGap));
}

int TileGeometry::contentHeight(int count, int width)
{
    if (count <= 0)
        return 0;
    const int rows = (count + columns(width) - 1) / columns(width);
    return kGap + rows * (kHeight + kGap);
}

QRect TileGeometry::tileRect(int index, int width)
{
    const int cols = columns(width);
    const int row = index / cols;
    const int col = index % cols;
    return QRect(kGap + col * (kWidth + kGap), kGap + row * (kHeight + kGap), kWidth, kHeight);
}

int TileGeometry::indexAt(const QPoint& point, int count, int width)
{
    if (point.x() < 0 || point.y() < 0)
        return -1;
    const int cols = columns(width);
    const int col = point.x() / (kWidth + kGap);
    const int row = point.y() / (kHeight + kGap);
    if (col >= cols)
        return -1;
    const int index = row * cols + col;
    if (index >= count || !tileRect(index, width).contains(point))
        return -1;
    return index;
}

QRect TileGeometry::buttonRect(const QRect& tile, int button)
{
    const int row = button / kButtonsPerRow;
    const int col = button % kButtonsPerRow;
    return QRect(tile.left() + 8 + col * (kButtonSize + 3),
                 tile.top() + 62 + row * (kButtonSize + 3), kButtonSize, kButtonSize);
}

QRect TileGeometry::stickCircle(const QRect& tile)
{
    const int size = 2 * kButtonSize + 3;
    return QRect(tile.right() - 8 - size, tile.top() + 62, size, size);
}

QPointF TileGeometry::stickDot(const QRect& tile, double x, double y)
{
    const QRect circle = stickCircle(tile);
    const double r = circle.width() / 2.0;
    if (!std::isfinite(x))
        x = 0.0;
    if (!std::isfinite(y))
        y = 0.0;
    const double length = std::hypot(x, y);
    if (length > 1.0) {
        x /= length;
        y /= length;
    }
    const QPointF centre = QRectF(circle).center();
    return QPointF(centre.x() + x * r, centre.y() - y * r);
}
