// One PostgreSQL store shared by a bench's kestrel-check and the window: a
// check kestrel-check stores is in the window's history, and a check stored
// the way the window's wizard stores one is in kestrel-check's history.

#include "checkhistorywindow.h"
#include "checkprofile.h"
#include "checkrecordmodel.h"
#include "checkreport.h"
#include "checkstore.h"
#include "pgcluster.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestPgRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sharesTheStoreBothWays();

private:
    // kestrel-check's output, with its exit code.
    QByteArray kestrelCheck(const QStringList& arguments, int& code);

    PgCluster cluster;
    QTemporaryDir folder;
    QString url;
};

void TestPgRoundTrip::initTestCase()
{
    QVERIFY(folder.isValid());
    std::string error;
    QVERIFY2(cluster.start(error), error.c_str());
    const std::string database = PgCluster::newDatabase();
    QVERIFY(!database.empty());
    url = QString::fromStdString(PgCluster::url(database));
}

QByteArray TestPgRoundTrip::kestrelCheck(const QStringList& arguments, int& code)
{
    QProcess tool;
    tool.start(QStringLiteral(KESTREL_CHECK), arguments);
    code = tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit
               ? tool.exitCode()
               : -1;
    if (code < 0)
        tool.kill();
    return tool.readAllStandardOutput();
}

void TestPgRoundTrip::sharesTheStoreBothWays()
{
    // A recording with no frames: kestrel-check judges it incomplete and
    // stores that.
    const QString recording = folder.filePath(QStringLiteral("empty.pcap"));
    QFile pcap(recording);
    QVERIFY(pcap.open(QIODevice::WriteOnly));
    const unsigned char header[24] = {0xd4, 0xc3, 0xb2, 0xa1, 2,    0,    4, 0, 0, 0, 0, 0,
                                      0,    0,    0,    0,    0xff, 0xff, 0, 0, 1, 0, 0, 0};
    pcap.write(reinterpret_cast<const char*>(header), sizeof header);
    pcap.close();
    int code = -1;
    kestrelCheck({QStringLiteral("--read"), recording, QStringLiteral("--wand-id"),
                  QStringLiteral("RT1"), QStringLiteral("--out"),
                  folder.filePath(QStringLiteral("reports")), QStringLiteral("--store"), url},
                 code);
    QCOMPARE(code, 2);

    CheckHistoryWindow window(url);
    QCOMPARE(window.model()->rowCount(), 1);
    const CheckRecord fromTool = window.model()->records().front();
    QCOMPARE(fromTool.wandId, std::string("RT1"));
    QCOMPARE(fromTool.verdict, std::string("incomplete"));
    QCOMPARE(QString::fromStdString(fromTool.source), QStringLiteral("capture ") + recording);

    // As the wizard stores a saved check: its report made a record.
    CheckReportInfo info;
    info.checkId = newCheckId();
    info.toolName = "skywandtester";
    info.wandId = "RT2";
    info.operatorName = "Ann";
    info.port = 5000;
    info.startedUs = 1796117400000000LL;
    info.finishedUs = info.startedUs + 60000000;
    CheckResult result;
    result.verdict = Verdict::Pass;
    result.rest.offset = 0.0125;
    result.circle.coverage = 0.97;
    result.hold.trackedShare = 1;
    CheckRecord fromWindow;
    std::string error;
    QVERIFY2(
        recordFromReport(reportJson(info, CheckProfile(), result), "bench-2", fromWindow, error),
        error.c_str());
    auto store = openCheckStore(url.toStdString(), error);
    QVERIFY2(store, error.c_str());
    QCOMPARE(store->put(fromWindow, error), CheckStore::Put::Stored);

    const QList<QByteArray> lines =
        kestrelCheck({QStringLiteral("history"), QStringLiteral("--store"), url,
                      QStringLiteral("--format"), QStringLiteral("json")},
                     code)
            .trimmed()
            .split('\n');
    QCOMPARE(code, 0);
    QCOMPARE(lines.size(), 2);
    QJsonObject listed;
    for (const QByteArray& line : lines) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.value(QStringLiteral("checkId")).toString().toStdString() == info.checkId)
            listed = record;
    }
    QCOMPARE(listed.value(QStringLiteral("wandId")).toString(), QStringLiteral("RT2"));
    QCOMPARE(listed.value(QStringLiteral("bench")).toString(), QStringLiteral("bench-2"));
    QCOMPARE(listed.value(QStringLiteral("verdict")).toString(), QStringLiteral("pass"));
    QCOMPARE(listed.value(QStringLiteral("offset")).toDouble(), 0.0125);

    window.refresh();
    QCOMPARE(window.model()->rowCount(), 2);
}

QTEST_MAIN(TestPgRoundTrip)
#include "tst_pgroundtrip.moc"
