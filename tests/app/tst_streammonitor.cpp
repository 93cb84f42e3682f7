#include "framesender.h"
#include "skywandtester.h"
#include "streammonitorwindow.h"
#include "stripbuffer.h"
#include "trackingsdk.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>

#include <cmath>
#include <memory>

using namespace framesender;

namespace {

QString figure(StreamMonitorWindow& monitor, const QString& name)
{
    auto* table = monitor.findChild<QTableWidget*>(QStringLiteral("healthTable"));
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->verticalHeaderItem(row)->text() == name)
            return table->item(row, 0)->text();
    }
    return QStringLiteral("<no row %1>").arg(name);
}

QList<QPointF> positionPoints(StreamMonitorWindow& monitor)
{
    auto* view = monitor.findChild<QChartView*>(QStringLiteral("chart0"));
    return static_cast<QLineSeries*>(view->chart()->series().value(0))->points();
}

// Sends one frame over loopback, receives it and hands the outcome on.
void feed(TrackingSdk& sdk, StreamMonitorWindow& monitor, int counter, double x)
{
    Wand wand;
    wand.x = x;
    QVERIFY(sendTo(sdk.getDataPort(), frame6df2({wand}, counter)));
    QVERIFY(sdk.receive());
    monitor.recordData(sdk);
}

} // namespace

class TestStreamMonitor : public QObject
{
    Q_OBJECT

private slots:
    void stripBufferKeepsExtremes_data();
    void stripBufferKeepsExtremes();
    void monitorShowsFiguresAndPauseFreezes();
    void diagnoseButtonFollowsData();
};

void TestStreamMonitor::stripBufferKeepsExtremes_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("columns");
    QTest::newRow("1 kHz on 600 pixels") << 1000.0 << 600;
    QTest::newRow("20 kHz on 600 pixels") << 20000.0 << 600;
    QTest::newRow("10 Hz on 1 pixel") << 10.0 << 1;
}

// Whatever the rate, the chart gets at most two points per pixel column, in
// time order, and a one-sample spike survives.
void TestStreamMonitor::stripBufferKeepsExtremes()
{
    QFETCH(double, rate);
    QFETCH(int, columns);
    StripBuffer buffer(30.0, 3000);
    const int samples = static_cast<int>(40.0 * rate);
    for (int i = 0; i < samples; ++i) {
        const double t = i / rate;
        buffer.append(t, i == samples - samples / 4 ? 5.0 : std::sin(t));
    }
    std::vector<StripPoint> points;
    const double end = (samples - 1) / rate;
    buffer.decimate(end - 30.0, end, columns, points);
    QVERIFY(!points.empty());
    QVERIFY(points.size() <= static_cast<size_t>(2 * columns));
    double highest = -10.0;
    for (size_t i = 0; i < points.size(); ++i) {
        QVERIFY(points[i].t >= end - 30.0 && points[i].t <= end);
        QVERIFY(i == 0 || points[i].t >= points[i - 1].t);
        highest = std::max(highest, points[i].value);
    }
    QCOMPARE(highest, 5.0);
}

void TestStreamMonitor::monitorShowsFiguresAndPauseFreezes()
{
    TrackingSdk sdk(std::string(), 0, 0, TrackingSdk::kDefaultDataBufferSize, 1000000,
                    TrackingSdk::kDefaultServerTimeoutUs);
    QVERIFY(sdk.isValid());
    StreamMonitorWindow monitor;
    monitor.show();
    for (int counter = 1; counter <= 20; ++counter)
        feed(sdk, monitor, counter, 0.5);
    feed(sdk, monitor, 24, 0.5); // frames 21 to 23 missed

    QTRY_COMPARE(figure(monitor, QStringLiteral("Frame counter")), QStringLiteral("24"));
    QVERIFY(figure(monitor, QStringLiteral("Sender")).startsWith(QStringLiteral("127.0.0.1:")));
    QCOMPARE(figure(monitor, QStringLiteral("Gaps (1 s / all)")), QStringLiteral("1 / 1"));
    QCOMPARE(figure(monitor, QStringLiteral("Missed frames (1 s / all)")), QStringLiteral("3 / 3"));
    QCOMPARE(figure(monitor, QStringLiteral("State")), QStringLiteral("fresh"));
    QCOMPARE(figure(monitor, QStringLiteral("Quality")), QStringLiteral("F1: 1.00"));
    QTRY_VERIFY(!positionPoints(monitor).isEmpty());

    monitor.findChild<QPushButton*>(QStringLiteral("pauseButton"))->click();
    QVERIFY(monitor.isPaused());
    monitor.refresh();
    const QList<QPointF> frozen = positionPoints(monitor);
    for (int counter = 25; counter <= 30; ++counter)
        feed(sdk, monitor, counter, -0.5);
    monitor.refresh();
    QCOMPARE(positionPoints(monitor), frozen);

    monitor.findChild<QPushButton*>(QStringLiteral("pauseButton"))->click();
    monitor.refresh();
    QCOMPARE(positionPoints(monitor).last().y(), -0.5);
}

// The status area's Diagnose button is there while no data or only another
// program's traffic arrives, and goes when frames come.
void TestStreamMonitor::diagnoseButtonFollowsData()
{
    const quint16 port = freeUdpPort();
    QVERIFY(port != 0);
    {
        QFile file(Skywandtester::configFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray::number(port));
    }
    Skywandtester::setDataTimeoutUsForTesting(100000);
    auto window = std::make_unique<Skywandtester>();
    window->show();
    auto* button = window->findChild<QPushButton*>(QStringLiteral("diagnoseButton"));
    QVERIFY(button);
    QTRY_VERIFY_WITH_TIMEOUT(button->isVisible(), 5000);

    auto streamer = std::make_unique<FrameStreamer>(port, frame6df2({Wand{}}));
    streamer->start();
    QTRY_VERIFY_WITH_TIMEOUT(!button->isVisible(), 5000);
    // Another program's traffic decodes as an empty frame: no data either.
    streamer->setFrame("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(button->isVisible(), 5000);
    auto* status = window->findChild<QLabel*>(QStringLiteral("statusLabel"));
    QVERIFY(status->toolTip().startsWith(
        QStringLiteral("datagrams without tracking data arrive from 127.0.0.1:")));
    streamer->setFrame(frame6df2({Wand{}}));
    QTRY_VERIFY_WITH_TIMEOUT(!button->isVisible(), 5000);
    streamer.reset();
    QTRY_VERIFY_WITH_TIMEOUT(button->isVisible(), 5000);

    window.reset();
    QFile::remove(Skywandtester::configFilePath());
}

QTEST_MAIN(TestStreamMonitor)
#include "tst_streammonitor.moc"
