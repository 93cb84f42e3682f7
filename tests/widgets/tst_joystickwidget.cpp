#include "joystickwidget.h"

#include <QImage>
#include <QtTest>

#include <limits>

namespace {

enum class Shade
{
    White,
    Black,
    Red,
    Gray,
    Other
};

Shade shadeAt(const QImage& image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    if (c.red() > 230 && c.green() > 230 && c.blue() > 230)
        return Shade::White;
    if (c.red() < 60 && c.green() < 60 && c.blue() < 60)
        return Shade::Black;
    if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
        return Shade::Red;
    if (qAbs(c.red() - 128) < 30 && qAbs(c.green() - 128) < 30 && qAbs(c.blue() - 128) < 30)
        return Shade::Gray;
    return Shade::Other;
}

QImage renderIndicator(const QSize& size, double valueX, double valueY, bool pressed)
{
    JoystickWidget widget;
    widget.resize(size);
    widget.setValueX(valueX);
    widget.setValueY(valueY);
    widget.setPressed(pressed);
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image);
    return image;
}

} // namespace

Q_DECLARE_METATYPE(Shade)

class TestJoystickWidget : public QObject
{
    Q_OBJECT

private slots:
    void construction();
    void geometry_data();
    void geometry();
    void crossHairAtMinimumSize();
    void hostileValuesStayBounded_data();
    void hostileValuesStayBounded();
    void renderedKnob_data();
    void renderedKnob();
    void frameAnchoredTopLeft();
};

void TestJoystickWidget::construction()
{
    JoystickWidget widget;
    QCOMPARE(widget.objectName(), QStringLiteral("JoystickWidgetClass"));
    QCOMPARE(widget.windowTitle(), QStringLiteral("JoystickWidget"));
    QCOMPARE(widget.minimumSize(), QSize(100, 100));
    QCOMPARE(widget.sizeHint(), QSize(1000, 1000));
    QVERIFY(!widget.isPressed());
    QCOMPARE(widget.horizontalValue(), 0.0);
    QCOMPARE(widget.verticalValue(), 0.0);

    JoystickWidget named;
    named.setObjectName("indicator");
    QCOMPARE(named.objectName(), QStringLiteral("indicator"));
}

void TestJoystickWidget::geometry_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("valueX");
    QTest::addColumn<double>("valueY");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<int>("side");
    QTest::addColumn<QRect>("knob");
    QTest::addColumn<QColor>("ring");
    QTest::addColumn<int>("ringWidth");

    const QColor red(Qt::red);
    const QColor black(Qt::black);
    // clang-format off
    QTest::newRow("centred")        << QSize(100, 100) << 0.0 << 0.0 << false << 50 << QRect(32, 32, 16, 16) << black << 2;
    QTest::newRow("right")          << QSize(100, 100) << 1.0 << 0.0 << false << 50 << QRect(57, 32, 16, 16) << red << 2;
    QTest::newRow("left")           << QSize(100, 100) << -1.0 << 0.0 << false << 50 << QRect(7, 32, 16, 16) << red << 2;
    QTest::newRow("half up")        << QSize(100, 100) << 0.0 << 0.5 << false << 50 << QRect(32, 20, 16, 16) << red << 2;
    QTest::newRow("half down")      << QSize(100, 100) << 0.0 << -0.5 << false << 50 << QRect(32, 44, 16, 16) << red << 2;
    QTest::newRow("half left")      << QSize(100, 100) << -0.5 << 0.0 << false << 50 << QRect(20, 32, 16, 16) << red << 2;
    QTest::newRow("corner")         << QSize(100, 100) << 1.0 << 1.0 << false << 50 << QRect(57, 7, 16, 16) << red << 2;
    QTest::newRow("tiny value red") << QSize(100, 100) << 0.001 << 0.0 << false << 50 << QRect(32, 32, 16, 16) << red << 2;
    QTest::newRow("pressed")        << QSize(100, 100) << 0.0 << 0.0 << true << 50 << QRect(32, 32, 16, 16) << red << 7;
    QTest::newRow("pressed moved")  << QSize(100, 100) << 1.0 << 0.0 << true << 50 << QRect(57, 32, 16, 16) << red << 7;
    QTest::newRow("odd side")       << QSize(101, 101) << 0.0 << 0.0 << false << 51 << QRect(32, 32, 17, 17) << black << 2;
    QTest::newRow("odd side right") << QSize(101, 101) << 1.0 << 0.0 << false << 51 << QRect(57, 32, 17, 17) << red << 2;
    QTest::newRow("wide")           << QSize(300, 200) << 0.0 << 0.0 << false << 150 << QRect(82, 82, 16, 16) << black << 2;
    QTest::newRow("wide right")     << QSize(300, 200) << 1.0 << 0.0 << false << 150 << QRect(157, 82, 16, 16) << red << 2;
    QTest::newRow("tall")           << QSize(200, 300) << 0.0 << -1.0 << false << 150 << QRect(82, 157, 16, 16) << red << 2;
    QTest::newRow("beyond frame")   << QSize(100, 100) << 3.0 << 0.0 << false << 50 << QRect(107, 32, 16, 16) << red << 2;
    // clang-format on
}

void TestJoystickWidget::geometry()
{
    QFETCH(QSize, size);
    QFETCH(double, valueX);
    QFETCH(double, valueY);
    QFETCH(bool, pressed);

    const JoystickGeometry g = JoystickGeometry::compute(size, valueX, valueY, pressed);
    QTEST(g.side, "side");
    QCOMPARE(g.frame, QRect(15, 15, g.side, g.side));
    QTEST(g.knob, "knob");
    QTEST(g.ringColor, "ring");
    QTEST(g.ringWidth, "ringWidth");
}

void TestJoystickWidget::crossHairAtMinimumSize()
{
    const JoystickGeometry g = JoystickGeometry::compute(QSize(100, 100), 0.0, 0.0, false);
    QCOMPARE(g.verticalLine, QLine(40, 5, 40, 75));
    QCOMPARE(g.horizontalLine, QLine(5, 40, 75, 40));

    JoystickWidget widget;
    widget.resize(100, 100);
    widget.setValueX(-0.5);
    widget.setPressed(true);
    const JoystickGeometry current = widget.currentGeometry();
    QCOMPARE(current.knob, QRect(20, 32, 16, 16));
    QCOMPARE(current.ringWidth, 7);
    QCOMPARE(current.ringColor, QColor(Qt::red));
    widget.setEnabled(false); // a Skywand not tracked
    QCOMPARE(widget.currentGeometry().ringColor, QColor(Qt::gray));
}

void TestJoystickWidget::hostileValuesStayBounded_data()
{
    QTest::addColumn<double>("value");
    QTest::newRow("max float") << double(std::numeric_limits<float>::max());
    QTest::newRow("lowest float") << double(std::numeric_limits<float>::lowest());
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN();
}

// Values from a datagram are not clamped, yet they must never overflow the
// integer displacement; the knob simply lands far outside the widget.
void TestJoystickWidget::hostileValuesStayBounded()
{
    QFETCH(double, value);
    const JoystickGeometry g = JoystickGeometry::compute(QSize(100, 100), value, value, false);
    QCOMPARE(g.knob.size(), QSize(16, 16));
    if (std::isnan(value)) {
        QCOMPARE(g.knob.topLeft(), QPoint(32, 32));
    } else {
        QVERIFY(qAbs(g.knob.left()) > 1000000);
        QVERIFY(qAbs(g.knob.top()) > 1000000);
    }
    QCOMPARE(g.ringColor, QColor(Qt::red));
    const QImage image = renderIndicator(QSize(100, 100), value, value, false);
    // Without a displacement the knob covers the centre, else the cross hair shows.
    QCOMPARE(shadeAt(image, 40, 40), std::isnan(value) ? Shade::White : Shade::Gray);
}

void TestJoystickWidget::renderedKnob_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("valueX");
    QTest::addColumn<double>("valueY");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<QRect>("knob");
    QTest::addColumn<Shade>("ring");

    // clang-format off
    QTest::newRow("centred")    << QSize(100, 100) << 0.0 << 0.0 << false << QRect(32, 32, 16, 16) << Shade::Black;
    QTest::newRow("right")      << QSize(100, 100) << 1.0 << 0.0 << false << QRect(57, 32, 16, 16) << Shade::Red;
    QTest::newRow("half up")    << QSize(100, 100) << 0.0 << 0.5 << false << QRect(32, 20, 16, 16) << Shade::Red;
    QTest::newRow("half left")  << QSize(100, 100) << -0.5 << 0.0 << false << QRect(20, 32, 16, 16) << Shade::Red;
    QTest::newRow("pressed")    << QSize(100, 100) << 0.0 << 0.0 << true << QRect(32, 32, 16, 16) << Shade::Red;
    QTest::newRow("odd side")   << QSize(101, 101) << 0.0 << 0.0 << false << QRect(32, 32, 17, 17) << Shade::Black;
    QTest::newRow("wide")       << QSize(300, 200) << 0.0 << 0.0 << false << QRect(82, 82, 16, 16) << Shade::Black;
    QTest::newRow("wide right") << QSize(300, 200) << 1.0 << 0.0 << false << QRect(157, 82, 16, 16) << Shade::Red;
    // clang-format on
}

// Checks the knob on real pixels: the ring's outermost pixels on all four
// sides carry its colour and the inside is white, which pins the knob to the
// expected rectangle within a pixel. A thick ring also covers the pixels two
// inside its edge, a thin one does not.
void TestJoystickWidget::renderedKnob()
{
    QFETCH(QSize, size);
    QFETCH(double, valueX);
    QFETCH(double, valueY);
    QFETCH(bool, pressed);
    QFETCH(QRect, knob);
    QFETCH(Shade, ring);

    const QImage image = renderIndicator(size, valueX, valueY, pressed);
    const int midX = knob.left() + knob.width() / 2;
    const int midY = knob.top() + knob.height() / 2;

    QCOMPARE(shadeAt(image, knob.left(), midY), ring);
    QCOMPARE(shadeAt(image, knob.right(), midY), ring);
    QCOMPARE(shadeAt(image, midX, knob.top()), ring);
    QCOMPARE(shadeAt(image, midX, knob.bottom()), ring);
    QCOMPARE(shadeAt(image, midX, midY), Shade::White);

    const Shade inside = pressed ? ring : Shade::White;
    QCOMPARE(shadeAt(image, knob.left() + 2, midY), inside);
    QCOMPARE(shadeAt(image, knob.right() - 2, midY), inside);
    QCOMPARE(shadeAt(image, midX, knob.top() + 2), inside);
}

void TestJoystickWidget::frameAnchoredTopLeft()
{
    const QImage image = renderIndicator(QSize(300, 200), 0.0, 0.0, false);
    // Frame edges at 15 and 165 on both axes; nothing to the right of it.
    QCOMPARE(shadeAt(image, 15, 50), Shade::Gray);
    QCOMPARE(shadeAt(image, 164, 50), Shade::Gray);
    QCOMPARE(shadeAt(image, 50, 15), Shade::Gray);
    QCOMPARE(shadeAt(image, 50, 164), Shade::Gray);
    // Cross hair overshoots the frame by 10 pixels.
    QCOMPARE(shadeAt(image, 90, 6), Shade::Gray);
    QCOMPARE(shadeAt(image, 6, 90), Shade::Gray);
    const QColor background = image.pixelColor(299, 199);
    for (int x = 190; x < 300; x += 10)
        QVERIFY2(image.pixelColor(x, 90) == background, qPrintable(QString::number(x)));
}

QTEST_MAIN(TestJoystickWidget)
#include "tst_joystickwidget.moc"
