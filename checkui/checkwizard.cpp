#include "checkwizard.h"

#include "checkfeed.h"
#include "checkhistory.h"
#include "checkstore.h"
#include "circletraceview.h"
#include "frameinbox.h"
#include "framerecords.h"
#include "trackingsdk.h"
#include "wearfit.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QTimer>
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

QString stepName(const std::string& step)
{
    const QString name = QString::fromStdString(step);
    return name.isEmpty() ? name : name.left(1).toUpper() + name.mid(1);
}

// What a failed figure means for the wand, in the words of the bench; null
// for a figure that is only reported.
const char* plainWords(CheckItem item)
{
    switch (item) {
    case CheckItem::Offset:
        return "Joystick does not return to its centre";
    case CheckItem::NoiseX:
        return "Joystick jitters at rest (left-right)";
    case CheckItem::NoiseY:
        return "Joystick jitters at rest (up-down)";
    case CheckItem::Coverage:
        return "Joystick did not reach around its whole edge";
    case CheckItem::CircularityError:
        return "Joystick's edge is not round";
    case CheckItem::ReachPlusX:
        return "Joystick falls short to the right";
    case CheckItem::ReachMinusX:
        return "Joystick falls short to the left";
    case CheckItem::ReachPlusY:
        return "Joystick falls short upwards";
    case CheckItem::ReachMinusY:
        return "Joystick falls short downwards";
    case CheckItem::TrackedShare:
        return "Wand lost by the tracking while held still";
    case CheckItem::DroppedFrames:
        return "Frames lost while the wand was held still";
    case CheckItem::PositionSigmaMm:
        return "Position shakes while held still";
    case CheckItem::RotationJitterDeg:
        return "Rotation shakes while held still";
    default:
        return nullptr;
    }
}

QString plainFailure(const CheckFailure& failure)
{
    if (failure.figure) {
        if (const char* plain = plainWords(*failure.figure))
            return QString::fromLatin1(plain);
    }
    const QString item = QString::fromStdString(failure.item);
    const QString step = stepName(failure.step);
    return item.isEmpty() ? step : step + QStringLiteral(", ") + item;
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
    resize(640, 600);
}

CheckWizard::~CheckWizard() = default;

QWizardPage* CheckWizard::createIdentityPage()
{
    auto* page = new ConditionPage;
    page->setSubTitle(QStringLiteral("The check guides the person holding the wand through the "
                                     "buttons, the joystick at rest, a full circle and holding "
                                     "still, and files a report."));
    wandIdEdit = new QLineEdit;
    wandIdEdit->setObjectName(QStringLiteral("wandId"));
    wandIdEdit->setMaxLength(kMaxTypedLength);
    wandIdEdit->setPlaceholderText(QStringLiteral("serial number or asset tag"));
    operatorEdit = new QLineEdit;
    operatorEdit->setObjectName(QStringLiteral("operator"));
    operatorEdit->setMaxLength(kMaxTypedLength);
    auto* layout = new QFormLayout(page);
    layout->addRow(QStringLiteral("&Wand id:"), wandIdEdit);
    layout->addRow(QStringLiteral("&Operator:"), operatorEdit);
    sourceLabel = new QLabel;
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
    auto* change = new QPushButton(QStringLiteral("C&hange..."));
    connect(change, &QPushButton::clicked, this, [this] { chooseFolder(); });
    connect(folderEdit, &QLineEdit::editingFinished, this, [this] { showComparison(); });
    saveButton = new QPushButton(QStringLiteral("&Save report"));
    saveButton->setObjectName(QStringLiteral("saveReport"));
    connect(saveButton, &QPushButton::clicked, this, [this] { onSave(); });
    nextWandButton = new QPushButton(QStringLiteral("Check &next wand"));
    nextWandButton->setObjectName(QStringLiteral("checkNextWand"));
    connect(nextWandButton, &QPushButton::clicked, this, [this] { onNextWand(); });
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
    const double left = c.countdown();
    countdownLabel->setText(std::isfinite(left)
                                ? QStringLiteral("%1 s left").arg(std::ceil(std::max(0.0, left)))
                                : QString());

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
        for (const CheckFailure& f : result.failures) {
            const QString detail =
                QString::fromStdString(f.detail.empty() ? f.reason : f.detail).toHtmlEscaped();
            failures += QStringLiteral("<li><b>%1:</b> %2</li>")
                            .arg(plainFailure(f).toHtmlEscaped(), detail);
        }
        failures += QStringLiteral("</ul>");
    }
    failuresLabel->setText(failures);
    showComparison();
    showWear();
    saveButton->setEnabled(true);
    savedLabel->clear();
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
    info.port = info.evidence.port >= 0 ? info.evidence.port : port;
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
    wandIdEdit->clear();
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

void CheckWizard::done(int result)
{
    if (checking) {
        if (clock)
            engine->stop(now(), "the check was cancelled");
        else
            feed->stop(FrameInbox::wallUs(), "the check was cancelled");
        checking = false;
    }
    refreshTimer->stop();
    QWizard::done(result);
}
