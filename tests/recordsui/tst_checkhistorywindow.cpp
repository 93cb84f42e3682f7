// The check history window over a temporary SQLite store: the list, its
// filters and one wand's charts.

#include "checkhistorywindow.h"
#include "checkrecordmodel.h"
#include "checkstore.h"

#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <string>

class TestCheckHistoryWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void filters_data();
    void filters();

private:
    QTemporaryDir folder;
    QString url;
};

// Nine checks: wands A, B, C in turn, a day apart from 2026-12-01, on two
// benches; every third check fails.
void TestCheckHistoryWindow::initTestCase()
{
    QVERIFY(folder.isValid());
    url = QStringLiteral("sqlite:%1/checks.sqlite").arg(folder.path());
    std::string error;
    auto store = openCheckStore(url.toStdString(), error);
    QVERIFY2(store, error.c_str());
    for (int i = 0; i < 9; ++i) {
        CheckRecord r;
        r.checkId = "00000000-0000-4000-8000-00000000000" + std::to_string(i);
        r.wandId = std::string(1, char('A' + i % 3));
        r.operatorName = i < 6 ? "Ann" : "Bo";
        r.bench = i % 2 ? "bench-2" : "bench-1";
        r.startedUs = 1796117400000000LL + i * 86400000000LL;
        r.finishedUs = r.startedUs + 60000000;
        r.verdict = i % 3 == 2 ? "fail" : "pass";
        r.source = "UDP port 5000";
        r.profileJson = R"({"maxOffset": 0.05})";
        r.offset = 0.01 * i;
        r.reportJson = "{}";
        QCOMPARE(store->put(r, error), CheckStore::Put::Stored);
    }
}

void TestCheckHistoryWindow::filters_data()
{
    QTest::addColumn<QString>("wand");
    QTest::addColumn<int>("verdict"); // index: any, pass, fail, incomplete
    QTest::addColumn<QString>("bench");
    QTest::addColumn<QString>("operatorName");
    QTest::addColumn<QDate>("since");
    QTest::addColumn<QDate>("until");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("charted");
    const QDate any(2000, 1, 1);
    QTest::newRow("all") << "" << 0 << ""
                         << "" << any << any << 9 << "";
    QTest::newRow("wand B") << "B" << 0 << ""
                            << "" << any << any << 3 << "B";
    QTest::newRow("failed") << "" << 2 << ""
                            << "" << any << any << 3 << "C";
    QTest::newRow("bench") << "" << 0 << "bench-2"
                           << "" << any << any << 4 << "";
    QTest::newRow("operator and wand") << "A" << 0 << ""
                                       << "Bo" << any << any << 1 << "A";
    QTest::newRow("from and until") << "" << 0 << ""
                                    << "" << QDate(2026, 12, 3) << QDate(2026, 12, 4) << 2 << "";
    QTest::newRow("nothing") << "" << 3 << ""
                             << "" << any << any << 0 << "";
}

void TestCheckHistoryWindow::filters()
{
    QFETCH(QString, wand);
    QFETCH(int, verdict);
    QFETCH(QString, bench);
    QFETCH(QString, operatorName);
    QFETCH(QDate, since);
    QFETCH(QDate, until);
    QFETCH(int, rows);
    QFETCH(QString, charted);
    CheckHistoryWindow window(url);
    QCOMPARE(window.model()->rowCount(), 9);
    window.findChild<QLineEdit*>(QStringLiteral("wandFilter"))->setText(wand);
    window.findChild<QLineEdit*>(QStringLiteral("benchFilter"))->setText(bench);
    window.findChild<QLineEdit*>(QStringLiteral("operatorFilter"))->setText(operatorName);
    window.findChild<QComboBox*>(QStringLiteral("verdictFilter"))->setCurrentIndex(verdict);
    window.findChild<QDateEdit*>(QStringLiteral("sinceFilter"))->setDate(since);
    window.findChild<QDateEdit*>(QStringLiteral("untilFilter"))->setDate(until);
    window.refresh();
    QCOMPARE(window.model()->rowCount(), rows);
    QCOMPARE(window.chartedWand(), charted);
    // One chart per figure for a single wand, none for several.
    QCOMPARE(window.findChildren<QChartView*>().size(), charted.isEmpty() ? 0 : 10);
    const auto& records = window.model()->records();
    for (size_t i = 1; i < records.size(); ++i)
        QVERIFY(records[i - 1].finishedUs >= records[i].finishedUs);
    if (charted == QLatin1String("B")) {
        const auto points = CheckHistoryWindow::figurePoints(records, &CheckRecord::offset);
        QCOMPARE(points.size(), size_t(3));
        QCOMPARE(points.front().y(), 0.01);
        QCOMPARE(points.back().y(), 0.07);
    }
}

QTEST_MAIN(TestCheckHistoryWindow)
#include "tst_checkhistorywindow.moc"
