#include "paintpacer.h"

#include <QElapsedTimer>
#include <QWidget>
#include <QtTest>

namespace {

// Remembers how often it was painted and which value the last paint saw.
class Canvas : public QWidget
{
public:
    using QWidget::QWidget;
    int value = 0;
    int paints = 0;
    int paintedValue = -1;

protected:
    void paintEvent(QPaintEvent*) override
    {
        ++paints;
        paintedValue = value;
    }
};

} // namespace

class TestPaintPacer : public QObject
{
    Q_OBJECT

private slots:
    void changesFasterThanTheIntervalArePaintedAtItsPace();
};

void TestPaintPacer::changesFasterThanTheIntervalArePaintedAtItsPace()
{
    constexpr int kIntervalMs = 50;
    QWidget window;
    window.resize(100, 100);
    auto* canvas = new Canvas(&window);
    canvas->resize(100, 100);
    new PaintPacer(&window, kIntervalMs);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(canvas->paints > 0);

    // A change and an event loop pass, again and again for half a second:
    // without pacing every pass paints.
    const int before = canvas->paints;
    int changes = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10 * kIntervalMs) {
        ++canvas->value;
        canvas->update();
        QCoreApplication::processEvents();
        ++changes;
    }
    const int paints = canvas->paints - before;
    QVERIFY2(changes > 50, qPrintable(QString::number(changes)));
    QVERIFY2(paints >= 3 && paints <= 10 + 2, qPrintable(QString::number(paints)));

    // The last change is painted once the interval has passed, with nothing
    // else to trigger it.
    ++canvas->value;
    canvas->update();
    QTRY_COMPARE_WITH_TIMEOUT(canvas->paintedValue, canvas->value, 5 * kIntervalMs);
}

QTEST_MAIN(TestPaintPacer)
#include "tst_paintpacer.moc"
