#include "streammonitorwindow.h"

#include "diagnoseworker.h"
#include "diagnosis.h"
#include "framedecoder.h"

#include <QComboBox>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

// Rows of the health table, in order.
enum Row
{
    RowSender,
    RowDatagrams,
    RowFrames,
    RowCounter,
    RowAge,
    RowState,
    RowGaps,
    RowMissed,
    RowRepeated,
    RowTimeouts,
    RowNetErrors,
    RowParseErrors,
    RowForeign,
    RowSecondSender,
    RowQuality,
    RowCount
};

const char* const kRowNames[RowCount] = {
    "Sender",
    "Datagrams/s",
    "Frames/s",
    "Frame counter",
    "Data age",
    "State",
    "Gaps (1 s / all)",
    "Missed frames (1 s / all)",
    "Repeated / back",
    "Timeouts",
    "Network errors",
    "Parse errors",
    "Foreign datagrams",
    "Second sender",
    "Quality",
};

// A pressed button sits this far above its lane's line.
constexpr double kPressedHeight = 0.7;
// The longest value a row holds as a rule, which its column keeps whole.
const char* const kWidestValue = "F64: 0.99 (not in the last frame)";
// Chart sizes in lines and characters of text: room for the title, the
// legend, the time axis's numbers and three values or a few lanes between.
constexpr int kTallChartLines = 9;
constexpr int kChartLines = 7;
constexpr int kChartChars = 42;

QString countsText(uint64_t lastSecond, uint64_t total)
{
    return QStringLiteral("%1 / %2").arg(lastSecond).arg(total);
}

QString stateText(const HealthFigures& f)
{
    switch (f.staleness) {
    case Staleness::Fresh:
        return QStringLiteral("fresh");
    case Staleness::NoFrame:
        return f.haveFrame ? QStringLiteral("stale: no frame") : QStringLiteral("no frame yet");
    case Staleness::CounterFrozen:
        return QStringLiteral("stale: counter stands still");
    }
    return QString();
}

void replacePoints(QLineSeries* series, const std::vector<StripPoint>& points, double now)
{
    QList<QPointF> list;
    list.reserve(static_cast<qsizetype>(points.size()));
    for (const StripPoint& p : points)
        list.append(QPointF(p.t - now, p.value));
    series->replace(list);
}

} // namespace

StreamMonitorWindow::StreamMonitorWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), x(kSpan, kSlots), y(kSpan, kSlots), quality(kSpan, kSlots),
      age(kSpan, kSlots)
{
    clock.start();
    health = StreamHealth(now());
    buttons.assign(kButtonLanes, StripBuffer(kSpan, kSlots));
    setWindowTitle(QStringLiteral("Stream monitor"));
    setupUi();
    worker = new DiagnoseWorker(this);
    connect(worker, &QThread::finished, this, [this] { finishDiagnosis(); });
    diagnoseTimer = new QTimer(this);
    diagnoseTimer->setSingleShot(true);
    diagnoseTimer->setInterval(kDiagnoseWaitMs);
    connect(diagnoseTimer, &QTimer::timeout, this, [this] { finishDiagnosis(); });
    redrawTimer = new QTimer(this);
    redrawTimer->setInterval(kRedrawMs);
    connect(redrawTimer, &QTimer::timeout, this, [this] { refresh(); });
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
    }
    resize(initialSize());
}

QSize StreamMonitorWindow::initialSize() const
{
    // Room for the charts to show their 30 s in some detail, in the units of
    // the font, on no more of the screen than is free.
    const QFontMetrics metrics(font());
    QSize size(metrics.averageCharWidth() * 150, metrics.height() * 55);
    size = size.expandedTo(minimumSizeHint());
    const QWidget* parent = parentWidget();
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QSize free = screen->availableGeometry().size() * 9 / 10;
        size = size.boundedTo(free).expandedTo(minimumSizeHint());
    }
    return size;
}

StreamMonitorWindow::~StreamMonitorWindow()
{
    // A capture still running ends within its time; its result goes nowhere.
    worker->disconnect(this);
    worker->wait();
}

void StreamMonitorWindow::showEvent(QShowEvent* event)
{
    redrawTimer->start();
    updateWatching(true);
    QWidget::showEvent(event);
}

void StreamMonitorWindow::hideEvent(QHideEvent* event)
{
    // A closed monitor costs the window nothing, unless a diagnosis runs.
    redrawTimer->stop();
    updateWatching(false);
    QWidget::hideEvent(event);
}

void StreamMonitorWindow::updateWatching(bool shown)
{
    const bool wanted = shown || diagnosing;
    if (wanted == watching)
        return;
    watching = wanted;
    if (wanted) {
        // The frames that passed while nobody watched are no gaps of the
        // stream: the totals start anew.
        std::lock_guard<std::mutex> lock(healthMutex);
        health = StreamHealth(now());
    }
    emit framesWanted(wanted);
}

HealthFigures StreamMonitorWindow::figuresAt(double t) const
{
    std::lock_guard<std::mutex> lock(healthMutex);
    return health.figures(t);
}

double StreamMonitorWindow::now() const
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

void StreamMonitorWindow::setupUi()
{
    QLayout* top = setupTopRow();
    setupTable();
    QWidget* charts = setupCharts();
    QWidget* diagnosisBox = setupDiagnosis();

    // The table beside the charts, both growing with the window. All the
    // table's rows stay in sight; on a short screen the charts scroll, each
    // still whole.
    auto* chartScroll = new QScrollArea;
    chartScroll->setObjectName(QStringLiteral("chartScroll"));
    chartScroll->setFrameShape(QFrame::NoFrame);
    chartScroll->setWidgetResizable(true);
    chartScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    chartScroll->setWidget(charts);
    chartScroll->setMinimumWidth(charts->minimumWidth() +
                                 style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    auto* across = new QSplitter(Qt::Horizontal);
    across->addWidget(table);
    across->addWidget(chartScroll);
    across->setStretchFactor(0, 0);
    across->setStretchFactor(1, 1);
    across->setChildrenCollapsible(false);
    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(across);
    splitter->addWidget(diagnosisBox);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setChildrenCollapsible(false);

    auto* closeButton = new QPushButton(QStringLiteral("Close"));
    closeButton->setObjectName(QStringLiteral("monitorCloseButton"));
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);
    layout->addLayout(bottom);
}

QLayout* StreamMonitorWindow::setupTopRow()
{
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Skywand:")));
    skywandBox = new QComboBox;
    skywandBox->setObjectName(QStringLiteral("monitorSkywand"));
    connect(skywandBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { selectSkywand(index); });
    top->addWidget(skywandBox);
    pauseButton = new QPushButton(QStringLiteral("Pause"));
    pauseButton->setObjectName(QStringLiteral("pauseButton"));
    pauseButton->setCheckable(true);
    top->addWidget(pauseButton);
    diagnoseButton = new QPushButton(QStringLiteral("Diagnose"));
    diagnoseButton->setObjectName(QStringLiteral("monitorDiagnoseButton"));
    connect(diagnoseButton, &QPushButton::clicked, this, &StreamMonitorWindow::diagnose);
    top->addWidget(diagnoseButton);
    top->addStretch(1);
    return top;
}

void StreamMonitorWindow::setupTable()
{
    table = new QTableWidget(RowCount, 1);
    table->setObjectName(QStringLiteral("healthTable"));
    // Its header names the port the figures are of.
    table->setHorizontalHeaderItem(0, new QTableWidgetItem);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    // Tab leaves the table instead of walking its cells.
    table->setTabKeyNavigation(false);
    QStringList names;
    for (const char* name : kRowNames)
        names << QString::fromLatin1(name);
    table->setVerticalHeaderLabels(names);
    for (int row = 0; row < RowCount; ++row)
        table->setItem(row, 0, new QTableWidgetItem);
    showPortInTable();
    // Every row and a usual value whole, however small the window.
    table->resizeRowsToContents();
    const int frame = 2 * table->frameWidth();
    table->setMinimumSize(
        table->verticalHeader()->sizeHint().width() +
            table->fontMetrics().horizontalAdvance(QLatin1String(kWidestValue)) + frame,
        table->horizontalHeader()->sizeHint().height() + table->verticalHeader()->length() + frame);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void StreamMonitorWindow::showPortInTable()
{
    QString text;
    if (!noPortSentence.isEmpty())
        text = QStringLiteral("No usable port");
    else if (port <= 0)
        text = QStringLiteral("Port");
    else if (portOpened)
        text = QStringLiteral("Port %1").arg(port);
    else
        text = QStringLiteral("Port %1 (not open)").arg(port);
    table->horizontalHeaderItem(0)->setText(text);
}

QWidget* StreamMonitorWindow::setupCharts()
{
    auto* charts = new QWidget;
    charts->setMinimumWidth(fontMetrics().averageCharWidth() * kChartChars);
    auto* chartLayout = new QVBoxLayout(charts);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->addWidget(addChart(Position, QStringLiteral("Joystick X and Y"), -1.05, 1.05), 2);
    chartLayout->addWidget(addChart(Buttons, QStringLiteral("Buttons"), -0.2, kButtonLanes), 2);
    chartLayout->addWidget(addChart(Quality, QStringLiteral("Quality"), -1.05, 1.05), 1);
    chartLayout->addWidget(addChart(Age, QStringLiteral("Data age (s)"), 0.0, 1.0), 1);

    xSeries = new QLineSeries;
    xSeries->setName(QStringLiteral("X"));
    ySeries = new QLineSeries;
    ySeries->setName(QStringLiteral("Y"));
    for (int lane = 0; lane < kButtonLanes; ++lane) {
        buttonSeries[lane] = new QLineSeries;
        buttonSeries[lane]->setName(QString::number(lane + 1));
    }
    qualitySeries = new QLineSeries;
    ageSeries = new QLineSeries;
    auto attach = [this](Chart which, QLineSeries* series) {
        QChart* chart = views[which]->chart();
        chart->addSeries(series);
        for (QAbstractAxis* axis : chart->axes())
            series->attachAxis(axis);
    };
    attach(Position, xSeries);
    attach(Position, ySeries);
    for (QLineSeries* series : buttonSeries)
        attach(Buttons, series);
    attach(Quality, qualitySeries);
    attach(Age, ageSeries);
    views[Quality]->chart()->legend()->hide();
    views[Age]->chart()->legend()->hide();
    // Sixteen lanes hold more names than a legend beside a short chart can
    // show, and the theme's few colours repeat among them: the lanes are
    // numbered on the axis instead, at their lines.
    views[Buttons]->chart()->legend()->hide();
    setLaneCount(0);
    return charts;
}

QWidget* StreamMonitorWindow::setupDiagnosis()
{
    sentence = new QLabel;
    sentence->setObjectName(QStringLiteral("diagnosisSentence"));
    sentence->setWordWrap(true);
    // The sentence may quote a port text typed by the user.
    sentence->setTextFormat(Qt::PlainText);
    sentence->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = sentence->font();
    bold.setBold(true);
    sentence->setFont(bold);
    evidenceText = new QPlainTextEdit;
    evidenceText->setObjectName(QStringLiteral("diagnosisEvidence"));
    evidenceText->setReadOnly(true);
    evidenceText->hide();
    switchButton = new QPushButton;
    switchButton->setObjectName(QStringLiteral("switchPortButton"));
    switchButton->hide();
    connect(switchButton, &QPushButton::clicked, this, [this] {
        if (suggestedPort > 0)
            emit switchPortRequested(suggestedPort);
        switchButton->hide();
    });

    auto* diagnosisBox = new QWidget;
    auto* diagnosisLayout = new QVBoxLayout(diagnosisBox);
    diagnosisLayout->setContentsMargins(0, 0, 0, 0);
    diagnosisLayout->addWidget(sentence);
    diagnosisLayout->addWidget(evidenceText, 1);
    diagnosisLayout->addWidget(switchButton, 0, Qt::AlignLeft);
    return diagnosisBox;
}

QChartView* StreamMonitorWindow::addChart(Chart which, const QString& title, double low,
                                          double high)
{
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    auto* time = new QValueAxis;
    time->setRange(-kSpan, 0.0);
    time->setLabelFormat(QStringLiteral("%.0f"));
    time->setTickCount(7);
    auto* value = new QValueAxis;
    value->setRange(low, high);
    value->setLabelFormat(QStringLiteral("%.1f"));
    value->setTickCount(3);
    if (which == Buttons) {
        // Ticks at the lanes' lines, numbered as the buttons are.
        laneAxis = value;
        laneAxis->setLabelFormat(QStringLiteral("%.0f"));
        laneAxis->setTickType(QValueAxis::TicksDynamic);
        laneAxis->setTickAnchor(1.0);
    }
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(value, Qt::AlignLeft);
    timeAxes[which] = time;
    auto* view = new QChartView(chart);
    view->setObjectName(QStringLiteral("chart%1").arg(static_cast<int>(which)));
    view->setRenderHint(QPainter::Antialiasing, false);
    view->setMinimumHeight(fontMetrics().height() *
                           (which == Position || which == Buttons ? kTallChartLines : kChartLines));
    views[which] = view;
    return view;
}

void StreamMonitorWindow::setPort(int value, bool opened)
{
    if (value != port || !noPortSentence.isEmpty())
        clearDiagnosis();
    port = value;
    portOpened = opened;
    noPortSentence.clear();
    showPortInTable();
}

void StreamMonitorWindow::setNoPort(const QString& text)
{
    if (noPortSentence != text)
        clearDiagnosis();
    port = 0;
    portOpened = false;
    noPortSentence = text;
    showPortInTable();
}

void StreamMonitorWindow::clearDiagnosis()
{
    // One still running tells its result when it ends.
    if (diagnosing)
        return;
    sentence->clear();
    evidenceText->clear();
    evidenceText->hide();
    switchButton->hide();
    suggestedPort = 0;
    shownSituation = Situation::Unknown;
}

void StreamMonitorWindow::setChosenSkywand(int index)
{
    if (index < 0)
        return;
    chosen = index;
    selectSkywand(index);
    const QSignalBlocker block(skywandBox);
    skywandBox->setCurrentIndex(index < skywandBox->count() ? index : -1);
}

bool StreamMonitorWindow::isPaused() const
{
    return pauseButton->isChecked();
}

void StreamMonitorWindow::recordReceive(const TrackingSdk& sdk)
{
    const double t = now();
    sdk.readLastReceive(
        [&](ErrorState outcome, const FrameData& frame, const ReceivedDatagram* datagram) {
            const Endpoint from =
                datagram ? Endpoint{datagram->sourceAddress, datagram->sourcePort} : Endpoint{};
            std::lock_guard<std::mutex> lock(healthMutex);
            health.recordReceive(t, outcome, frame, from);
            if (diagnosisHealth)
                diagnosisHealth->recordReceive(t, outcome, frame, from);
        });
}

void StreamMonitorWindow::recordData(const TrackingSdk& sdk)
{
    if (isHidden())
        return;
    const double t = now();
    const int count = std::clamp(sdk.getNumSkywand(), 0, kMaxSkywands);
    if (count != skywandBox->count())
        showSkywandCount(count);
    SkywandRecord chosen;
    if (!sdk.getCurrentSkywand(selected, chosen))
        return;
    // Frames flow again: a diagnosis of why none came is over.
    if (shownSituation == Situation::PortHeld || shownSituation == Situation::OtherPort ||
        shownSituation == Situation::NothingArrives)
        clearDiagnosis();
    if (const int count = std::clamp(chosen.numButton, 0, kButtonLanes); count != lanes)
        setLaneCount(count);
    x.append(t, chosen.numJoystick > 0 ? chosen.joystickValue[0] : 0.0);
    y.append(t, chosen.numJoystick > 1 ? chosen.joystickValue[1] : 0.0);
    for (int lane = 0; lane < lanes; ++lane) {
        const bool pressed = lane < chosen.numButton && chosen.button[lane] == 1;
        buttons[static_cast<size_t>(lane)].append(t, lane + 1 + (pressed ? kPressedHeight : 0.0));
    }
    quality.append(t, chosen.quality);
}

void StreamMonitorWindow::recordError(const TrackingSdk& sdk)
{
    if ((isHidden() && !diagnosing) || !sdk.isDataParseError())
        return;
    sdk.getLastParseFailure(lastParseFailure);
}

void StreamMonitorWindow::showSkywandCount(int count)
{
    const QSignalBlocker block(skywandBox);
    skywandBox->clear();
    for (int i = 0; i < count; ++i)
        skywandBox->addItem(QStringLiteral("F%1").arg(i + 1));
    skywandBox->setCurrentIndex(selected < count ? selected : -1);
}

void StreamMonitorWindow::selectSkywand(int index)
{
    if (index < 0 || index == selected)
        return;
    selected = index;
    x.clear();
    y.clear();
    for (StripBuffer& lane : buttons)
        lane.clear();
    quality.clear();
}

int StreamMonitorWindow::laneLabelStep(int count, double plotHeight, double labelHeight)
{
    // The axis spans the lanes, the margin below the first and the pressed
    // height above the last.
    const double perLane = plotHeight / (count + 0.1);
    if (count <= 1 || !(perLane > 0.0) || !(labelHeight > 0.0))
        return 1;
    return std::clamp(static_cast<int>(std::ceil(labelHeight / perLane)), 1, count);
}

void StreamMonitorWindow::setLaneCount(int count)
{
    lanes = count;
    for (int lane = 0; lane < kButtonLanes; ++lane) {
        const bool shown = lane < lanes;
        buttonSeries[lane]->setVisible(shown);
        if (!shown) {
            buttons[static_cast<size_t>(lane)].clear();
            buttonSeries[lane]->clear();
        }
    }
    laneAxis->setRange(0.8, std::max(lanes, 1) + 0.9);
    labelStep = 0;
    numberLanes();
}

void StreamMonitorWindow::numberLanes()
{
    const double labelHeight = QFontMetricsF(laneAxis->labelsFont()).height();
    const int step =
        laneLabelStep(lanes, views[Buttons]->chart()->plotArea().height(), labelHeight);
    if (step == labelStep)
        return;
    labelStep = step;
    laneAxis->setTickInterval(step);
}

void StreamMonitorWindow::refresh()
{
    const double t = now();
    const HealthFigures figures = figuresAt(t);
    if (figures.dataAge >= 0.0)
        age.append(t, figures.dataAge);
    if (redraws++ % kTableEvery == 0)
        updateTable(figures);
    if (!isPaused())
        updateCharts(t);
}

void StreamMonitorWindow::updateCharts(double t)
{
    // One point pair per pixel column is all a chart can show.
    const double from = t - kSpan;
    auto draw = [&](Chart which, StripBuffer& buffer, QLineSeries* series) {
        const int columns =
            std::max(1, static_cast<int>(views[which]->chart()->plotArea().width()));
        buffer.decimate(from, t, columns, scratch);
        replacePoints(series, scratch, t);
    };
    draw(Position, x, xSeries);
    draw(Position, y, ySeries);
    for (int lane = 0; lane < lanes; ++lane)
        draw(Buttons, buttons[static_cast<size_t>(lane)], buttonSeries[lane]);
    numberLanes();
    draw(Quality, quality, qualitySeries);
    draw(Age, age, ageSeries);
    double highest = 1.0;
    for (const QPointF& p : ageSeries->points())
        highest = std::max(highest, p.y());
    // A new range lays the chart out anew; most redraws keep the old one.
    auto* axis = qobject_cast<QValueAxis*>(views[Age]->chart()->axes(Qt::Vertical).value(0));
    if (axis && axis->max() != std::ceil(highest))
        axis->setRange(0.0, std::ceil(highest));
}

void StreamMonitorWindow::updateTable(const HealthFigures& f)
{
    auto set = [this](Row row, const QString& text) {
        QTableWidgetItem* item = table->item(row, 0);
        if (item->text() != text)
            item->setText(text);
    };
    set(RowSender, QString::fromStdString(endpointText(f.sender)));
    set(RowDatagrams, QString::number(f.datagramsPerSecond, 'f', 0));
    set(RowFrames, QString::number(f.framesPerSecond, 'f', 0));
    set(RowCounter, f.haveFrame ? QString::number(f.frameCounter) : QStringLiteral("-"));
    set(RowAge, f.dataAge < 0 ? QStringLiteral("-")
                              : QStringLiteral("%1 ms").arg(f.dataAge * 1000.0, 0, 'f', 0));
    set(RowState, stateText(f));
    set(RowGaps, countsText(f.lastSecond.gaps, f.total.gaps));
    set(RowMissed, countsText(f.lastSecond.missedFrames, f.total.missedFrames));
    set(RowRepeated, QStringLiteral("%1 / %2").arg(f.total.repeated).arg(f.total.backward));
    set(RowTimeouts, countsText(f.lastSecond.timeouts, f.total.timeouts));
    set(RowNetErrors, countsText(f.lastSecond.netErrors, f.total.netErrors));
    set(RowParseErrors, countsText(f.lastSecond.parseErrors, f.total.parseErrors));
    set(RowForeign, countsText(f.lastSecond.foreign, f.total.foreign));
    set(RowSecondSender, f.twoSenders() ? QString::fromStdString(endpointText(f.otherSender))
                                        : QStringLiteral("none"));
    QString q = QStringLiteral("-");
    if (selected < static_cast<int>(f.skywands.size())) {
        const SkywandHealth& s = f.skywands[static_cast<size_t>(selected)];
        q = QStringLiteral("F%1: %2%3")
                .arg(selected + 1)
                .arg(static_cast<double>(s.quality), 0, 'f', 2)
                .arg(s.inLastFrame ? QString() : QStringLiteral(" (not in the last frame)"));
    }
    set(RowQuality, q);
}

void StreamMonitorWindow::diagnose()
{
    if (worker->isRunning() || diagnoseTimer->isActive())
        return;
    switchButton->hide();
    evidenceText->hide();
    if (!noPortSentence.isEmpty()) {
        sentence->setText(noPortSentence);
        return;
    }
    diagnoseButton->setEnabled(false);
    sentence->setText(QStringLiteral("Watching the stream and the network for a few seconds..."));
    {
        std::lock_guard<std::mutex> lock(healthMutex);
        diagnosisHealth = std::make_unique<StreamHealth>(now());
    }
    diagnosing = true;
    updateWatching(isVisible());
    worker->setPort(static_cast<uint16_t>(std::clamp(port, 0, 65535)), portOpened);
    worker->start();
    diagnoseTimer->start();
}

void StreamMonitorWindow::finishDiagnosis()
{
    // Both the capture and the watch of the stream must be over.
    if (worker->isRunning() || diagnoseTimer->isActive() || !diagnosing)
        return;
    DiagnosisEvidence evidence = worker->gathered();
    {
        std::lock_guard<std::mutex> lock(healthMutex);
        evidence.health = diagnosisHealth->figures(now());
        diagnosisHealth.reset();
    }
    diagnosing = false;
    updateWatching(isVisible());
    evidence.selectedSkywand = chosen;
    evidence.lastParseFailure = lastParseFailure;
    const Diagnosis result = ::diagnose(evidence);
    shownSituation = result.situation;

    sentence->setText(QString::fromStdString(result.sentence));
    QStringList lines;
    for (const std::string& line : result.evidence)
        lines << QString::fromStdString(line);
    evidenceText->setPlainText(lines.join(QLatin1Char('\n')));
    evidenceText->setVisible(!lines.isEmpty());
    suggestedPort = result.situation == Situation::OtherPort ? result.suggestedPort : 0;
    switchButton->setText(QStringLiteral("Listen on port %1").arg(suggestedPort));
    switchButton->setVisible(suggestedPort > 0);
    diagnoseButton->setEnabled(true);
}
