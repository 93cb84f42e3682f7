#include "capture.h"
#include "checkstore.h"
#include "framedecoder.h"
#include "overviewwindow.h"
#include "tilegeometry.h"
#include "trackingsdk.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace {

struct Wand
{
    int buttons = 0;
    unsigned word = 0; // bit j: button j + 1 held
    int joysticks = 0;
    double x = 0.0;
    double y = 0.0;
};

// A "6df2" frame whose Skywand count is count and that writes records for
// the first wands.size() of them.
QByteArray frame(int counter, int count, const std::vector<Wand>& wands)
{
    QByteArray out = "fr " + QByteArray::number(counter) + "\nts 1.000\n6df2 " +
                     QByteArray::number(count) + ' ' + QByteArray::number(int(wands.size()));
    for (size_t i = 0; i < wands.size(); ++i) {
        const Wand& w = wands[i];
        out += " [" + QByteArray::number(int(i)) + " 1.000 " + QByteArray::number(w.buttons) + ' ' +
               QByteArray::number(w.joysticks) + "][0 0 0][1 0 0 0 1 0 0 0 1][";
        if (w.buttons > 0)
            out += QByteArray::number(w.word);
        for (int j = 0; j < w.joysticks; ++j)
            out += ' ' + QByteArray::number(j == 0 ? w.x : j == 1 ? w.y : 0.0, 'f', 3);
        out += ']';
    }
    return out + '\n';
}

struct Timed
{
    double time;
    QByteArray datagram;
};

// Three wands: F3 drops out of frame 2, the counter skips frames 3 and 4, F1
// loses two of its buttons and F2 its stick.
const std::vector<Timed> kStream = {
    {0.0, frame(1, 3, {{4, 0b0101, 2, 0.5, -0.5}, {2, 0b11, 1, 0.7}, {0, 0, 0}})},
    {0.1, frame(2, 3, {{4, 0b1111, 2, 0.0, 1.0}, {2, 0b01, 2, 0.1, 0.2}})},
    {0.2, frame(5, 3, {{2, 0b10, 2, -1.0, 0.0}, {2, 0b00, 0}, {1, 1, 0}})},
    {0.4, frame(6, 3, {{2, 0b10, 2, -1.0, 0.0}})},
};

void feed(OverviewWindow& window, const std::vector<Timed>& stream, size_t count)
{
    FrameData data;
    for (size_t i = 0; i < count; ++i) {
        data.beginFrame();
        QCOMPARE(decodeDatagram(data, stream[i].datagram.constData(),
                                size_t(stream[i].datagram.size()),
                                TrackingSdk::kDefaultDataBufferSize),
                 ErrorState::NoError);
        window.recordFrame(stream[i].time, data);
    }
}

} // namespace

class TestOverview : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void tiles_data();
    void tiles();
    void figuresSpanTenSeconds();
    void geometry_data();
    void geometry();
    void agreesWithDump();
    void nextUnchecked();

private:
    QTemporaryDir dir;
};

void TestOverview::init()
{
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
}

void TestOverview::tiles_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("inFrame");
    QTest::addColumn<int>("numButton");
    QTest::addColumn<unsigned>("held"); // bit j: button j + 1 held
    QTest::addColumn<int>("numJoystick");
    QTest::addColumn<double>("x");
    QTest::addColumn<QString>("health"); // frames/tracked/missing, age

    QTest::newRow("first frame: F1 as sent")
        << 1 << 0 << true << 4 << 0b0101u << 2 << 0.5 << QStringLiteral("1/1/0 age 0.000");
    QTest::newRow("first frame: F2 with one stick value")
        << 1 << 1 << true << 2 << 0b11u << 1 << 0.7 << QStringLiteral("1/1/0 age 0.000");
    QTest::newRow("F3 dropped out: nothing of frame 1 left")
        << 2 << 2 << false << 0 << 0u << 0 << 0.0 << QStringLiteral("2/1/1 age 0.100");
    QTest::newRow("counter skipped two: missing for every wand")
        << 3 << 0 << true << 2 << 0b10u << 2 << -1.0 << QStringLiteral("5/3/2 age 0.000");
    QTest::newRow("F2 lost its stick")
        << 3 << 1 << true << 2 << 0u << 0 << 0.0 << QStringLiteral("5/3/2 age 0.000");
    QTest::newRow("F3 back") << 3 << 2 << true << 1 << 1u << 0 << 0.0
                             << QStringLiteral("5/2/3 age 0.000");
    QTest::newRow("only F1 in the last frame")
        << 4 << 1 << false << 0 << 0u << 0 << 0.0 << QStringLiteral("6/3/3 age 0.200");
}

// The tiles show what the current frame holds for each wand and nothing an
// earlier frame left, and count frames, tracked frames and missing ones.
void TestOverview::tiles()
{
    QFETCH(int, frames);
    QFETCH(int, index);
    QFETCH(bool, inFrame);
    QFETCH(int, numButton);
    QFETCH(unsigned, held);
    QFETCH(int, numJoystick);
    QFETCH(double, x);
    QFETCH(QString, health);

    OverviewWindow window;
    feed(window, kStream, size_t(frames));
    window.refresh(kStream[size_t(frames) - 1].time);
    QCOMPARE(int(window.tiles().size()), 3);
    const ShelfWand& w = window.tiles()[size_t(index)].wand;
    QCOMPARE(w.inFrame, inFrame);
    QCOMPARE(w.record.numButton, numButton);
    unsigned bits = 0;
    for (int j = 0; j < w.record.numButton; ++j)
        bits |= w.record.button[j] == 1 ? 1u << j : 0u;
    QCOMPARE(bits, held);
    QCOMPARE(w.record.numJoystick, numJoystick);
    if (numJoystick > 0)
        QCOMPARE(w.record.joystickValue[0], float(x));
    QCOMPARE(QStringLiteral("%1/%2/%3 age %4")
                 .arg(w.frames)
                 .arg(w.tracked)
                 .arg(w.missing)
                 .arg(w.dataAge, 0, 'f', 3),
             health);
}

void TestOverview::figuresSpanTenSeconds()
{
    OverviewWindow window;
    feed(window, kStream, kStream.size());
    FrameData data;
    const QByteArray late = frame(7, 1, {{1, 0, 0}});
    data.beginFrame();
    decodeDatagram(data, late.constData(), size_t(late.size()),
                   TrackingSdk::kDefaultDataBufferSize);
    window.recordFrame(10.5, data);
    window.refresh(10.5);
    QCOMPARE(int(window.tiles().size()), 1);
    QCOMPARE(window.tiles()[0].wand.frames, 1u);
    QCOMPARE(window.tiles()[0].wand.missing, 0u);
    window.refresh(30.0);
    QCOMPARE(window.tiles()[0].wand.frames, 0u);
    QCOMPARE(window.tiles()[0].wand.dataAge, 19.5);
}

void TestOverview::geometry_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("index"); // of 10 tiles

    const int step = TileGeometry::kWidth + TileGeometry::kGap;
    QTest::newRow("narrow: one column") << 50 << QPoint(10, 10) << 1 << 0;
    QTest::newRow("second row, first column") << 3 * step + 10 << QPoint(10, 140) << 3 << 3;
    QTest::newRow("in a gap") << 3 * step + 10 << QPoint(step + 2, 10) << 3 << -1;
    QTest::newRow("past the last tile")
        << 3 * step + 10 << QPoint(step + 10, 3 * 130 + 10) << 3 << -1;
}

void TestOverview::geometry()
{
    QFETCH(int, width);
    QFETCH(QPoint, point);
    QFETCH(int, columns);
    QFETCH(int, index);
    QCOMPARE(TileGeometry::columns(width), columns);
    QCOMPARE(TileGeometry::indexAt(point, 10, width), index);
    if (index >= 0)
        QVERIFY(TileGeometry::tileRect(index, width).contains(point));
    // The stick's dot never leaves its circle, whatever the values.
    const QRect tile = TileGeometry::tileRect(0, width);
    const QRectF circle = QRectF(TileGeometry::stickCircle(tile)).adjusted(-0.5, -0.5, 0.5, 0.5);
    for (const QPointF& xy : {QPointF(5, 5), QPointF(-1, 0), QPointF(qQNaN(), 1)})
        QVERIFY(circle.contains(TileGeometry::stickDot(tile, xy.x(), xy.y())));
    QCOMPARE(TileGeometry::stickDot(tile, 0, 1).y(), double(circle.top() + 0.5));
}

// kestrel-dump --summary --skywand reads a capture of the stream and prints
// the figures the overview shows for the same frames.
void TestOverview::agreesWithDump()
{
#ifndef KESTREL_DUMP_PATH
    QSKIP("built without the tools");
#else
    const QString path = dir.filePath(QStringLiteral("shelf.pcap"));
    {
        CaptureWriter writer;
        std::string error;
        QVERIFY2(writer.open(path.toStdString(), error), error.c_str());
        for (const Timed& t : kStream) {
            UdpPacket packet;
            packet.timeUs = 1700000000000000 + int64_t(t.time * 1e6);
            packet.sourceAddress = packet.destinationAddress = 0x7f000001;
            packet.sourcePort = 40000;
            packet.destinationPort = 5000;
            packet.payload = reinterpret_cast<const uint8_t*>(t.datagram.constData());
            packet.length = size_t(t.datagram.size());
            QVERIFY(writer.write(packet));
        }
    }
    OverviewWindow window;
    feed(window, kStream, kStream.size());
    window.refresh(kStream.back().time);
    for (int skywand : {1, 3}) {
        QProcess dump;
        dump.start(QStringLiteral(KESTREL_DUMP_PATH),
                   {QStringLiteral("--read"), path, QStringLiteral("--summary"),
                    QStringLiteral("--skywand"), QString::number(skywand)});
        QVERIFY(dump.waitForFinished(20000));
        QCOMPARE(dump.exitCode(), 0);
        const QList<QByteArray> lines = dump.readAllStandardOutput().trimmed().split('\n');
        const std::string figures =
            shelfFiguresText(skywand - 1, window.tiles()[size_t(skywand - 1)].wand);
        QVERIFY2(lines.last().contains(QByteArray(" | ") + figures.c_str()),
                 (lines.last() + " lacks " + figures.c_str()).constData());
    }
#endif
}

// The next tile after the chosen one, wrapping, whose wand has no check of
// today; tiles without a wand id count as unchecked.
void TestOverview::nextUnchecked()
{
    std::string error;
    auto store = openCheckStore(defaultCheckStoreUrl(), error);
    QVERIFY2(store, error.c_str());
    CheckRecord record;
    record.checkId = newCheckId();
    record.wandId = "W-2";
    record.skywandIndex = 1;
    record.verdict = "pass";
    record.finishedUs = record.startedUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    QCOMPARE(store->put(record, error), CheckStore::Put::Stored);

    OverviewWindow window;
    feed(window, kStream, 1);
    window.setWandIds({{0, QStringLiteral("W-1")}, {1, QStringLiteral("W-2")}});
    QCOMPARE(window.tiles()[1].verdict, QStringLiteral("pass"));
    QCOMPARE(window.nextUncheckedIndex(), 2);
    window.setSelectedIndex(2);
    QCOMPARE(window.nextUncheckedIndex(), 0);
    QCOMPARE(window.wandIdAt(1), QStringLiteral("W-2"));
    // An index without an id is proposed the id of its last check.
    window.setWandIds({});
    QCOMPARE(window.tiles()[1].proposed, QStringLiteral("W-2"));
}

QTEST_MAIN(TestOverview)
#include "tst_overview.moc"
