#include "joystickwidget.h"
#include "ui_joystickwidget.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kFrameOffset = 15;
constexpr int kSideMargin = 50;
constexpr int kTickLength = 10;
constexpr int kKnobSize = 16;

// Joystick values come from the network and are not clamped, so a huge or
// non-finite value must not reach the integer conversion (undefined
// behaviour). Any shift beyond this bound is far outside every possible
// widget, so the picture is the same as without the bound.
constexpr double kMaxShift = 1 << 24;

int truncatedShift(int half, double value)
{
    const double shift = half * value;
    if (std::isnan(shift))
        return 0;
    return static_cast<int>(std::clamp(shift, -kMaxShift, kMaxShift));
}

// NaN never equals itself, and -0.0 equals 0.0 yet is kept as it came.
bool sameValue(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

JoystickGeometry JoystickGeometry::compute(const QSize& size, double valueX, double valueY,
                                           bool pressed)
{
    JoystickGeometry g;
    g.side =
        size.width() < size.height() ? size.width() - kSideMargin : size.height() - kSideMargin;
    const int s = g.side;
    g.frame = QRect(kFrameOffset, kFrameOffset, s, s);

    const int middle = kFrameOffset + s / 2;
    g.verticalLine =
        QLine(middle, kFrameOffset - kTickLength, middle, kFrameOffset + s + kTickLength);
    g.horizontalLine =
        QLine(kFrameOffset - kTickLength, middle, kFrameOffset + s + kTickLength, middle);

    const int r = (s - kKnobSize) / 2;
    const int h = s / 2;
    g.knob = g.frame.adjusted(r, r, -r, -r)
                 .translated(truncatedShift(h, valueX), -truncatedShift(h, valueY));

    g.ringColor = (valueX != 0.0 || valueY != 0.0) ? QColor(Qt::red) : QColor(Qt::black);
    g.ringWidth = 2;
    if (pressed) {
        g.ringColor = QColor(Qt::red);
        g.ringWidth = 7;
    }
    return g;
}

JoystickWidget::JoystickWidget(QWidget* parent)
    : QWidget(parent), pressed(false), valueX(0.0), valueY(0.0),
      ui(std::make_unique<Ui::JoystickWidgetClass>())
{
    ui->setupUi(this);
    setMinimumSize(100, 100);
}

JoystickWidget::~JoystickWidget() = default;

// The panel sets the state with every frame shown; only a change asks for a
// paint, and only of the indicator.
void JoystickWidget::setPressed(bool value)
{
    if (pressed != value) {
        pressed = value;
        update();
    }
}

void JoystickWidget::setValueX(double value)
{
    if (!sameValue(valueX, value)) {
        valueX = value;
        update();
    }
}

void JoystickWidget::setValueY(double value)
{
    if (!sameValue(valueY, value)) {
        valueY = value;
        update();
    }
}

JoystickGeometry JoystickWidget::currentGeometry() const
{
    JoystickGeometry g = JoystickGeometry::compute(size(), valueX, valueY, pressed);
    // Disabled, the indicator stands for a Skywand that is not tracked.
    if (!isEnabled())
        g.ringColor = QColor(Qt::gray);
    return g;
}

QSize JoystickWidget::sizeHint() const
{
    return QSize(1000, 1000);
}

void JoystickWidget::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    const JoystickGeometry g = currentGeometry();

    QPainter painter(this);
    // The device painted on: the window's backing store, or a grab's pixmap.
    const qreal ratio = painter.paintEngine()->paintDevice()->devicePixelRatioF();
    painter.drawPixmap(0, 0, background(g, ratio));
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen = framePen();
    pen.setColor(g.ringColor);
    pen.setWidth(g.ringWidth);
    painter.setPen(pen);
    painter.setBrush(QBrush(Qt::white, Qt::SolidPattern));
    painter.drawEllipse(g.knob);
}

QPen JoystickWidget::framePen()
{
    return QPen(QBrush(Qt::darkGray), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

// The frame, its circle and the cross hair depend on the size alone; drawn
// once into a pixmap they cost one copy per paint instead of antialiased
// curves. At whole pixel ratios every pixel they touch is covered fully or
// not at all (a pen of two pixels on whole coordinates, the circle inside the
// filled frame), so the copy gives the very pixels drawing in place did; at
// fractional ratios a few edge pixels may differ by one level in 255.
const QPixmap& JoystickWidget::background(const JoystickGeometry& g, qreal ratio)
{
    if (backgroundCache.deviceIndependentSize().toSize() == size() &&
        backgroundCache.devicePixelRatio() == ratio)
        return backgroundCache;
    backgroundCache = QPixmap((QSizeF(size()) * ratio).toSize());
    backgroundCache.setDevicePixelRatio(ratio);
    backgroundCache.fill(Qt::transparent);
    QPainter painter(&backgroundCache);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(framePen());
    painter.setBrush(QBrush(Qt::white, Qt::SolidPattern));
    painter.drawRect(g.frame);
    painter.drawEllipse(g.frame);
    painter.drawLine(g.verticalLine);
    painter.drawLine(g.horizontalLine);
    return backgroundCache;
}
