#pragma once

#include <QColor>
#include <QLine>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <memory>

namespace Ui {
class JoystickWidgetClass;
}
class QPen;

// Everything the indicator draws, worked out from its size and state alone so
// that it can be checked without a display.
struct JoystickGeometry
{
    int side = 0;       // length of the frame's sides
    QRect frame;        // square frame with the inscribed circle
    QLine verticalLine; // cross hair, overshooting the frame by the tick length
    QLine horizontalLine;
    QRect knob;        // knob rectangle after the displacement
    QColor ringColor;  // colour of the knob's ring
    int ringWidth = 0; // width of the knob's ring

    static JoystickGeometry compute(const QSize& size, double valueX, double valueY, bool pressed);
};

class JoystickWidget : public QWidget
{
    Q_OBJECT

public:
    explicit JoystickWidget(QWidget* parent = nullptr);
    ~JoystickWidget() override;

    void setPressed(bool pressed);
    void setValueX(double value);
    void setValueY(double value);

    bool isPressed() const { return pressed; }
    double horizontalValue() const { return valueX; }
    double verticalValue() const { return valueY; }

    // The geometry the next paint will draw; the knob's ring is grey while
    // the widget is disabled.
    JoystickGeometry currentGeometry() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static QPen framePen();
    // The pixels of the frame, circle and cross hair at the painted device's
    // pixel ratio.
    const QPixmap& background(const JoystickGeometry& g, qreal ratio);

    bool pressed;
    double valueX;
    double valueY;
    std::unique_ptr<Ui::JoystickWidgetClass> ui;
    QPixmap backgroundCache;
};
