#include "checkhistorywindow.h"

#include "checkprofile.h"
#include "checkrecordmodel.h"
#include "wearfit.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTableView>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

struct ChartedFigure
{
    const char* title;
    double CheckRecord::*value;
    const char* limitKey; // in the record's profile; null where none applies
};

const ChartedFigure kCharted[] = {
    {"Centre offset", &CheckRecord::offset, "maxOffset"},
    {"Noise X", &CheckRecord::noiseX, "maxNoise"},
    {"Noise Y", &CheckRecord::noiseY, "maxNoise"},
    {"Coverage", &CheckRecord::coverage, "minCoverage"},
    {"Circularity error %", &CheckRecord::circularityError, "maxCircularityError"},
    {"Least reach", &CheckRecord::reachMin, "minReach"},
    {"Tracked share", &CheckRecord::trackedShare, "minTrackedShare"},
    {"Position sigma mm", &CheckRecord::positionSigmaMm, "maxPositionSigmaMm"},
    {"Rotation jitter deg", &CheckRecord::rotationJitterDeg, "maxRotationJitterDeg"},
    // Judged as a share of the hold, which the record does not hold.
    {"Dropped frames", &CheckRecord::droppedFrames, nullptr},
};

qint64 msSinceEpoch(const QDate& date)
{
    return QDateTime(date, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
}

QChartView* figureChart(const ChartedFigure& figure, const std::vector<QPointF>& points,
                        double limit)
{
    auto* chart = new QChart;
    chart->setTitle(QString::fromLatin1(figure.title));
    chart->legend()->hide();
    chart->setMargins(QMargins(2, 2, 2, 2));
    // The line draws its own points: a scatter series would add an item to
    // the scene per check, and a wand's years of checks then paint slowly.
    auto* line = new QLineSeries;
    line->setPointsVisible(true);
    line->setMarkerSize(6.0);
    double low = HUGE_VAL;
    double high = -HUGE_VAL;
    for (const QPointF& p : points) {
        line->append(p);
        low = std::min(low, p.y());
        high = std::max(high, p.y());
    }
    chart->addSeries(line);
    // A single check, or checks of one moment, still get an axis a day wide;
    // the points stand clear of its ends, and the limit line spans it.
    qint64 first = points.empty() ? 0 : qint64(points.front().x());
    qint64 last = points.empty() ? 0 : std::max(qint64(points.back().x()), first + 86400000);
    const qint64 pad = (last - first) / 20;
    first -= pad;
    last += pad;
    QLineSeries* limitLine = nullptr;
    if (std::isfinite(limit) && !points.empty()) {
        limitLine = new QLineSeries;
        limitLine->setName(QStringLiteral("limit"));
        QPen pen(QColor(0xc0, 0x10, 0x10));
        pen.setStyle(Qt::DashLine);
        limitLine->setPen(pen);
        limitLine->append(double(first), limit);
        limitLine->append(double(last), limit);
        chart->addSeries(limitLine);
        low = std::min(low, limit);
        high = std::max(high, limit);
    }
    auto* time = new QDateTimeAxis;
    time->setFormat(QStringLiteral("MM-dd"));
    time->setTickCount(4);
    auto* values = new QValueAxis;
    if (std::isfinite(low)) {
        const double margin =
            high > low ? (high - low) * 0.1 : std::max(std::fabs(high), 1.0) * 0.1;
        values->setRange(low - margin, high + margin);
    }
    if (!points.empty()) {
        time->setRange(QDateTime::fromMSecsSinceEpoch(first, Qt::UTC),
                       QDateTime::fromMSecsSinceEpoch(last, Qt::UTC));
    }
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(values, Qt::AlignLeft);
    for (QAbstractSeries* series : chart->series()) {
        series->attachAxis(time);
        series->attachAxis(values);
    }
    auto* view = new QChartView(chart);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(260, 180);
    return view;
}

} // namespace

CheckHistoryWindow::CheckHistoryWindow(const QString& storeUrl, QWidget* parent)
    : QWidget(parent, Qt::Window), checks(new CheckRecordModel(this))
{
    setObjectName(QStringLiteral("CheckHistoryWindow"));
    setWindowTitle(QStringLiteral("Check history"));
    storeLabel = new QLabel;
    storeLabel->setTextFormat(Qt::PlainText);
    storeLabel->setWordWrap(true);

    wandEdit = new QLineEdit;
    wandEdit->setObjectName(QStringLiteral("wandFilter"));
    verdictBox = new QComboBox;
    verdictBox->setObjectName(QStringLiteral("verdictFilter"));
    verdictBox->addItems({QStringLiteral("any"), QStringLiteral("pass"), QStringLiteral("fail"),
                          QStringLiteral("incomplete")});
    benchEdit = new QLineEdit;
    benchEdit->setObjectName(QStringLiteral("benchFilter"));
    operatorEdit = new QLineEdit;
    operatorEdit->setObjectName(QStringLiteral("operatorFilter"));
    // The earliest date stands for "any".
    const auto dateEdit = [](const QString& name) {
        auto* edit = new QDateEdit;
        edit->setObjectName(name);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
        edit->setMinimumDate(QDate(2000, 1, 1));
        edit->setSpecialValueText(QStringLiteral("any"));
        edit->setDate(edit->minimumDate());
        return edit;
    };
    sinceEdit = dateEdit(QStringLiteral("sinceFilter"));
    untilEdit = dateEdit(QStringLiteral("untilFilter"));

    auto* filters = new QHBoxLayout;
    const auto add = [filters](const QString& label, QWidget* field) {
        auto* text = new QLabel(label);
        text->setBuddy(field);
        filters->addWidget(text);
        filters->addWidget(field);
    };
    add(QStringLiteral("&Wand:"), wandEdit);
    add(QStringLiteral("&Verdict:"), verdictBox);
    add(QStringLiteral("&Bench:"), benchEdit);
    add(QStringLiteral("O&perator:"), operatorEdit);
    add(QStringLiteral("&From:"), sinceEdit);
    add(QStringLiteral("&Until:"), untilEdit);

    table = new QTableView;
    table->setObjectName(QStringLiteral("checkTable"));
    table->setModel(checks);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    auto* open = new QPushButton(QStringLiteral("&Open report"));
    open->setObjectName(QStringLiteral("openReport"));
    auto* reload = new QPushButton(QStringLiteral("&Refresh"));

    chartTitle = new QLabel;
    chartTitle->setTextFormat(Qt::PlainText);
    wearLabel = new QLabel;
    wearLabel->setObjectName(QStringLiteral("wearWarnings"));
    wearLabel->setTextFormat(Qt::PlainText);
    wearLabel->setWordWrap(true);
    wearLabel->hide();
    auto* charts = new QWidget;
    chartGrid = new QGridLayout(charts);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setWidget(charts);
    auto* chartPane = new QWidget;
    auto* chartLayout = new QVBoxLayout(chartPane);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->addWidget(chartTitle);
    chartLayout->addWidget(wearLabel);
    chartLayout->addWidget(scroll, 1);

    auto* tablePane = new QWidget;
    auto* tableLayout = new QVBoxLayout(tablePane);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->addWidget(table, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open);
    buttons->addWidget(reload);
    buttons->addStretch();
    tableLayout->addLayout(buttons);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(tablePane);
    split->addWidget(chartPane);
    // The charts are what a person reads over time; the list scrolls.
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    split->setSizes({260, 540});
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(storeLabel);
    layout->addLayout(filters);
    layout->addWidget(split, 1);

    for (QLineEdit* edit : {wandEdit, benchEdit, operatorEdit})
        connect(edit, &QLineEdit::editingFinished, this, [this] { refresh(); });
    connect(verdictBox, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    for (QDateEdit* edit : {sinceEdit, untilEdit})
        connect(edit, &QDateEdit::dateChanged, this, [this] { refresh(); });
    connect(reload, &QPushButton::clicked, this, [this] { refresh(); });
    connect(open, &QPushButton::clicked, this, [this] { openSelectedReport(); });
    connect(table, &QTableView::doubleClicked, this, [this] { openSelectedReport(); });
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { showCharts(); });
    resize(1100, 800);
    setStoreUrl(storeUrl);
}

CheckHistoryWindow::~CheckHistoryWindow()
{
    // Closing the window takes the focus from a filter, which would refresh
    // a window already half destroyed.
    for (QLineEdit* edit : {wandEdit, benchEdit, operatorEdit})
        disconnect(edit, nullptr, this, nullptr);
}

void CheckHistoryWindow::setStoreUrl(const QString& url)
{
    std::string error;
    store = openCheckStore(url.toStdString(), error);
    storeLabel->setText(
        store ? QStringLiteral("Check records: %1").arg(QString::fromStdString(store->name()))
              : QStringLiteral("The check records do not open: %1")
                    .arg(QString::fromStdString(error)));
    refresh();
}

CheckQuery CheckHistoryWindow::filterQuery() const
{
    CheckQuery query;
    query.wandId = wandEdit->text().trimmed().toStdString();
    query.verdict = verdictBox->currentIndex() > 0 ? verdictBox->currentText().toStdString() : "";
    query.bench = benchEdit->text().trimmed().toStdString();
    query.operatorName = operatorEdit->text().trimmed().toStdString();
    if (sinceEdit->date() > sinceEdit->minimumDate())
        query.sinceUs = msSinceEpoch(sinceEdit->date()) * 1000;
    // "Until" names the last day listed.
    if (untilEdit->date() > untilEdit->minimumDate())
        query.untilUs = msSinceEpoch(untilEdit->date().addDays(1)) * 1000;
    query.limit = kMaxListed;
    // A report is read when it is opened; thousands of them would make up
    // most of what the list reads.
    query.withReport = false;
    return query;
}

void CheckHistoryWindow::refresh()
{
    std::vector<CheckRecord> records;
    if (store) {
        std::string error;
        if (!store->find(filterQuery(), records, error))
            storeLabel->setText(QStringLiteral("The check records cannot be read: %1")
                                    .arg(QString::fromStdString(error)));
    }
    checks->setRecords(std::move(records));
    table->resizeColumnsToContents();
    // The filters changed what the charts hold even when the wand stays.
    charted.clear();
    showCharts();
}

std::vector<QPointF> CheckHistoryWindow::figurePoints(const std::vector<CheckRecord>& records,
                                                      double CheckRecord::*figure)
{
    std::vector<QPointF> points;
    for (const CheckRecord& r : records)
        if (std::isfinite(r.*figure))
            points.emplace_back(double(r.finishedUs / 1000), r.*figure);
    std::sort(points.begin(), points.end(),
              [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
    return points;
}

void CheckHistoryWindow::showCharts()
{
    const std::vector<CheckRecord>& records = checks->records();
    // The selected check's wand, else the only wand listed.
    QString wand;
    const QModelIndexList selected = table->selectionModel()->selectedRows();
    if (!selected.isEmpty() && selected.first().row() < int(records.size()))
        wand = QString::fromStdString(records[size_t(selected.first().row())].wandId);
    else if (!records.empty() &&
             std::all_of(records.begin(), records.end(),
                         [&](const CheckRecord& r) { return r.wandId == records.front().wandId; }))
        wand = QString::fromStdString(records.front().wandId);
    if (wand == charted && chartGrid->count() > 0)
        return;
    charted = wand;
    while (QLayoutItem* item = chartGrid->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    showWear(wand);
    if (wand.isEmpty()) {
        chartTitle->setText(QStringLiteral("Select a check to see its wand's figures over time."));
        return;
    }
    // The wand's own checks under the same filters, not only those among
    // the listed newest of all wands.
    CheckQuery query = filterQuery();
    query.wandId = wand.toStdString();
    std::vector<CheckRecord> ofWand;
    std::string error;
    if (!store || !store->find(query, ofWand, error) || ofWand.empty()) {
        chartTitle->setText(QStringLiteral("The checks of wand %1 cannot be read: %2")
                                .arg(wand, error.empty()
                                               ? QStringLiteral("they are no longer in the store")
                                               : QString::fromStdString(error)));
        return;
    }
    chartTitle->setText(QStringLiteral("Wand %1: %2 checks listed, limits of the newest one")
                            .arg(wand)
                            .arg(ofWand.size()));
    // The newest check's profile: the limits the wand is judged by now.
    const QJsonObject profile =
        QJsonDocument::fromJson(QByteArray::fromStdString(ofWand.front().profileJson)).object();
    int at = 0;
    for (const ChartedFigure& figure : kCharted) {
        const QJsonValue limit =
            figure.limitKey ? profile.value(QLatin1String(figure.limitKey)) : QJsonValue();
        chartGrid->addWidget(figureChart(figure, figurePoints(ofWand, figure.value),
                                         limit.isDouble() ? limit.toDouble() : NAN),
                             at / 3, at % 3);
        ++at;
    }
}

void CheckHistoryWindow::openSelectedReport()
{
    const QModelIndexList selected = table->selectionModel()->selectedRows();
    if (selected.isEmpty() || selected.first().row() >= int(checks->records().size()))
        return;
    const CheckRecord& record = checks->records()[size_t(selected.first().row())];
    // The list holds no reports; this one is read now.
    CheckQuery query;
    query.checkId = record.checkId;
    query.limit = 1;
    std::vector<CheckRecord> found;
    std::string error;
    QByteArray stored;
    if (store && store->find(query, found, error) && !found.empty())
        stored = QByteArray::fromStdString(found.front().reportJson);
    else
        stored = QStringLiteral("The stored report cannot be read: %1")
                     .arg(error.empty() ? QStringLiteral("it is no longer in the store")
                                        : QString::fromStdString(error))
                     .toUtf8();
    const QJsonDocument report = QJsonDocument::fromJson(stored);
    auto* dialog = new QDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("storedReport"));
    dialog->setWindowTitle(
        QStringLiteral("Check of %1: %2")
            .arg(QString::fromStdString(record.wandId), QString::fromStdString(record.verdict)));
    auto* text = new QTextBrowser;
    text->setPlainText(report.isNull() ? QString::fromUtf8(stored)
                                       : QString::fromUtf8(report.toJson(QJsonDocument::Indented)));
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    dialog->resize(600, 700);
    dialog->show();
}

void CheckHistoryWindow::showWear(const QString& wand)
{
    wearLabel->hide();
    if (wand.isEmpty() || !store)
        return;
    // Wear is the wand's whole recent history, whatever the filters list.
    CheckQuery query;
    query.wandId = wand.toStdString();
    query.limit = kWearFitChecks;
    std::vector<CheckRecord> newest;
    std::string error;
    if (!store->find(query, newest, error) || newest.empty())
        return;
    CheckProfile profile;
    QString text;
    if (!profile.parse(newest.front().profileJson, error)) {
        text = QStringLiteral("No wear forecast: the newest check's limits do not read: %1")
                   .arg(QString::fromStdString(error));
    } else {
        const int64_t nowUs = QDateTime::currentMSecsSinceEpoch() * 1000;
        for (const WearWarning& warning : wearWarnings(newest, profile, nowUs))
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) +
                    QString::fromStdString(warning.text);
    }
    wearLabel->setText(text);
    wearLabel->setVisible(!text.isEmpty());
}
