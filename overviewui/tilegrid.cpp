#include "tilegrid.h"

#include "tilegeometry.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

TileGrid::TileGrid(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("tileGrid"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void TileGrid::setTiles(std::vector<OverviewTile> tiles, int chosen)
{
    const bool resized = tiles.size() != shown.size();
    shown = std::move(tiles);
    selected = chosen;
    if (resized) {
        setMinimumHeight(heightForWidth(width()));
        updateGeometry();
    }
    update();
}

QSize TileGrid::sizeHint() const
{
    const int width = 4 * (TileGeometry::kWidth + TileGeometry::kGap) + TileGeometry::kGap;
    return QSize(width, heightForWidth(width));
}

int TileGrid::heightForWidth(int width) const
{
    return TileGeometry::contentHeight(int(shown.size()), width);
}

void TileGrid::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const int count = int(shown.size());
    for (int i = 0; i < count; ++i) {
        const QRect rect = TileGeometry::tileRect(i, width());
        if (rect.top() > event->rect().bottom())
            break;
        if (rect.intersects(event->rect()))
            paintTile(painter, i, rect);
    }
}

void TileGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The rows follow the width, and the scroll area follows the rows.
    if (minimumHeight() != heightForWidth(width()))
        setMinimumHeight(heightForWidth(width()));
}

void TileGrid::paintTile(QPainter& painter, int index, const QRect& rect) const
{
    const OverviewTile& tile = shown[size_t(index)];
    const ShelfWand& w = tile.wand;
    const bool tracked = w.inFrame;
    const QColor ink = tracked ? QColor(Qt::black) : QColor(Qt::gray);
    painter.setPen(index == selected ? QPen(QColor(0, 90, 200), 3) : QPen(Qt::darkGray));
    painter.setBrush(tracked ? QColor(Qt::white) : QColor(Qt::lightGray));
    painter.drawRect(rect.adjusted(1, 1, -1, -1));

    const int left = rect.left() + 8;
    const int textWidth = rect.width() - 16;
    QFont bold = painter.font();
    bold.setBold(true);
    const QFont plain = painter.font();
    painter.setFont(bold);
    painter.setPen(ink);
    const QString id = !tile.wandId.isEmpty()    ? tile.wandId
                       : tile.proposed.isEmpty() ? QStringLiteral("no wand id")
                                                 : tile.proposed + QStringLiteral("?");
    painter.drawText(
        QRect(left, rect.top() + 4, textWidth, 16), Qt::AlignLeft | Qt::AlignVCenter,
        painter.fontMetrics().elidedText(QStringLiteral("F%1  %2").arg(index + 1).arg(id),
                                         Qt::ElideRight, textWidth));
    painter.setFont(plain);
    const QString state = tracked ? QStringLiteral("quality %1  age %2 s")
                                        .arg(double(w.record.quality), 0, 'f', 2)
                                        .arg(w.dataAge, 0, 'f', 3)
                          : w.dataAge < 0
                              ? QStringLiteral("not tracked")
                              : QStringLiteral("not tracked  age %1 s").arg(w.dataAge, 0, 'f', 3);
    painter.drawText(QRect(left, rect.top() + 22, textWidth, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     state);
    const QString health = w.frames == 0 ? QStringLiteral("10 s: no frames")
                                         : QStringLiteral("10 s: %1 % tracked, %2 missing")
                                               .arg(w.trackedShare() * 100.0, 0, 'f', 1)
                                               .arg(w.missing);
    painter.setPen(w.missing > 0 ? QColor(170, 0, 0) : ink);
    painter.drawText(QRect(left, rect.top() + 40, textWidth, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     health);

    // Buttons and stick as the panel shows them: nothing past the record's
    // counts, and nothing lit for a wand the frame holds no record for.
    const int buttons = tracked ? std::clamp(w.record.numButton, 0, 16) : 0;
    for (int b = 0; b < buttons; ++b) {
        const bool pressed = w.record.button[b] == 1;
        painter.setPen(Qt::darkGray);
        painter.setBrush(pressed ? QColor(Qt::red) : QColor(Qt::lightGray));
        painter.drawRect(TileGeometry::buttonRect(rect, b));
    }
    if (tracked && w.record.numJoystick >= 2) {
        painter.setPen(Qt::darkGray);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(TileGeometry::stickCircle(rect));
        painter.setBrush(QColor(0, 90, 200));
        painter.drawEllipse(TileGeometry::stickDot(rect, double(w.record.joystickValue[0]),
                                                   double(w.record.joystickValue[1])),
                            3.0, 3.0);
    }

    painter.setPen(tile.verdict == QLatin1String("pass") ? QColor(0, 120, 0)
                   : tile.verdict.isEmpty()              ? QColor(Qt::gray)
                                                         : QColor(170, 0, 0));
    const QString last = tile.verdict.isEmpty()
                             ? QStringLiteral("no check on record")
                             : QStringLiteral("last check: %1 %2").arg(tile.verdict, tile.checked);
    painter.drawText(QRect(left, rect.top() + 92, textWidth, 14), Qt::AlignLeft | Qt::AlignVCenter,
                     last);
    if (!tile.wear.isEmpty()) {
        painter.setPen(QColor(170, 90, 0));
        painter.drawText(QRect(left, rect.top() + 106, textWidth, 14),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         painter.fontMetrics().elidedText(QStringLiteral("wear: ") + tile.wear,
                                                          Qt::ElideRight, textWidth));
    }
}

void TileGrid::mousePressEvent(QMouseEvent* event)
{
    const int index =
        TileGeometry::indexAt(event->position().toPoint(), int(shown.size()), width());
    if (index >= 0 && event->button() == Qt::LeftButton)
        emit tileClicked(index);
    QWidget::mousePressEvent(event);
}

void TileGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int index =
        TileGeometry::indexAt(event->position().toPoint(), int(shown.size()), width());
    if (index >= 0)
        emit wandIdWanted(index);
}

void TileGrid::contextMenuEvent(QContextMenuEvent* event)
{
    const int index = TileGeometry::indexAt(event->pos(), int(shown.size()), width());
    if (index < 0)
        return;
    emit tileClicked(index);
    QMenu menu(this);
    QAction* check = menu.addAction(QStringLiteral("Check..."));
    QAction* id = menu.addAction(QStringLiteral("Wand id..."));
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == check)
        emit checkRequested(index);
    else if (chosen == id)
        emit wandIdWanted(index);
}
