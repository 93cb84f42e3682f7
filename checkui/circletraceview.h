#pragma once

#include <QRectF>
#include <QWidget>

#include <vector>

struct JoystickPoint;

// Draws the joystick's path during the circle step as it grows: the unit
// circle the stick should reach, the inner circle below which samples do not
// count, and the coverage so far.
class CircleTraceView : public QWidget
{
public:
    explicit CircleTraceView(QWidget* parent = nullptr);

    // The trace is not copied; it must outlive the view or be replaced.
    void setTrace(const std::vector<JoystickPoint>* points, double coverage);

    // The square the unit circle fills, centred in a widget of this size.
    static QRectF plotArea(const QSizeF& size);
    // Joystick values (y up) to widget coordinates (y down).
    static QPointF toWidget(const QRectF& area, float x, float y);

    QSize sizeHint() const override { return {260, 260}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const std::vector<JoystickPoint>* trace = nullptr;
    double coverage = 0.0;
};
