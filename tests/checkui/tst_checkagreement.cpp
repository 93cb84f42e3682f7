// The window's check and kestrel-check fed one recording.

#include "capture.h"
#include "checkwizard.h"
#include "frameinbox.h"
#include "passingwand.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <string>
#include <vector>

class TestCheckAgreement : public QObject
{
    Q_OBJECT

private slots:
    void sameFiguresAsKestrelCheck();
};

// One recording, with another program's datagram, a pair of swapped frames,
// a repeated one and frames of a second sender in it, judged by the window
// and by kestrel-check: the same figures to the last digit, and the report
// names the port the frames came on rather than the window's.
void TestCheckAgreement::sameFiguresAsKestrelCheck()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    std::vector<UdpPacket> packets;
    std::vector<std::string> payloads;
    const auto add = [&](std::string text, int64_t us, uint32_t from) {
        payloads.push_back(std::move(text));
        UdpPacket packet;
        packet.timeUs = 1796117400000000 + us;
        packet.sourceAddress = from;
        packet.sourcePort = 40000;
        packet.destinationAddress = 0x7F000001;
        packet.destinationPort = 5001;
        packets.push_back(packet);
    };
    for (int i = 0; i < 1400; ++i) {
        const uint32_t counter = i == 900 ? 902 : i == 901 ? 901 : i + 1; // one pair swapped
        add(passingWandFrame(counter, i / 100.0), i * 10000, 0x7F000001);
        if (i == 950)
            add("PING 1", i * 10000 + 1, 0x7F000001);
        if (i == 960)
            add(payloads[700], i * 10000 + 1, 0x7F000001);
        if (i >= 970 && i < 980)
            add("fr " + std::to_string(i) + "\n6df2 0 0\n", i * 10000 + 2, 0x7F000002);
    }
    const QString capture = folder.filePath(QStringLiteral("wand.pcap"));
    {
        CaptureWriter writer;
        std::string error;
        QVERIFY2(writer.open(capture.toStdString(), error), error.c_str());
        for (size_t i = 0; i < packets.size(); ++i) {
            packets[i].payload = reinterpret_cast<const uint8_t*>(payloads[i].data());
            packets[i].length = payloads[i].size();
            QVERIFY(writer.write(packets[i]));
        }
    }
    QProcess tool;
    tool.start(QStringLiteral(KESTREL_CHECK),
               {QStringLiteral("--read"), capture, QStringLiteral("--wand-id"),
                QStringLiteral("SW-9"), QStringLiteral("--out"), folder.filePath("tool")});
    QVERIFY(tool.waitForFinished(30000));
    QCOMPARE(tool.exitCode(), 0);
    QFile toolReport(QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed());
    QVERIFY(toolReport.open(QIODevice::ReadOnly));
    const QJsonObject byTool = QJsonDocument::fromJson(toolReport.readAll()).object();

    CheckWizard wizard(0, 5000);
    wizard.setReportFolder(folder.filePath("window"));
    wizard.findChild<QLineEdit*>(QStringLiteral("wandId"))->setText(QStringLiteral("SW-9"));
    wizard.show();
    wizard.next();
    const int64_t startUs = FrameInbox::wallUs() + 1000;
    for (size_t i = 0; i < packets.size(); ++i) {
        FrameInbox::Entry entry;
        entry.arrivalUs = startUs + (packets[i].timeUs - packets[0].timeUs);
        entry.bytes = payloads[i];
        entry.sourceAddress = packets[i].sourceAddress;
        entry.sourcePort = packets[i].sourcePort;
        entry.port = packets[i].destinationPort;
        wizard.inbox()->push(std::move(entry));
    }
    wizard.drainFrames();
    QVERIFY(wizard.check().finished());
    QString error;
    QVERIFY2(wizard.saveReports(error), qPrintable(error));
    QFile windowReport(wizard.savedFiles().at(0));
    QVERIFY(windowReport.open(QIODevice::ReadOnly));
    const QJsonObject byWindow = QJsonDocument::fromJson(windowReport.readAll()).object();

    QCOMPARE(byWindow.value("verdict").toString(), QStringLiteral("pass"));
    for (const char* key : {"verdict", "failures", "steps", "evidence", "numButton"})
        QVERIFY2(byWindow.value(key) == byTool.value(key), key);
    const QJsonObject evidence = byWindow.value("evidence").toObject();
    QCOMPARE(evidence.value("foreignDatagrams").toInt(), 1);
    QCOMPARE(evidence.value("lateFrames").toInt(), 1);
    QCOMPARE(evidence.value("repeatedFrames").toInt(), 1);
    QCOMPARE(evidence.value("otherSenderFrames").toInt(), 10);
    QCOMPARE(byWindow.value("source").toObject().value("port").toInt(), 5001);
}

QTEST_MAIN(TestCheckAgreement)
#include "tst_checkagreement.moc"
