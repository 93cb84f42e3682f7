#pragma once

#include <QPointF>
#include <QRect>

// Where the overview draws each tile and what sits in it, as arithmetic a
// test calls without a display. Tiles run left to right in as many columns
// as the width holds (at least one), then down.
struct TileGeometry
{
    static constexpr int kWidth = 236;
    static constexpr int kHeight = 124;
    static constexpr int kGap = 6;
    static constexpr int kButtonsPerRow = 8; // two rows hold a record's 16 buttons
    static constexpr int kButtonSize = 12;

    static int columns(int width);
    // The height that count tiles need at width.
    static int contentHeight(int count, int width);
    static QRect tileRect(int index, int width);
    // The tile under point, or -1 for the gaps and past the last tile.
    static int indexAt(const QPoint& point, int count, int width);
    // Inside a tile: button i (0 .. 15), the stick's circle and its dot for a
    // stick at x, y (-1 .. 1 each, y up; values outside are held at the rim).
    static QRect buttonRect(const QRect& tile, int button);
    static QRect stickCircle(const QRect& tile);
    static QPointF stickDot(const QRect& tile, double x, double y);
};
