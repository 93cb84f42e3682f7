#include "circletraceview.h"

#include "skywandcheck.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {
// Room around the unit circle for a stick that reaches past 1.
constexpr double kPlotRange = 1.15;
} // namespace

CircleTraceView::CircleTraceView(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(160, 160);
}

void CircleTraceView::setTrace(const std::vector<JoystickPoint>* points, double value)
{
    trace = points;
    coverage = std::isfinite(value) ? value : 0.0;
    update();
}

QRectF CircleTraceView::plotArea(const QSizeF& size)
{
    const double side = std::max(0.0, std::min(size.width(), size.height()) - 8.0);
    return {(size.width() - side) / 2.0, (size.height() - side) / 2.0, side, side};
}

QPointF CircleTraceView::toWidget(const QRectF& area, float x, float y)
{
    const double half = area.width() / 2.0;
    return {area.center().x() + double(x) / kPlotRange * half,
            area.center().y() - double(y) / kPlotRange * half};
}

void CircleTraceView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().base());
    const QRectF area = plotArea(size());
    const double unit = area.width() / 2.0 / kPlotRange;
    const QPointF centre = area.center();

    painter.setPen(QPen(palette().mid().color(), 1.0));
    painter.drawLine(QPointF(area.left(), centre.y()), QPointF(area.right(), centre.y()));
    painter.drawLine(QPointF(centre.x(), area.top()), QPointF(centre.x(), area.bottom()));
    painter.setPen(QPen(palette().text().color(), 1.5));
    painter.drawEllipse(centre, unit, unit);
    painter.setPen(QPen(palette().mid().color(), 1.0, Qt::DashLine));
    painter.drawEllipse(centre, unit * SkywandCheck::kCircleMinRadius,
                        unit * SkywandCheck::kCircleMinRadius);

    if (trace && !trace->empty()) {
        // Points closer than a pixel to the last one drawn add nothing but
        // cost: a stroke over thousands of them takes long enough to hold up
        // the receiver thread on a small machine.
        QPolygonF line;
        QPointF previous = toWidget(area, trace->front().x, trace->front().y);
        line << previous;
        for (const JoystickPoint& p : *trace) {
            const QPointF point = toWidget(area, p.x, p.y);
            if (std::abs(point.x() - previous.x()) + std::abs(point.y() - previous.y()) >= 1.5) {
                line << point;
                previous = point;
            }
        }
        const JoystickPoint& last = trace->back();
        line << toWidget(area, last.x, last.y);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(QColor(0, 90, 200), 2.0));
        painter.drawPolyline(line);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(0, 90, 200));
        painter.drawEllipse(toWidget(area, last.x, last.y), 4.0, 4.0);
    }

    painter.setPen(palette().text().color());
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    painter.setFont(font);
    painter.drawText(rect().adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("coverage %1 %").arg(std::lround(coverage * 100.0)));
}
