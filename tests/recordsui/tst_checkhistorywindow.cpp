// The check history window over a temporary SQLite store: the list, its
// filters, one wand's charts and wear, and a stored report read on demand.

#include "checkhistorywindow.h"
#include "checkrecordmodel.h"
#include "checkstore.h"

#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <string>

class TestCheckHistoryWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void filters_data();
    void filters();
    void opensTheReportOnlyWhenAsked();
    void showsTheWandsWearAboveItsCharts();
    void closesWhileAFilterHasTheFocus();

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
        r.reportJson = R"({"checkId": ")" + r.checkId + "\"}";
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

void TestCheckHistoryWindow::opensTheReportOnlyWhenAsked()
{
    CheckHistoryWindow window(url);
    const auto& records = window.model()->records();
    QVERIFY(!records.empty());
    // The list leaves the reports in the store.
    QVERIFY(records.front().reportJson.empty());
    window.findChild<QTableView*>(QStringLiteral("checkTable"))->selectRow(0);
    window.openSelectedReport();
    auto* dialog = window.findChild<QDialog*>(QStringLiteral("storedReport"));
    QVERIFY(dialog);
    QVERIFY(dialog->findChild<QTextBrowser*>()->toPlainText().contains(
        QStringLiteral("\"checkId\": \"%1\"")
            .arg(QString::fromStdString(records.front().checkId))));
}

// Wand D's offset rises a little each week towards its limit; wand E's
// stays put. Only a shown wand's wear is shown, and only where there is some.
void TestCheckHistoryWindow::showsTheWandsWearAboveItsCharts()
{
    const QString wearUrl = QStringLiteral("sqlite:%1/wear.sqlite").arg(folder.path());
    std::string error;
    auto store = openCheckStore(wearUrl.toStdString(), error);
    QVERIFY2(store, error.c_str());
    const int64_t nowUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    for (int i = 0; i < 12; ++i) {
        CheckRecord r;
        r.checkId = "wear-" + std::to_string(i);
        r.wandId = i % 2 ? "E" : "D";
        r.finishedUs = r.startedUs = nowUs - int64_t(11 - i) * 7 * 86400000000LL;
        r.verdict = "pass";
        r.profileJson = R"({"maxOffset": 0.05})";
        r.offset = i % 2 ? 0.01 : 0.02 + 0.0015 * i;
        r.reportJson = "{}";
        QCOMPARE(store->put(r, error), CheckStore::Put::Stored);
    }
    CheckHistoryWindow window(wearUrl);
    auto* wear = window.findChild<QLabel*>(QStringLiteral("wearWarnings"));
    QVERIFY(wear);
    QVERIFY(wear->isHidden());
    auto* wand = window.findChild<QLineEdit*>(QStringLiteral("wandFilter"));
    wand->setText(QStringLiteral("D"));
    window.refresh();
    QVERIFY(!wear->isHidden());
    QVERIFY2(wear->text().startsWith(QStringLiteral("offset 0.035 rising")),
             qPrintable(wear->text()));
    QVERIFY(wear->text().contains(QStringLiteral("reaches its limit 0.05")));
    wand->setText(QStringLiteral("E"));
    window.refresh();
    QCOMPARE(window.chartedWand(), QStringLiteral("E"));
    QVERIFY(wear->isHidden());
}

// Closing takes the focus from a filter whose text changed, which must not
// refresh a window being destroyed.
void TestCheckHistoryWindow::closesWhileAFilterHasTheFocus()
{
    auto* window = new CheckHistoryWindow(url);
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    auto* wand = window->findChild<QLineEdit*>(QStringLiteral("wandFilter"));
    wand->setFocus();
    QTRY_VERIFY(wand->hasFocus());
    wand->setText(QStringLiteral("B"));
    delete window;
}

QTEST_MAIN(TestCheckHistoryWindow)
#include "tst_checkhistorywindow.moc"
