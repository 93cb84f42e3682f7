// The check wizard driven by a wand played frame by frame against the
// wizard's own prompts, on a clock the test owns: the verdict, the three
// report files and the comparison with the wand's previous report.

#include "../filesizelimit.h"
#include "checkhistory.h"
#include "checkstore.h"
#include "checkwizard.h"
#include "frameinbox.h"
#include "framerecords.h"
#include "framesender.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// Plays a wand that does what the prompt asks, except that deadButton (from
// 1, 0 for none) never reports a press. Frames at 100 Hz; returns the time
// reached.
void playWand(CheckWizard& wizard, double& clock, int deadButton)
{
    SkywandRecord record;
    record.quality = 1.0f;
    record.numButton = 4;
    record.numJoystick = 2;
    record.location[2] = 1000.0f;
    record.rotation[0] = record.rotation[4] = record.rotation[8] = 1.0f;
    int answered = 0; // the latest button prompted, pressed once for 0.1 s
    double pressedAt = 0.0;
    double circleStart = -1.0;
    uint32_t counter = 0;
    for (clock = 0.0; clock < 120.0 && !wizard.check().finished(); clock += 0.01) {
        const SkywandCheck& check = wizard.check();
        const int target = check.buttonToPress();
        if (target != 0 && target != answered) {
            answered = target;
            pressedAt = clock;
        }
        const bool down = answered != deadButton && clock - pressedAt < 0.1;
        for (int b = 0; b < record.numButton; ++b)
            record.button[b] = down && b + 1 == answered ? 1 : 0;
        record.joystickValue[0] = record.joystickValue[1] = 0.0f;
        if (check.step() == CheckStep::Circle) {
            if (circleStart < 0.0)
                circleStart = clock;
            const double angle = M_PI * (clock - circleStart);
            record.joystickValue[0] = float(std::cos(angle));
            record.joystickValue[1] = float(std::sin(angle));
        }
        wizard.feedFrame(++counter, clock, &record);
    }
}

// Answers the next question box (a QMessageBox) with the button of that
// text, from a timer inside the box's own event loop; remembers which box it
// was. Gives up after a few seconds so that a test fails instead of hanging.
class Answerer : public QObject
{
public:
    Answerer(const QString& button) : answer(button)
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                if (clock.elapsed() > 5000)
                    timer.stop();
                return;
            }
            asked = box->objectName();
            for (QAbstractButton* b : box->buttons())
                if (b->text().remove(QLatin1Char('&')) == answer)
                    b->click();
            timer.stop();
        });
        clock.start();
        timer.start(10);
    }
    QString asked; // the box's name, empty while none came

private:
    QString answer;
    QTimer timer;
    QElapsedTimer clock;
};

} // namespace

class TestCheckWizard : public QObject
{
    Q_OBJECT

private slots:
    void verdictAndReports_data();
    void verdictAndReports();
    void savingIsAllOrNothing();
    void previousReportIgnoresOthers();
    void saveStoresTheCheck_data();
    void saveStoresTheCheck();
    void inboxFeedsTheCheck();
    void checksOneWandAfterAnother();
    void asksBeforeLosingACheck_data();
    void asksBeforeLosingACheck();
    void proposesTheNextWandId();
};

void TestCheckWizard::verdictAndReports_data()
{
    QTest::addColumn<int>("deadButton");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("failedItem");
    QTest::newRow("pass") << 0 << "PASS" << QString();
    QTest::newRow("dead button 2") << 2 << "FAIL"
                                   << "button 2";
}

void TestCheckWizard::verdictAndReports()
{
    QFETCH(int, deadButton);
    QFETCH(QString, verdict);
    QFETCH(QString, failedItem);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());

    // The same wand twice: the second check is compared with the first.
    for (int run = 0; run < 2; ++run) {
        double clock = 0.0;
        CheckWizard wizard(0, 5000);
        wizard.setClockForTesting([&clock] { return clock; });
        wizard.setReportFolder(folder.path());
        wizard.findChild<QLineEdit*>(QStringLiteral("wandId"))->setText(QStringLiteral("SW-17"));
        wizard.show();
        wizard.next();
        QCOMPARE(wizard.currentId(), int(CheckWizard::StepsPage));
        playWand(wizard, clock, deadButton);

        QVERIFY(wizard.check().finished());
        QCOMPARE(wizard.currentId(), int(CheckWizard::ResultPage));
        const CheckResult& result = wizard.check().result();
        QCOMPARE(QString::fromLatin1(verdictName(result.verdict)).toUpper(), verdict);
        if (!failedItem.isEmpty()) {
            QVERIFY(!result.failures.empty());
            QCOMPARE(QString::fromStdString(result.failures.front().item), failedItem);
        }
        QCOMPARE(wizard.findChild<QLabel*>(QStringLiteral("verdict"))->text(), verdict);
        if (run == 1) {
            const QString comparison =
                wizard.findChild<QLabel*>(QStringLiteral("comparison"))->text();
            QVERIFY2(comparison.contains(QStringLiteral("circularity 0.0 % before, 0.0 % now")),
                     qPrintable(comparison));
        }

        QString error;
        QVERIFY2(wizard.saveReports(error), qPrintable(error));
        const QStringList files = wizard.savedFiles();
        QCOMPARE(files.size(), 4);
        for (const char* suffix : {".json", ".html", ".pdf", ".csv"})
            QVERIFY(std::any_of(files.begin(), files.end(), [&](const QString& f) {
                return f.endsWith(QLatin1String(suffix)) && QFile::exists(f);
            }));
        QFile pdf(files.at(2));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");

        // What the folder files is what the wizard measured.
        CheckFigures filed;
        QString wandId;
        QVERIFY(readCheckFigures(files.at(0), filed, wandId));
        QCOMPARE(wandId, QStringLiteral("SW-17"));
        const CheckFigures measured = checkFigures(result);
        QCOMPARE(filed.verdict, measured.verdict);
        QCOMPARE(filed.circularityError, measured.circularityError);
        QCOMPARE(filed.coverage, measured.coverage);
        QCOMPARE(filed.positionSigmaMm, measured.positionSigmaMm);
        QCOMPARE(filed.reach, measured.reach);
    }
}

// A save files every file of the check or none: a PDF cut short by a full
// disk fails it and leaves nothing behind, a retry files under the names the
// first attempt would have used, and no file of the same name is replaced.
void TestCheckWizard::savingIsAllOrNothing()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    double clock = 0.0;
    CheckWizard wizard(0, 5000);
    wizard.setClockForTesting([&clock] { return clock; });
    wizard.findChild<QLineEdit*>(QStringLiteral("wandId"))->setText(QStringLiteral("SW-17"));
    wizard.show();
    wizard.next();
    playWand(wizard, clock, 0);
    QVERIFY(wizard.check().finished());
    const auto names = [](const QString& folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    };

    QString error;
    wizard.setReportFolder(root.filePath(QStringLiteral("first")));
    QVERIFY2(wizard.saveReports(error), qPrintable(error));
    const QStringList filed = names(root.filePath(QStringLiteral("first")));
    QCOMPARE(filed.size(), 4);
    const QFileInfo json(wizard.savedFiles().at(0));
    const QFileInfo pdf(wizard.savedFiles().at(2));
    QFile pdfFile(pdf.filePath());
    QVERIFY(pdfFile.open(QIODevice::ReadOnly));
    QVERIFY(pdfFile.readAll().trimmed().endsWith("%%EOF"));
    const qint64 largestOther = std::max(json.size(), QFileInfo(wizard.savedFiles().at(1)).size());
    QVERIFY(largestOther < pdf.size());

    const QString full = root.filePath(QStringLiteral("full"));
    wizard.setReportFolder(full);
    {
        FileSizeLimit limit(rlim_t(largestOther + 100));
        for (int press = 0; press < 2; ++press) {
            QVERIFY(!wizard.saveReports(error));
            QVERIFY2(error.endsWith(QStringLiteral(".pdf: File too large")), qPrintable(error));
            QCOMPARE(names(full), QStringList());
        }
    }
    QVERIFY2(wizard.saveReports(error), qPrintable(error));
    QCOMPARE(names(full), filed);
    QFile csv(full + QStringLiteral("/skywand-checks.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll().count('\n'), 2);

    const QString taken = root.filePath(QStringLiteral("taken"));
    QVERIFY(QDir().mkpath(taken));
    QFile kept(taken + QLatin1Char('/') + pdf.fileName());
    QVERIFY(kept.open(QIODevice::WriteOnly));
    kept.write("kept");
    kept.close();
    wizard.setReportFolder(taken);
    QVERIFY2(wizard.saveReports(error), qPrintable(error));
    QCOMPARE(QFileInfo(wizard.savedFiles().at(2)).fileName(),
             pdf.completeBaseName() + QStringLiteral("-2.pdf"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("kept"));
}

void TestCheckWizard::saveStoresTheCheck_data()
{
    QTest::addColumn<QString>("store");
    QTest::addColumn<QString>("storeError");
    QTest::newRow("records") << QStringLiteral("sqlite:%1/checks.sqlite") << QString();
    QTest::newRow("records that are a folder")
        << QStringLiteral("sqlite:%1") << QStringLiteral("Not stored in the check records");
    QTest::newRow("records in a file that is no database")
        << QStringLiteral("sqlite:%1/text.sqlite")
        << QStringLiteral("Not stored in the check records");
}

// The saved check goes into the records, beside the report files; the
// previous check and the wear warnings come from there, whatever folder
// the reports go to. Records that fail leave the files filed and say why.
void TestCheckWizard::saveStoresTheCheck()
{
    QFETCH(QString, store);
    QFETCH(QString, storeError);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile text(folder.filePath(QStringLiteral("text.sqlite")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(4096, 'x'));
    text.close();
    const QString url = store.arg(folder.path());

    // Five earlier checks of the wand from another bench, a day apart, with
    // the joystick's centre drifting toward its limit.
    const int64_t day = 86400000000LL;
    const int64_t now = QDateTime::currentMSecsSinceEpoch() * 1000;
    if (storeError.isEmpty()) {
        std::string error;
        auto records = openCheckStore(url.toStdString(), error);
        QVERIFY2(records, error.c_str());
        for (int i = 0; i < 5; ++i) {
            CheckRecord r;
            r.checkId = "00000000-0000-4000-8000-00000000000" + std::to_string(i);
            r.wandId = "SW-17";
            r.bench = "bench-2";
            r.startedUs = now - (6 - i) * day;
            r.finishedUs = r.startedUs + 60000000;
            r.verdict = "pass";
            r.source = "UDP port 5000";
            r.profileJson = "{}";
            r.offset = 0.01 * i;
            r.circularityError = 3.0;
            r.reportJson = "{}";
            QCOMPARE(records->put(r, error), CheckStore::Put::Stored);
        }
    }

    double clock = 0.0;
    CheckWizard wizard(0, 5000);
    wizard.setClockForTesting([&clock] { return clock; });
    wizard.setCheckStore(url);
    wizard.setReportFolder(folder.filePath(QStringLiteral("reports")));
    wizard.findChild<QLineEdit*>(QStringLiteral("wandId"))->setText(QStringLiteral("SW-17"));
    wizard.show();
    wizard.next();
    playWand(wizard, clock, 0);
    QVERIFY(wizard.check().finished());
    const QString comparison = wizard.findChild<QLabel*>(QStringLiteral("comparison"))->text();
    const QString wear = wizard.findChild<QLabel*>(QStringLiteral("wear"))->text();
    if (storeError.isEmpty()) {
        QVERIFY2(comparison.contains(QStringLiteral("circularity 3.0 % before, 0.0 % now")),
                 qPrintable(comparison));
        QCOMPARE(wizard.wearWarnings().size(), 1);
        QVERIFY2(wizard.wearWarnings().first().startsWith(QStringLiteral("offset")),
                 qPrintable(wizard.wearWarnings().first()));
        QVERIFY(wear.contains(wizard.wearWarnings().first().toHtmlEscaped()));
    } else {
        QVERIFY2(comparison.contains(QStringLiteral("The check records did not open")),
                 qPrintable(comparison));
        QVERIFY(wizard.wearWarnings().isEmpty());
    }

    auto* save = wizard.findChild<QPushButton*>(QStringLiteral("saveReport"));
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(wizard.savedFiles().size(), 4);
    QVERIFY(QFile::exists(wizard.savedFiles().first()));
    const QString saved = wizard.findChild<QLabel*>(QStringLiteral("savedReport"))->text();
    if (!storeError.isEmpty()) {
        QVERIFY2(saved.contains(storeError), qPrintable(saved));
        QVERIFY(!wizard.storeError().isEmpty());
        return;
    }
    QVERIFY2(wizard.storeError().isEmpty(), qPrintable(wizard.storeError()));
    QVERIFY2(saved.contains(QStringLiteral("Stored in the check records")), qPrintable(saved));
    std::string error;
    auto records = openCheckStore(url.toStdString(), error);
    QVERIFY2(records, error.c_str());
    std::vector<CheckRecord> found;
    CheckQuery query;
    query.wandId = "SW-17";
    QVERIFY2(records->find(query, found, error), error.c_str());
    QCOMPARE(found.size(), size_t(6));
    QFile json(wizard.savedFiles().first());
    QVERIFY(json.open(QIODevice::ReadOnly));
    QCOMPARE(found.front().reportJson, json.readAll().toStdString());
    QCOMPARE(found.front().bench, QSysInfo::machineHostName().toStdString());
}

// A folder holds reports of other wands, files that are no report, and one
// too large to read: only the newest report of the wand counts.
void TestCheckWizard::previousReportIgnoresOthers()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const auto write = [&](const QString& name, const QByteArray& text) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    const auto report = [](const char* id, const char* finished, double circularity) {
        return QByteArray("{\"schema\":\"skywand-check/1\",\"wandId\":\"") + id +
               "\",\"verdict\":\"pass\",\"finished\":\"" + finished +
               "\",\"steps\":{\"circle\":{\"circularityError\":" + QByteArray::number(circularity) +
               ",\"reach\":{\"+x\":0.99,\"-x\":1.0,\"+y\":null,\"-y\":0.98}}}}";
    };
    write(QStringLiteral("a.json"), report("SW-1", "2026-12-01T09:00:00.000Z", 4.1));
    write(QStringLiteral("b.json"), report("SW-1", "2026-11-01T09:00:00.000Z", 3.0));
    write(QStringLiteral("c.json"), report("SW-2", "2026-12-05T09:00:00.000Z", 9.0));
    write(QStringLiteral("d.json"), "{\"schema\":\"other\",\"wandId\":\"SW-1\"}");
    write(QStringLiteral("e.json"), "not json at all [[[");
    write(QStringLiteral("f.json"),
          report("SW-1", "2026-12-09T09:00:00.000Z", 1.0) + QByteArray(int(kMaxReportSize), ' '));

    CheckFigures previous;
    QVERIFY(findPreviousCheck(folder.path(), QStringLiteral("SW-1"), QString(), previous));
    QCOMPARE(previous.circularityError, 4.1);
    QCOMPARE(previous.reach, 0.98);
    QVERIFY(!findPreviousCheck(folder.path(), QStringLiteral("SW-3"), QString(), previous));
    QVERIFY(!findPreviousCheck(folder.filePath(QStringLiteral("missing")), QStringLiteral("SW-1"),
                               QString(), previous));

    CheckFigures now = previous;
    now.circularityError = 7.9;
    QVERIFY(compareChecks(previous, now)
                .contains(QStringLiteral("circularity 4.1 % before, 7.9 % now")));
}

// Datagrams from the receiver thread reach the check decoded, in order;
// those from before the start and those that do not decode are left out, and
// the inbox stays within its bound.
void TestCheckWizard::inboxFeedsTheCheck()
{
    CheckWizard wizard(1, 5000);
    wizard.findChild<QLineEdit*>(QStringLiteral("wandId"))->setText(QStringLiteral("SW-1"));
    const std::shared_ptr<FrameInbox> inbox = wizard.inbox();
    inbox->push(FrameInbox::wallUs(), framesender::frame6df2({{}, {}}).toStdString());
    wizard.show();
    wizard.next();
    wizard.drainFrames();
    QCOMPARE(wizard.check().step(), CheckStep::Waiting);

    framesender::Wand second;
    second.buttons = 5;
    inbox->push(FrameInbox::wallUs(), "fr 1\n6df2 2 2 [0 garbage");
    inbox->push(FrameInbox::wallUs(), framesender::frame6df2({{}, second}, 2).toStdString());
    wizard.drainFrames();
    QCOMPARE(wizard.check().step(), CheckStep::Buttons);
    QCOMPARE(wizard.check().result().numButton, 5);

    const std::string big(FrameInbox::kMaxPendingBytes / 2 + 1, 'x');
    inbox->push(0, big);
    inbox->push(0, big);
    QCOMPARE(inbox->lost(), int64_t(1));
    std::vector<FrameInbox::Entry> taken;
    inbox->take(taken);
    QCOMPARE(taken.size(), size_t(1));
}

// Three wands in a row through "Check next wand", the first result saved by
// hand and the others by the button itself: each lands in the records once,
// with the operator kept; the main window's answer moves the next check to
// another Skywand with a proposed wand id.
void TestCheckWizard::checksOneWandAfterAnother()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString url = QStringLiteral("sqlite:%1/checks.sqlite").arg(folder.path());
    const QString reports = folder.filePath(QStringLiteral("reports"));
    double clock = 0.0;
    CheckWizard wizard(0, 5000);
    wizard.setClockForTesting([&clock] { return clock; });
    wizard.setCheckStore(url);
    wizard.setReportFolder(reports);
    auto* wandId = wizard.findChild<QLineEdit*>(QStringLiteral("wandId"));
    wizard.findChild<QLineEdit*>(QStringLiteral("operator"))->setText(QStringLiteral("Ann"));
    QSignalSpy requested(&wizard, &CheckWizard::nextWandRequested);
    connect(&wizard, &CheckWizard::nextWandRequested, &wizard, [&] {
        if (requested.size() == 1)
            wizard.setSkywand(0, QStringLiteral("SW-2"));
    });
    wizard.show();
    wandId->setText(QStringLiteral("SW-1"));
    for (int wand = 1; wand <= 3; ++wand) {
        if (wand == 3)
            wandId->setText(QStringLiteral("SW-3"));
        wizard.next();
        playWand(wizard, clock, wand == 2 ? 2 : 0);
        QCOMPARE(wizard.currentId(), int(CheckWizard::ResultPage));
        if (wand == 1)
            QTest::mouseClick(wizard.findChild<QPushButton*>(QStringLiteral("saveReport")),
                              Qt::LeftButton);
        QTest::mouseClick(wizard.findChild<QPushButton*>(QStringLiteral("checkNextWand")),
                          Qt::LeftButton);
        QCOMPARE(requested.size(), wand);
        QCOMPARE(wizard.currentId(), int(CheckWizard::IdentityPage));
        // The overview's id for the first, then the one after the id checked.
        QCOMPARE(wandId->text(), QStringLiteral("SW-%1").arg(wand + 1));
        QCOMPARE(wizard.reportFolder(), reports);
    }
    std::string error;
    auto records = openCheckStore(url.toStdString(), error);
    QVERIFY2(records, error.c_str());
    std::vector<CheckRecord> found;
    QVERIFY2(records->find(CheckQuery(), found, error), error.c_str());
    std::map<std::string, std::string> verdicts;
    for (const CheckRecord& r : found) {
        verdicts[r.wandId] += r.verdict;
        QCOMPARE(r.operatorName, std::string("Ann"));
    }
    QCOMPARE(found.size(), size_t(3));
    QVERIFY((verdicts == std::map<std::string, std::string>{
                             {"SW-1", "pass"}, {"SW-2", "fail"}, {"SW-3", "pass"}}));

    // The inbox now keeps the records of the Skywand the window moved to.
    CheckWizard next(0, 5000);
    next.setSkywand(1, QStringLiteral("SW-9"));
    QCOMPARE(next.findChild<QLineEdit*>(QStringLiteral("wandId"))->text(), QStringLiteral("SW-9"));
    QVERIFY(next.windowTitle().endsWith(QStringLiteral("F2")));
    next.show();
    next.next();
    framesender::Wand second;
    second.buttons = 5;
    next.inbox()->push(FrameInbox::wallUs(), framesender::frame6df2({{}, second}, 1).toStdString());
    next.drainFrames();
    QCOMPARE(next.check().result().numButton, 5);
}

void TestCheckWizard::asksBeforeLosingACheck_data()
{
    QTest::addColumn<QString>("state"); // idle, running, unsaved or saved
    QTest::addColumn<QString>("how");   // Esc, the close box, Finish, or Enter in the folder
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("asked"); // the question, empty for none
    QTest::addColumn<bool>("open");     // the wizard after the answer
    QTest::addColumn<int>("files");     // in the report folder
    QTest::newRow("nothing to lose") << "idle"
                                     << "esc"
                                     << ""
                                     << "" << false << 0;
    QTest::newRow("running, go back") << "running"
                                      << "esc"
                                      << "Go back"
                                      << "stopCheck" << true << 0;
    QTest::newRow("running, stop") << "running"
                                   << "close"
                                   << "Stop check"
                                   << "stopCheck" << true << 0;
    QTest::newRow("unsaved, go back") << "unsaved"
                                      << "esc"
                                      << "Go back"
                                      << "unsavedCheck" << true << 0;
    QTest::newRow("unsaved, discard") << "unsaved"
                                      << "close"
                                      << "Discard"
                                      << "unsavedCheck" << false << 0;
    QTest::newRow("unsaved, save") << "unsaved"
                                   << "finish"
                                   << "Save"
                                   << "unsavedCheck" << false << 4;
    QTest::newRow("unsaved, Enter in the folder") << "unsaved"
                                                  << "enter"
                                                  << ""
                                                  << "" << true << 0;
    QTest::newRow("saved") << "saved"
                           << "esc"
                           << ""
                           << "" << false << 4;
}

// A running check and a result not saved are never lost by one key: Esc,
// the close box and Finish ask first, and a running check that is stopped
// ends on its incomplete result.
void TestCheckWizard::asksBeforeLosingACheck()
{
    QFETCH(QString, state);
    QFETCH(QString, how);
    QFETCH(QString, answer);
    QFETCH(QString, asked);
    QFETCH(bool, open);
    QFETCH(int, files);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    double clock = 0.0;
    CheckWizard wizard(0, 5000);
    wizard.setClockForTesting([&clock] { return clock; });
    wizard.setReportFolder(folder.path());
    wizard.findChild<QLineEdit*>(QStringLiteral("wandId"))->setText(QStringLiteral("SW-0042"));
    wizard.show();
    if (state != QLatin1String("idle"))
        wizard.next();
    if (state == QLatin1String("unsaved") || state == QLatin1String("saved"))
        playWand(wizard, clock, 0);
    QString error;
    if (state == QLatin1String("saved"))
        QVERIFY2(wizard.saveReports(error), qPrintable(error));
    auto* openFolder = wizard.findChild<QPushButton*>(QStringLiteral("openReportFolder"));
    QCOMPARE(openFolder->isEnabled(), state == QLatin1String("saved"));

    Answerer answerer(answer);
    if (how == QLatin1String("esc")) {
        QTest::keyClick(&wizard, Qt::Key_Escape);
    } else if (how == QLatin1String("close")) {
        wizard.close();
    } else if (how == QLatin1String("finish")) {
        wizard.button(QWizard::FinishButton)->click();
    } else {
        auto* edit = wizard.findChild<QLineEdit*>(QStringLiteral("reportFolder"));
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
    }
    QCOMPARE(answerer.asked, asked);
    QCOMPARE(wizard.isVisible(), open);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), files);
    QCOMPARE(openFolder->isEnabled(), files > 0);
    if (answer == QLatin1String("Stop check")) {
        QCOMPARE(wizard.currentId(), int(CheckWizard::ResultPage));
        QCOMPARE(wizard.findChild<QLabel*>(QStringLiteral("verdict"))->text(),
                 QStringLiteral("INCOMPLETE"));
    }
    QCOMPARE(wizard.holdsUnsavedCheck(), open && state != QLatin1String("idle"));
}

void TestCheckWizard::proposesTheNextWandId()
{
    const QStringList rows = {"SW-0042>SW-0043", "SW-0099>SW-0100", "9>10", "shelf B>shelf B", ">"};
    for (const QString& row : rows) {
        const QStringList pair = row.split(QLatin1Char('>'));
        QCOMPARE(CheckWizard::nextWandId(pair[0]), pair[1]);
    }
    CheckWizard wizard(0, 5000);
    wizard.setRemembered(QStringLiteral("/lab/reports"), QStringLiteral("Ann"),
                         QStringLiteral("SW-0042"));
    QCOMPARE(wizard.findChild<QLineEdit*>(QStringLiteral("wandId"))->text(),
             QStringLiteral("SW-0043"));
    QCOMPARE(wizard.operatorName(), QStringLiteral("Ann"));
    QCOMPARE(wizard.reportFolder(), QStringLiteral("/lab/reports"));
}

QTEST_MAIN(TestCheckWizard)
#include "tst_checkwizard.moc"
