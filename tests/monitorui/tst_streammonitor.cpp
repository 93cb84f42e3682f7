#include "checkwizard.h"
#include "framesender.h"
#include "skywandtester.h"
#include "streammonitorwindow.h"
#include "trackingsdk.h"
#include "trackreceiver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>

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
    monitor.recordReceive(sdk);
    monitor.recordData(sdk);
}

void writeConfig(const QByteArray& content)
{
    QFile file(Skywandtester::configFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QString diagnosisSentence(QWidget* window)
{
    auto* monitor = qobject_cast<StreamMonitorWindow*>(window);
    if (!monitor)
        monitor = window->findChild<StreamMonitorWindow*>();
    auto* label =
        monitor ? monitor->findChild<QLabel*>(QStringLiteral("diagnosisSentence")) : nullptr;
    return label ? label->text() : QString();
}

} // namespace

class TestStreamMonitor : public QObject
{
    Q_OBJECT

private slots:
    void monitorShowsFiguresAndPauseFreezes();
    void healthCountsEveryDatagram_data();
    void healthCountsEveryDatagram();
    void buttonLanesFollowTheSkywand_data();
    void buttonLanesFollowTheSkywand();
    void laneNumbersKeepApart_data();
    void laneNumbersKeepApart();
    void diagnoseButtonFollowsData();
    void diagnoseWithoutPort_data();
    void diagnoseWithoutPort();
    void diagnosisJudgesTheMainWindowsSkywand();
    void oldDiagnosisGoes();
};

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

void TestStreamMonitor::healthCountsEveryDatagram_data()
{
    QTest::addColumn<int>("wands");
    QTest::addColumn<int>("frames");
    QTest::newRow("small frames") << 1 << 5000;
    QTest::newRow("16 Skywands a frame") << 16 << 1000;
}

// A clean stream sent as fast as the receiver takes it, while this thread
// handles no events: the open monitor's health, fed on the receiver's
// thread, counts every datagram and no gap.
void TestStreamMonitor::healthCountsEveryDatagram()
{
    QFETCH(int, wands);
    QFETCH(int, frames);
    TrackingSdk sdk(std::string(), 0, 0, TrackingSdk::kDefaultDataBufferSize, 1000000,
                    TrackingSdk::kDefaultServerTimeoutUs);
    QVERIFY(sdk.isValid());
    TrackReceiver receiver(&sdk, nullptr);
    receiver.setCoalescing(true);
    StreamMonitorWindow monitor;
    TrackReceiver::Observation observation;
    // As the main window does it.
    connect(&monitor, &StreamMonitorWindow::framesWanted, this, [&](bool wanted) {
        observation.reset();
        if (wanted)
            observation = receiver.addFrameObserver(
                [&monitor](const TrackingSdk& source, int64_t) { monitor.recordReceive(source); });
    });
    monitor.show();
    QVERIFY(observation);
    receiver.start();
    const auto stop = qScopeGuard([&] {
        receiver.onStop();
        receiver.wait();
    });

    QUdpSocket socket;
    const QVector<Wand> all(wands);
    for (int i = 1; i <= frames; ++i) {
        // At most 32 ahead, so that the socket's buffer never overflows.
        QElapsedTimer clock;
        clock.start();
        while (monitor.healthFigures().total.datagrams + 32 < uint64_t(i)) {
            QVERIFY2(clock.elapsed() < 2000, qPrintable(QStringLiteral("frame %1").arg(i)));
            QThread::yieldCurrentThread();
        }
        const QByteArray datagram = frame6df2(all, i);
        QCOMPARE(socket.writeDatagram(datagram, QHostAddress::LocalHost, sdk.getDataPort()),
                 datagram.size());
    }
    QTRY_COMPARE_WITH_TIMEOUT(monitor.healthFigures().total.datagrams, uint64_t(frames), 5000);
    const StreamCounts total = monitor.healthFigures().total;
    QCOMPARE(total.frames, uint64_t(frames));
    QCOMPARE(total.gaps + total.missedFrames + total.repeated + total.backward, uint64_t(0));
    QCOMPARE(total.parseErrors + total.netErrors + total.foreign, uint64_t(0));

    monitor.hide();
    QVERIFY(!observation);
}

void TestStreamMonitor::buttonLanesFollowTheSkywand_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("pressed"); // 1 for the first button, 0 for none
    QTest::newRow("16 buttons, the 12th pressed") << 16 << 12;
    QTest::newRow("6 buttons, the 6th pressed") << 6 << 6;
    QTest::newRow("no buttons") << 0 << 0;
}

// One lane for each button the Skywand reports, up to the 16 it may have,
// and a pressed button drawn high in its own lane.
void TestStreamMonitor::buttonLanesFollowTheSkywand()
{
    QFETCH(int, buttons);
    QFETCH(int, pressed);
    TrackingSdk sdk(std::string(), 0, 0, TrackingSdk::kDefaultDataBufferSize, 1000000,
                    TrackingSdk::kDefaultServerTimeoutUs);
    QVERIFY(sdk.isValid());
    StreamMonitorWindow monitor;
    monitor.show();
    Wand wand;
    wand.buttons = buttons;
    wand.word = pressed > 0 ? 1u << (pressed - 1) : 0u;
    QVERIFY(sendTo(sdk.getDataPort(), frame6df2({wand})));
    QVERIFY(sdk.receive());
    monitor.recordData(sdk);
    monitor.refresh();

    QCOMPARE(monitor.buttonLaneCount(), buttons);
    auto* view = monitor.findChild<QChartView*>(QStringLiteral("chart1"));
    const QList<QAbstractSeries*> series = view->chart()->series();
    QCOMPARE(series.size(), int(StreamMonitorWindow::kButtonLanes));
    int visible = 0;
    for (QAbstractSeries* lane : series)
        visible += lane->isVisible() ? 1 : 0;
    QCOMPARE(visible, buttons);
    if (pressed > 0) {
        const QList<QPointF> points = static_cast<QLineSeries*>(series[pressed - 1])->points();
        QVERIFY(!points.isEmpty());
        QCOMPARE(points.last().y(), pressed + 0.7); // lane N's line at N
    }
}

void TestStreamMonitor::laneNumbersKeepApart_data()
{
    QTest::addColumn<int>("lanes");
    QTest::addColumn<double>("plotHeight");
    QTest::addColumn<int>("step");
    // Labels 12 pixels high.
    QTest::newRow("16 lanes, tall") << 16 << 400.0 << 1;
    QTest::newRow("16 lanes, short") << 16 << 100.0 << 2;
    QTest::newRow("16 lanes, very short") << 16 << 40.0 << 5;
    QTest::newRow("16 lanes, no room") << 16 << 0.0 << 1;
    QTest::newRow("8 lanes, short") << 8 << 100.0 << 1;
    QTest::newRow("1 lane") << 1 << 5.0 << 1;
    QTest::newRow("none") << 0 << 100.0 << 1;
}

void TestStreamMonitor::laneNumbersKeepApart()
{
    QFETCH(int, lanes);
    QFETCH(double, plotHeight);
    QFETCH(int, step);
    QCOMPARE(StreamMonitorWindow::laneLabelStep(lanes, plotHeight, 12.0), step);
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

void TestStreamMonitor::diagnoseWithoutPort_data()
{
    QTest::addColumn<QByteArray>("portText");
    QTest::addColumn<QString>("shown"); // empty: as it stands
    QTest::newRow("above 65535") << QByteArray("70000") << "";
    QTest::newRow("zero") << QByteArray("0") << "";
    QTest::newRow("negative") << QByteArray("-5000") << "";
    QTest::newRow("letters") << QByteArray("five thousand") << "";
    QTest::newRow("beyond int") << QByteArray("99999999999") << "";
    QTest::newRow("markup") << QByteArray("<b>x</b>") << "";
    QTest::newRow("line break, long") << QByteArray("port\n" + QByteArray(40, 'x'))
                                      << "port\\n" + QString(18, 'x') + QChar(0x2026);
}

// A port text that names no port is explained under the panel, offers the
// diagnosis, which says so and where to set one instead of watching a port
// made up from the text, and keeps the check from starting.
void TestStreamMonitor::diagnoseWithoutPort()
{
    QFETCH(QByteArray, portText);
    QFETCH(QString, shown);
    writeConfig(portText);
    // Text that is no number at all brings up the "Wrong data port" box.
    QTimer closer;
    connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
    });
    closer.start(10);
    auto window = std::make_unique<Skywandtester>();
    closer.stop();
    window->show();
    auto* button = window->findChild<QPushButton*>(QStringLiteral("diagnoseButton"));
    QVERIFY(button->isVisible());
    button->click();
    const QString explanation =
        QStringLiteral("No usable data port: %1 holds \"%2\". Settings, Port settings (F2) sets a "
                       "port from 2 to 65534.")
            .arg(QDir::toNativeSeparators(Skywandtester::configFilePath()),
                 shown.isEmpty() ? QString::fromLatin1(portText) : shown);
    QCOMPARE(diagnosisSentence(window.get()), explanation);
    auto* notice = window->findChild<QLabel*>(QStringLiteral("portNotice"));
    QVERIFY(notice->isVisible());
    QCOMPARE(notice->text(), explanation);

    window->activateWindow();
    window->findChild<QAction*>(QStringLiteral("actionCheckSkywand"))->trigger();
    auto* refused = window->findChild<QMessageBox*>(QStringLiteral("portRefused"));
    QVERIFY(refused && refused->isVisible());
    QVERIFY(refused->text().endsWith(explanation));
    QVERIFY(!window->findChild<CheckWizard*>());
    window.reset();
    QFile::remove(Skywandtester::configFilePath());
}

// The diagnosis names the Skywand chosen in the main window as missing, even
// though the monitor's own selector starts at F1, which is there.
void TestStreamMonitor::diagnosisJudgesTheMainWindowsSkywand()
{
    const quint16 port = freeUdpPort();
    QVERIFY(port != 0);
    writeConfig(QByteArray::number(port));
    // Three Skywands, records for F1 and F2 only.
    QByteArray frame = frame6df2({Wand{}, Wand{}});
    frame.replace("6df2 2 2", "6df2 3 2");
    FrameStreamer streamer(port, frame);
    streamer.start();
    Skywandtester::setDataTimeoutUsForTesting(100000);
    auto window = std::make_unique<Skywandtester>();
    window->show();
    auto* selector = window->findChild<QComboBox*>(QStringLiteral("cboSkywand"));
    QTRY_COMPARE_WITH_TIMEOUT(selector->count(), 3, 5000);
    selector->setCurrentIndex(2);
    window->findChild<QAction*>(QStringLiteral("actionStreamMonitor"))->trigger();
    window->findChild<StreamMonitorWindow*>()->diagnose();
    QTRY_VERIFY_WITH_TIMEOUT(diagnosisSentence(window.get()).contains(QLatin1String("none for F3")),
                             10000);
    window.reset();
    QFile::remove(Skywandtester::configFilePath());
}

// A diagnosis of why nothing arrives goes once frames flow again; one that
// spoke of no port goes once there is one.
void TestStreamMonitor::oldDiagnosisGoes()
{
    TrackingSdk sdk(std::string(), 0, 0, TrackingSdk::kDefaultDataBufferSize, 100000,
                    TrackingSdk::kDefaultServerTimeoutUs);
    QVERIFY(sdk.isValid());
    StreamMonitorWindow monitor;
    monitor.setPort(sdk.getDataPort(), true);
    monitor.show();
    monitor.diagnose();
    QTRY_VERIFY_WITH_TIMEOUT(
        diagnosisSentence(&monitor).startsWith(QStringLiteral("Nothing arrives on port")), 10000);
    feed(sdk, monitor, 1, 0.5);
    QCOMPARE(diagnosisSentence(&monitor), QString());

    monitor.setNoPort(QStringLiteral("No usable data port."));
    monitor.diagnose();
    QCOMPARE(diagnosisSentence(&monitor), QStringLiteral("No usable data port."));
    monitor.setPort(sdk.getDataPort(), true);
    QCOMPARE(diagnosisSentence(&monitor), QString());
}

QTEST_MAIN(TestStreamMonitor)
#include "tst_streammonitor.moc"
