#include "checkwizard.h"

#include "checkfeed.h"
#include "checkhistory.h"
#include "checkstore.h"
#include "circletraceview.h"
#include "failuretext.h"
#include "frameinbox.h"
#include "framerecords.h"
#include "trackingsdk.h"
#include "wearfit.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWizardPage>

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#ifndef SKYWAND_VERSION
#define SKYWAND_VERSION "unknown"
#endif

namespace {

// A page that may only be left once its condition holds.
class ConditionPage : public QWizardPage
{
public:
    std::function<bool()> condition;
    bool isComplete() const override { return condition ? condition() : true; }
};

const QString kStyleTarget = QStringLiteral(
    "border: 3px solid #d08000; background-color: #ffe9a8; color: black; font-weight: bold;");
const QString kStyleHeld =
    QStringLiteral("border: 1px solid gray; background-color: red; color: white;");
const QString kStylePassed =
    QStringLiteral("border: 1px solid gray; background-color: #c8ecc8; color: black;");
const QString kStyleFailed =
    QStringLiteral("border: 1px solid gray; background-color: #f4c0c0; color: black;");
const QString kStyleWaiting =
    QStringLiteral("border: 1px solid gray; background-color: lightgray; color: black;");

QString stepTitleText(CheckStep step)
{
    switch (step) {
    case CheckStep::Waiting:
        return QStringLiteral("Waiting for the Skywand");
    case CheckStep::Buttons:
        return QStringLiteral("Step 1 of 4: buttons");
    case CheckStep::Rest:
        return QStringLiteral("Step 2 of 4: joystick at rest");
    case CheckStep::Circle:
        return QStringLiteral("Step 3 of 4: full circle");
    case CheckStep::Hold:
        return QStringLiteral("Step 4 of 4: hold still");
    case CheckStep::Done:
        break;
    }
    return QStringLiteral("Check finished");
}

// The rest and hold windows are a few seconds long and count down in
// tenths, from the 2.5 s and 5.5 s the steps last; the longer limits count
// whole seconds.
QString countdownText(const SkywandCheck& check)
{
    const double left = std::max(0.0, check.countdown());
    if (!std::isfinite(left))
        return QString();
    const bool brief = check.step() == CheckStep::Rest || check.step() == CheckStep::Hold;
    return brief ? QStringLiteral("%1 s left").arg(std::ceil(left * 10.0) / 10.0, 0, 'f', 1)
                 : QStringLiteral("%1 s left").arg(std::ceil(left));
}

QFont scaledFont(const QFont& base, double factor, bool bold)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

uint32_t heldButtons(const SkywandRecord* record)
{
    uint32_t bits = 0;
    const int count =
        record ? std::clamp(record->numButton, 0, FrameLimits::kMaxSkywandButtons) : 0;
    for (int i = 0; i < count; ++i) {
        if (record->button[i] == 1)
            bits |= 1u << i;
    }
    return bits;
}

int64_t atUs(int64_t originUs, double seconds)
{
    return std::isfinite(seconds) ? originUs + std::llround(seconds * 1e6) : originUs;
}

} // namespace

CheckWizard::CheckWizard(int skywandIndex, int dataPort, QWidget* parent)
    : QWizard(parent), index(skywandIndex), checkedIndex(skywandIndex), port(dataPort),
      engine(std::make_unique<SkywandCheck>()), frames(std::make_shared<FrameInbox>(skywandIndex)),
      feed(std::make_unique<CheckFeed>(*engine, skywandIndex)), refreshTimer(new QTimer(this))
{
    setWizardStyle(QWizard::ClassicStyle);
    // The wand id is shown as typed.
    setTitleFormat(Qt::PlainText);
    setOption(QWizard::NoBackButtonOnLastPage);
    setOption(QWizard::NoCancelButtonOnLastPage);
    setButtonText(QWizard::CommitButton, QStringLiteral("&Start check"));
    setPage(IdentityPage, createIdentityPage());
    setPage(StepsPage, createStepsPage());
    setPage(ResultPage, createResultPage());
    showSkywand();
    refreshTimer->setInterval(kRefreshMs);
    connect(refreshTimer, &QTimer::timeout, this, [this] { refresh(); });
    sizeFromFont();
}

// Every text whole at the smallest size: the prompt in its large font over
// three lines above the countdown, the result's verdict and the folder row.
// It opens larger where the screen has room.
void CheckWizard::sizeFromFont()
{
    const QFontMetrics metrics(font());
    const QSize least(metrics.averageCharWidth() * 70, metrics.lineSpacing() * 34);
    setMinimumSize(least.expandedTo(minimumSizeHint()));
    QSize wanted(metrics.averageCharWidth() * 90, metrics.lineSpacing() * 44);
    if (const QScreen* shown = screen())
        wanted = wanted.boundedTo(shown->availableSize() * 9 / 10);
    resize(wanted.expandedTo(minimumSize()));
}

CheckWizard::~CheckWizard() = default;

QWizardPage* CheckWizard::createIdentityPage()
{
    auto* page = new ConditionPage;
    // In the page rather than the wizard's header, which does not wrap it.
    auto* intro = new QLabel(QStringLiteral("The check guides the person holding the wand through "
                                            "the buttons, the joystick at rest, a full circle and "
                                            "holding still, and files a report."));
    intro->setWordWrap(true);
    wandIdEdit = new QLineEdit;
    wandIdEdit->setObjectName(QStringLiteral("wandId"));
    wandIdEdit->setMaxLength(kMaxTypedLength);
    wandIdEdit->setPlaceholderText(QStringLiteral("serial number or asset tag"));
    operatorEdit = new QLineEdit;
    operatorEdit->setObjectName(QStringLiteral("operator"));
    operatorEdit->setMaxLength(kMaxTypedLength);
    auto* layout = new QFormLayout(page);
    layout->addRow(intro);
    layout->addRow(QStringLiteral("&Wand id:"), wandIdEdit);
    layout->addRow(QStringLiteral("&Operator:"), operatorEdit);
    sourceLabel = new QLabel;
    sourceLabel->setWordWrap(true);
    layout->addRow(sourceLabel);
    profileLabel = new QLabel;
    profileLabel->setObjectName(QStringLiteral("profileInForce"));
    profileLabel->setWordWrap(true);
    profileLabel->setTextFormat(Qt::PlainText);
    profileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addRow(QStringLiteral("Limits:"), profileLabel);
    profileLabel->setText(QStringLiteral("default limits"));
    // A wand id that is only blanks would file a report nobody can find.
    page->condition = [this] { return !wandIdEdit->text().trimmed().isEmpty(); };
    connect(wandIdEdit, &QLineEdit::textChanged, page, &QWizardPage::completeChanged);
    page->setCommitPage(true);
    return page;
}

QWizardPage* CheckWizard::createStepsPage()
{
    auto* page = new ConditionPage;
    page->condition = [this] { return engine->finished(); };
    page->setCommitPage(true);
    // It moves on by itself when the check ends.
    page->setButtonText(QWizard::CommitButton, QStringLiteral("Next"));
    stepTitle = new QLabel;
    stepTitle->setFont(scaledFont(font(), 1.3, true));
    promptLabel = new QLabel;
    promptLabel->setWordWrap(true);
    promptLabel->setFont(scaledFont(font(), 2.0, true));
    promptLabel->setMinimumHeight(promptLabel->fontMetrics().height() * 3);
    promptLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    countdownLabel = new QLabel;
    countdownLabel->setFont(scaledFont(font(), 1.6, false));
    dataLabel = new QLabel;

    auto* buttons = new QHBoxLayout;
    for (int i = 0; i < FrameLimits::kMaxSkywandButtons; ++i) {
        auto* label = new QLabel(QString::number(i + 1));
        label->setAlignment(Qt::AlignCenter);
        label->setFixedSize(40, 40);
        label->setFont(scaledFont(font(), 1.3, false));
        label->setStyleSheet(kStyleWaiting);
        label->hide();
        buttonLabels << label;
        buttons->addWidget(label);
    }
    buttons->addStretch();
    circleView = new CircleTraceView;
    // Room for the trace below the prompt at the wizard's smallest size.
    circleView->setMinimumSize(QSize(1, 1) * (fontMetrics().height() * 9));
    circleView->setTrace(&engine->circleTrace(), 0.0);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(stepTitle);
    layout->addWidget(promptLabel);
    layout->addWidget(countdownLabel);
    layout->addLayout(buttons);
    layout->addWidget(circleView, 1);
    layout->addStretch();
    layout->addWidget(dataLabel);
    return page;
}

QWizardPage* CheckWizard::createResultPage()
{
    auto* page = new QWizardPage;
    page->setTitle(QStringLiteral("Result"));
    verdictLabel = new QLabel;
    verdictLabel->setObjectName(QStringLiteral("verdict"));
    verdictLabel->setFont(scaledFont(font(), 3.5, true));
    failuresLabel = new QLabel;
    failuresLabel->setWordWrap(true);
    failuresLabel->setTextFormat(Qt::RichText);
    comparisonLabel = new QLabel;
    comparisonLabel->setObjectName(QStringLiteral("comparison"));
    comparisonLabel->setWordWrap(true);
    comparisonLabel->setTextFormat(Qt::RichText);
    wearLabel = new QLabel;
    wearLabel->setObjectName(QStringLiteral("wear"));
    wearLabel->setWordWrap(true);
    wearLabel->setTextFormat(Qt::RichText);
    wearLabel->setStyleSheet(QStringLiteral("color: #b06000;"));
    wearLabel->hide();
    folderEdit = new QLineEdit(defaultReportFolder());
    folderEdit->setObjectName(QStringLiteral("reportFolder"));
    auto* change = new QPushButton(QStringLiteral("C&hange..."));
    connect(change, &QPushButton::clicked, this, [this] { chooseFolder(); });
    connect(folderEdit, &QLineEdit::editingFinished, this, [this] { showComparison(); });
    // Enter in the folder field would press Finish and close the result.
    folderEdit->installEventFilter(this);
    saveButton = new QPushButton(QStringLiteral("&Save report"));
    saveButton->setObjectName(QStringLiteral("saveReport"));
    connect(saveButton, &QPushButton::clicked, this, [this] { onSave(); });
    nextWandButton = new QPushButton(QStringLiteral("Check &next wand"));
    nextWandButton->setObjectName(QStringLiteral("checkNextWand"));
    connect(nextWandButton, &QPushButton::clicked, this, [this] { onNextWand(); });
    openFolderButton = new QPushButton(QStringLiteral("&Open folder"));
    openFolderButton->setObjectName(QStringLiteral("openReportFolder"));
    openFolderButton->setEnabled(false);
    connect(openFolderButton, &QPushButton::clicked, this, [this] {
        if (!saved.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(saved.first()).absolutePath()));
    });
    savedLabel = new QLabel;
    savedLabel->setObjectName(QStringLiteral("savedReport"));
    savedLabel->setWordWrap(true);
    savedLabel->setTextFormat(Qt::PlainText);
    savedLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* folder = new QHBoxLayout;
    folder->addWidget(new QLabel(QStringLiteral("Report folder:")));
    folder->addWidget(folderEdit, 1);
    folder->addWidget(change);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(verdictLabel);
    layout->addWidget(failuresLabel);
    layout->addWidget(comparisonLabel);
    layout->addWidget(wearLabel);
    layout->addStretch();
    layout->addLayout(folder);
    auto* save = new QHBoxLayout;
    save->addWidget(saveButton);
    save->addWidget(nextWandButton);
    save->addWidget(openFolderButton);
    save->addStretch();
    layout->addLayout(save);
    layout->addWidget(savedLabel);
    return page;
}

void CheckWizard::setProfile(const CheckProfile& profile, const QString& source)
{
    limits = profile;
    profileLabel->setText(source.isEmpty() ? QStringLiteral("default limits")
                                           : QDir::toNativeSeparators(source));
    if (!checking && !engine->finished()) {
        // The feed holds the engine it feeds.
        feed.reset();
        engine = std::make_unique<SkywandCheck>(limits);
        feed = std::make_unique<CheckFeed>(*engine, index);
        circleView->setTrace(&engine->circleTrace(), 0.0);
    }
}

void CheckWizard::setClockForTesting(std::function<double()> testClock)
{
    clock = std::move(testClock);
}

double CheckWizard::now() const
{
    if (clock)
        return clock();
    return double(FrameInbox::wallUs() - startUs) / 1e6;
}

void CheckWizard::initializePage(int id)
{
    QWizard::initializePage(id);
    if (id == StepsPage)
        startCheck();
    else if (id == ResultPage)
        showResult();
}

void CheckWizard::startCheck()
{
    page(StepsPage)->setTitle(
        QStringLiteral("Checking Skywand F%1: %2").arg(index + 1).arg(wandIdEdit->text()));
    feed.reset();
    engine = std::make_unique<SkywandCheck>(limits);
    checkedIndex = index;
    checkId = newCheckId();
    stored = false;
    storeProblem.clear();
    feed = std::make_unique<CheckFeed>(*engine, index);
    circleView->setTrace(&engine->circleTrace(), 0.0);
    startUs = FrameInbox::wallUs();
    frames->clear();
    heldBits = 0;
    checking = true;
    if (clock)
        engine->tick(now());
    else
        feed->quiet(startUs);
    refresh();
    refreshTimer->start();
}

void CheckWizard::drainFrames()
{
    std::vector<FrameInbox::Entry> entries;
    frames->take(entries);
    if (!checking || engine->finished())
        return;
    if (const int64_t lost = frames->lost(); lost > 0) {
        // Datagrams the window could not take are no losses of the wand.
        feed->stop(FrameInbox::wallUs(), "the window fell behind the stream and left out " +
                                             std::to_string(lost) + " datagrams");
    }
    for (const FrameInbox::Entry& entry : entries) {
        if (entry.arrivalUs < startUs)
            continue;
        if (entry.quiet)
            feed->quiet(entry.arrivalUs);
        else if (entry.decoded)
            feed->decoded(entry.frame, entry.arrivalUs, {entry.sourceAddress, entry.sourcePort},
                          entry.port);
        else
            feed->datagram(entry.bytes.data(), entry.bytes.size(), entry.arrivalUs,
                           {entry.sourceAddress, entry.sourcePort}, entry.port);
    }
    heldBits = heldButtons(feed->latestRecord());
    if (engine->finished())
        refresh();
}

void CheckWizard::feedFrame(uint32_t frameCounter, double time, const SkywandRecord* record)
{
    if (!checking)
        return;
    engine->frame(frameCounter, time, record);
    heldBits = heldButtons(record);
    if (engine->finished())
        refresh();
}

void CheckWizard::refresh()
{
    // The time is taken before the waiting frames, so that none of them
    // arrived after it.
    const double time = now();
    drainFrames();
    if (checking && !engine->finished()) {
        if (clock)
            engine->tick(time);
        else
            feed->quiet(FrameInbox::wallUs() - kReceiverLagUs);
    }
    const SkywandCheck& c = *engine;
    stepTitle->setText(stepTitleText(c.step()));
    promptLabel->setText(QString::fromStdString(c.prompt()));
    countdownLabel->setText(countdownText(c));

    const CheckResult& result = c.result();
    const int target = c.buttonToPress();
    for (int i = 0; i < buttonLabels.size(); ++i) {
        QLabel* label = buttonLabels.at(i);
        label->setVisible(i < result.numButton);
        if (i >= result.numButton)
            continue;
        QString style = kStyleWaiting;
        if (i < int(result.buttons.size()) && result.buttons[size_t(i)].verdict == Verdict::Pass)
            style = kStylePassed;
        if (i < int(result.buttons.size()) && result.buttons[size_t(i)].verdict == Verdict::Fail)
            style = kStyleFailed;
        if (heldBits & (1u << i))
            style = kStyleHeld;
        if (target == i + 1)
            style = kStyleTarget;
        if (label->styleSheet() != style)
            label->setStyleSheet(style);
    }
    const bool circle = c.step() == CheckStep::Circle;
    circleView->setVisible(circle);
    if (circleView->isVisible())
        circleView->setTrace(&c.circleTrace(), c.circleCoverage());
    dataLabel->setText(
        c.step() == CheckStep::Waiting
            ? QStringLiteral("Waiting for frames of Skywand F%1 on UDP port %2.")
                  .arg(index + 1)
                  .arg(port)
            : QStringLiteral("Skywand F%1 on UDP port %2.").arg(index + 1).arg(port));

    if (checking && c.finished()) {
        checking = false;
        refreshTimer->stop();
        if (QWizardPage* steps = page(StepsPage))
            emit steps->completeChanged();
        if (currentId() == StepsPage)
            next();
    }
}

void CheckWizard::showResult()
{
    const CheckResult& result = engine->result();
    const QString verdict = QString::fromLatin1(verdictName(result.verdict)).toUpper();
    const char* colour = result.verdict == Verdict::Pass   ? "#1a7f1a"
                         : result.verdict == Verdict::Fail ? "#c01010"
                                                           : "#b06000";
    verdictLabel->setText(verdict);
    verdictLabel->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(colour)));
    QString failures;
    if (result.failures.empty()) {
        failures = QStringLiteral("Every button, the joystick and the tracking met their limits.");
    } else {
        failures = QStringLiteral("<ul>");
        for (const CheckFailure& f : result.failures)
            failures += QStringLiteral("<li>%1</li>")
                            .arg(QString::fromStdString(failureText(f, result)).toHtmlEscaped());
        failures += QStringLiteral("</ul>");
    }
    failuresLabel->setText(failures);
    showComparison();
    showWear();
    saveButton->setEnabled(true);
    openFolderButton->setEnabled(false);
    savedLabel->clear();
    unsavedResult = true;
}

void CheckWizard::showComparison()
{
    if (!comparisonLabel || currentId() != ResultPage)
        return;
    const QString exclude = saved.isEmpty() ? QString() : saved.first();
    CheckFigures previous;
    if (store) {
        if (!previousFromStore(previous)) {
            comparisonLabel->setText(
                QStringLiteral("No earlier check of this wand in the check records."));
            return;
        }
    } else if (!findPreviousCheck(reportFolder(), wandIdEdit->text(), exclude, previous)) {
        comparisonLabel->setText(
            QStringLiteral("No earlier report of this wand in the folder.%1")
                .arg(storeOpenError.isEmpty()
                         ? QString()
                         : QStringLiteral(" The check records did not open: %1")
                               .arg(storeOpenError.toHtmlEscaped())));
        return;
    }
    const QStringList lines = compareChecks(previous, checkFigures(engine->result()));
    QString text = QStringLiteral("<b>Compared with the check of %1:</b><br>")
                       .arg(previous.finished.toHtmlEscaped());
    for (const QString& line : lines)
        text += line.toHtmlEscaped() + QStringLiteral("<br>");
    comparisonLabel->setText(text);
}

QString CheckWizard::reportFolder() const
{
    return folderEdit->text().trimmed();
}

void CheckWizard::setReportFolder(const QString& folder)
{
    folderEdit->setText(folder);
    showComparison();
}

void CheckWizard::chooseFolder()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Report folder"), reportFolder());
    if (!folder.isEmpty())
        setReportFolder(folder);
}

bool CheckWizard::saveReports(QString& error)
{
    if (!engine->finished()) {
        error = QStringLiteral("the check has not finished");
        return false;
    }
    const QString folder = reportFolder();
    if (folder.isEmpty()) {
        error = QStringLiteral("no report folder");
        return false;
    }
    const CheckResult& result = engine->result();
    const CheckReportInfo info = reportInfo();

    // The PDF is printed first and filed with the others, all or none of them
    // under names no file holds yet.
    const QByteArray pdf =
        reportPdf(QString::fromStdString(reportHtml(info, engine->profile(), result)));
    if (pdf.isEmpty()) {
        error = QStringLiteral("cannot print the report as PDF");
        return false;
    }
    SavedReport files;
    std::string why;
    if (!saveReport(QDir::toNativeSeparators(folder).toStdString(), info, engine->profile(), result,
                    files, why, pdf.toStdString())) {
        error = QString::fromStdString(why);
        return false;
    }
    saved = {QString::fromStdString(files.json), QString::fromStdString(files.html),
             QString::fromStdString(files.pdf), QString::fromStdString(files.csv)};
    unsavedResult = false;
    lastFiled = wandIdEdit->text().trimmed();
    openFolderButton->setEnabled(true);
    // The files are filed; a record that cannot be stored leaves them and
    // says why.
    storeProblem.clear();
    CheckRecord record;
    std::string problem;
    if (!store) {
        storeProblem =
            storeOpenError.isEmpty() ? QStringLiteral("no check records are set") : storeOpenError;
    } else if (!currentRecord(record)) {
        storeProblem = QStringLiteral("the report is no record");
    } else if (store->put(record, problem) == CheckStore::Put::Failed) {
        storeProblem = QString::fromStdString(problem);
    } else {
        stored = true;
    }
    showWear();
    emit reportFiled();
    return true;
}

void CheckWizard::setCheckStore(const QString& url)
{
    std::string error;
    store = openCheckStore(url.toStdString(), error);
    storeName = QString::fromStdString(store ? store->name() : redactedStoreUrl(url.toStdString()));
    storeOpenError = store ? QString() : QString::fromStdString(error);
    showComparison();
}

CheckReportInfo CheckWizard::reportInfo()
{
    const CheckResult& result = engine->result();
    CheckReportInfo info;
    info.checkId = checkId;
    info.toolName = "skywandtester";
    info.toolVersion = SKYWAND_VERSION;
    info.wandId = wandIdEdit->text().toStdString();
    info.operatorName = operatorEdit->text().toStdString();
    info.skywandIndex = checkedIndex;
    info.evidence = feed->evidence();
    // The port the judged frames came on, which the window's port may no
    // longer be.
    info.port = info.evidence.port ? int(*info.evidence.port) : port;
    int64_t originUs = startUs;
    feed->started(originUs);
    if (clock)
        originUs = startUs;
    info.startedUs = atUs(originUs, result.startTime);
    info.finishedUs = atUs(originUs, result.finishTime);
    return info;
}

bool CheckWizard::currentRecord(CheckRecord& record)
{
    std::string error;
    return recordFromReport(reportJson(reportInfo(), engine->profile(), engine->result()),
                            QSysInfo::machineHostName().toStdString(), record, error);
}

bool CheckWizard::previousFromStore(CheckFigures& previous)
{
    CheckQuery query;
    query.wandId = wandIdEdit->text().toStdString();
    query.limit = 2; // this check itself, once saved, and the one before
    std::vector<CheckRecord> records;
    std::string error;
    if (!store->find(query, records, error))
        return false;
    for (const CheckRecord& r : records) {
        if (r.checkId == checkId)
            continue;
        previous.path.clear();
        previous.finished = QString::fromStdString(isoUtc(r.finishedUs));
        previous.verdict = QString::fromStdString(r.verdict);
        previous.offset = r.offset;
        previous.noise = std::isnan(r.noiseX)   ? r.noiseY
                         : std::isnan(r.noiseY) ? r.noiseX
                                                : std::max(r.noiseX, r.noiseY);
        previous.coverage = r.coverage;
        previous.circularityError = r.circularityError;
        previous.reach = r.reachMin;
        previous.positionSigmaMm = r.positionSigmaMm;
        previous.rotationJitterDeg = r.rotationJitterDeg;
        previous.trackedShare = r.trackedShare;
        return true;
    }
    return false;
}

// The trend over the wand's stored checks and this one, saved or not.
void CheckWizard::showWear()
{
    wear.clear();
    if (wearLabel)
        wearLabel->hide();
    if (!store || !wearLabel || !engine->finished())
        return;
    CheckQuery query;
    query.wandId = wandIdEdit->text().toStdString();
    query.limit = kWearFitChecks;
    std::vector<CheckRecord> records;
    std::string error;
    if (!store->find(query, records, error))
        return;
    CheckRecord current;
    if (!stored && currentRecord(current))
        records.insert(records.begin(), current);
    if (records.size() < kWearFitMinChecks)
        return;
    QString text = QStringLiteral("<b>Wear:</b>");
    for (const WearWarning& warning :
         ::wearWarnings(records, engine->profile(), FrameInbox::wallUs())) {
        wear.append(QString::fromStdString(warning.text));
        text += QStringLiteral("<br>") + wear.last().toHtmlEscaped();
    }
    if (wear.isEmpty())
        return;
    wearLabel->setText(text);
    wearLabel->show();
}

void CheckWizard::onSave()
{
    QString error;
    bool ok = false;
    try {
        ok = saveReports(error);
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
    }
    if (!ok) {
        savedLabel->setText(QStringLiteral("Could not save the report: %1").arg(error));
        return;
    }
    // A second save would file the same check twice.
    saveButton->setEnabled(false);
    QString text = QStringLiteral("Saved:");
    for (const QString& path : saved)
        text += QStringLiteral("\n") + QDir::toNativeSeparators(path);
    const QString records = storeName.isEmpty()
                                ? QStringLiteral("the check records")
                                : QStringLiteral("the check records %1").arg(storeName);
    text += storeProblem.isEmpty()
                ? QStringLiteral("\nStored in %1.").arg(records)
                : QStringLiteral("\nNot stored in %1: %2").arg(records, storeProblem);
    savedLabel->setText(text);
}

// An unsaved result is saved first, as Save would; one that cannot be saved
// keeps the wizard on the result page with the reason shown.
void CheckWizard::onNextWand()
{
    if (saveButton->isEnabled()) {
        onSave();
        if (saveButton->isEnabled())
            return;
    }
    saved.clear();
    unsavedResult = false;
    wandIdEdit->setText(nextWandId(lastFiled));
    wandIdEdit->selectAll();
    restart();
    wandIdEdit->setFocus();
    emit nextWandRequested();
}

void CheckWizard::setSkywand(int skywandIndex, const QString& proposedWandId)
{
    if (checking || skywandIndex < 0 || skywandIndex >= FrameLimits::kMaxSkywands)
        return;
    index = skywandIndex;
    frames->setSkywandIndex(index);
    showSkywand();
    wandIdEdit->setText(proposedWandId.left(kMaxTypedLength));
}

void CheckWizard::showSkywand()
{
    setWindowTitle(QStringLiteral("Check Skywand F%1").arg(index + 1));
    page(IdentityPage)->setTitle(QStringLiteral("Check Skywand F%1").arg(index + 1));
    sourceLabel->setText(
        QStringLiteral("The check reads Skywand F%1 (the one chosen in the main window) on UDP "
                       "port %2.")
            .arg(index + 1)
            .arg(port));
}

QString CheckWizard::operatorName() const
{
    return operatorEdit->text();
}

void CheckWizard::setRemembered(const QString& folder, const QString& name,
                                const QString& lastWandId)
{
    if (!folder.trimmed().isEmpty())
        setReportFolder(folder);
    if (operatorEdit->text().isEmpty())
        operatorEdit->setText(name.left(kMaxTypedLength));
    lastFiled = lastWandId.trimmed().left(kMaxTypedLength);
    if (wandIdEdit->text().isEmpty() && !checking) {
        wandIdEdit->setText(nextWandId(lastFiled));
        // Typing replaces the proposal.
        wandIdEdit->selectAll();
    }
}

QString CheckWizard::nextWandId(const QString& wandId)
{
    qsizetype start = wandId.size();
    while (start > 0 && wandId.at(start - 1) >= QLatin1Char('0') &&
           wandId.at(start - 1) <= QLatin1Char('9'))
        --start;
    if (start == wandId.size())
        return wandId;
    QString digits = wandId.mid(start);
    qsizetype at = digits.size() - 1;
    for (; at >= 0 && digits.at(at) == QLatin1Char('9'); --at)
        digits[at] = QLatin1Char('0');
    if (at < 0)
        digits.prepend(QLatin1Char('1'));
    else
        digits[at] = QChar(digits.at(at).unicode() + 1);
    return (wandId.left(start) + digits).left(kMaxTypedLength);
}

void CheckWizard::stopCheck()
{
    if (!checking)
        return;
    if (clock)
        engine->stop(now(), "the check was cancelled");
    else
        feed->stop(FrameInbox::wallUs(), "the check was cancelled");
    // Moves on to the result page, which shows the check as incomplete.
    refresh();
}

bool CheckWizard::askToStop()
{
    QMessageBox box(QMessageBox::Question, windowTitle(),
                    QStringLiteral("The check of %1 is still running. Stop it, or go back?")
                        .arg(wandIdEdit->text().trimmed()),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("stopCheck"));
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(
        QStringLiteral("A stopped check ends as incomplete; its result can still be saved."));
    QPushButton* stop = box.addButton(QStringLiteral("&Stop check"), QMessageBox::DestructiveRole);
    QPushButton* back = box.addButton(QStringLiteral("&Go back"), QMessageBox::RejectRole);
    box.setDefaultButton(back);
    box.setEscapeButton(back);
    box.exec();
    return box.clickedButton() == stop;
}

bool CheckWizard::mayDiscardCheck()
{
    if (!holdsUnsavedCheck())
        return true;
    const bool running = checking;
    QMessageBox box(QMessageBox::Question, windowTitle(),
                    QStringLiteral("The check of %1 is %2. Save, discard, or go back?")
                        .arg(wandIdEdit->text().trimmed(),
                             running ? QStringLiteral("still running and not saved")
                                     : QStringLiteral("not saved")),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("unsavedCheck"));
    box.setTextFormat(Qt::PlainText);
    if (running)
        box.setInformativeText(QStringLiteral("Save stops it and files it as incomplete."));
    QPushButton* save = box.addButton(QMessageBox::Save);
    QPushButton* discard = box.addButton(QMessageBox::Discard);
    QPushButton* back = box.addButton(QStringLiteral("&Go back"), QMessageBox::RejectRole);
    // Enter and Esc both keep the check.
    box.setDefaultButton(back);
    box.setEscapeButton(back);
    show();
    raise();
    box.exec();
    // The check may have finished while the question was up.
    if (box.clickedButton() == save) {
        stopCheck();
        if (currentId() != ResultPage)
            return false;
        onSave();
        return !unsavedResult;
    }
    if (box.clickedButton() != discard)
        return false;
    stopCheck();
    unsavedResult = false;
    return true;
}

bool CheckWizard::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == folderEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            showComparison();
            if (saveButton->isEnabled())
                saveButton->setFocus();
            return true;
        }
    }
    return QWizard::eventFilter(watched, event);
}

// Finish, Cancel, Esc and the window's close button all end here. A running
// check asks before it stops and then shows its incomplete result; a result
// not saved asks before it goes.
void CheckWizard::done(int result)
{
    if (checking) {
        if (askToStop())
            stopCheck();
        return;
    }
    if (!mayDiscardCheck())
        return;
    refreshTimer->stop();
    QWizard::done(result);
}
