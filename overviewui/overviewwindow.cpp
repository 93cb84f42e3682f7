#include "overviewwindow.h"

#include "checkprofile.h"
#include "checkstore.h"
#include "framedecoder.h"
#include "tilegeometry.h"
#include "trackingsdk.h"
#include "wearfit.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>

namespace {

constexpr int kRefreshMs = 100;
constexpr int kChecksRefreshMs = 30000;
// How many recent checks propose wand ids for the tiles.
constexpr size_t kProposalChecks = 1000;

} // namespace

OverviewWindow::OverviewWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("overviewWindow"));
    setWindowTitle(QStringLiteral("All Skywands"));
    grid = new TileGrid;
    scroll = new QScrollArea;
    scroll->setWidget(grid);
    scroll->setWidgetResizable(true);
    idLabel = new QLabel;
    idEdit = new QLineEdit;
    idEdit->setObjectName(QStringLiteral("wandIdEdit"));
    idEdit->setMaxLength(100);
    idEdit->setToolTip(QStringLiteral("Type or scan the wand id of the chosen tile, then Enter"));
    checkButton = new QPushButton(QStringLiteral("Check..."));
    checkButton->setObjectName(QStringLiteral("checkButton"));
    auto* bar = new QHBoxLayout;
    bar->addWidget(idLabel);
    bar->addWidget(idEdit, 1);
    bar->addWidget(checkButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(scroll, 1);
    resize(4 * (TileGeometry::kWidth + TileGeometry::kGap) + 40, 460);

    timer = new QTimer(this);
    timer->setInterval(kRefreshMs);
    connect(timer, &QTimer::timeout, this, [this] { refresh(now()); });
    checksTimer = new QTimer(this);
    checksTimer->setInterval(kChecksRefreshMs);
    connect(checksTimer, &QTimer::timeout, this, &OverviewWindow::refreshChecks);

    connect(grid, &TileGrid::tileClicked, this, &OverviewWindow::chooseTile);
    connect(grid, &TileGrid::checkRequested, this, &OverviewWindow::requestCheck);
    connect(grid, &TileGrid::wandIdWanted, this, [this](int index) {
        chooseTile(index);
        showIdEditor();
    });
    connect(idEdit, &QLineEdit::returnPressed, this, &OverviewWindow::storeTypedId);
    connect(checkButton, &QPushButton::clicked, this, [this] { requestCheck(selected); });
    setSelectedIndex(0);
}

OverviewWindow::~OverviewWindow() = default;

double OverviewWindow::now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void OverviewWindow::recordReceive(const TrackingSdk& sdk)
{
    const double t = now();
    sdk.readLastReceive([&](ErrorState outcome, const FrameData& frame, const ReceivedDatagram*) {
        std::lock_guard<std::mutex> lock(mutex);
        shelf.recordReceive(t, outcome, frame);
    });
}

void OverviewWindow::recordFrame(double t, const FrameData& frame)
{
    std::lock_guard<std::mutex> lock(mutex);
    shelf.recordFrame(t, frame);
}

void OverviewWindow::refresh(double t)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        shelf.snapshot(t, scratch);
    }
    std::vector<OverviewTile> tiles(scratch.size());
    for (size_t i = 0; i < scratch.size(); ++i) {
        OverviewTile& tile = tiles[i];
        tile.wand = scratch[i];
        tile.wandId = wandIds.value(int(i));
        if (tile.wandId.isEmpty())
            tile.proposed = proposals.value(int(i));
        const auto check = lastChecks.constFind(tile.wandId);
        if (!tile.wandId.isEmpty() && check != lastChecks.cend()) {
            tile.verdict = check->verdict;
            tile.checked = check->date;
            tile.wear = check->wear;
        }
    }
    grid->setTiles(std::move(tiles), selected);
}

const std::vector<OverviewTile>& OverviewWindow::tiles() const
{
    return grid->tiles();
}

void OverviewWindow::setSelectedIndex(int index)
{
    selected = std::max(index, 0);
    idLabel->setText(QStringLiteral("Wand id of F%1:").arg(selected + 1));
    idEdit->setText(wandIds.value(selected));
    idEdit->setPlaceholderText(proposals.value(selected));
    refresh(now());
}

void OverviewWindow::setWandIds(const QMap<int, QString>& ids)
{
    wandIds = ids;
    idEdit->setText(wandIds.value(selected));
    refreshChecks();
}

QString OverviewWindow::wandIdAt(int index) const
{
    return wandIds.value(index);
}

void OverviewWindow::setStoreUrl(const QString& url)
{
    storeUrl = url;
    refreshChecks();
}

void OverviewWindow::refreshChecks()
{
    std::string error;
    const std::string url = storeUrl.isEmpty() ? defaultCheckStoreUrl() : storeUrl.toStdString();
    std::unique_ptr<CheckStore> store = openCheckStore(url, error);
    lastChecks.clear();
    proposals.clear();
    if (store) {
        CheckQuery recent;
        recent.limit = kProposalChecks;
        recent.withReport = false;
        std::vector<CheckRecord> records;
        if (store->find(recent, records, error)) {
            // Newest first: the first check of an index proposes its id.
            for (const CheckRecord& r : records)
                if (!proposals.contains(r.skywandIndex) && !r.wandId.empty())
                    proposals.insert(r.skywandIndex, QString::fromStdString(r.wandId));
        }
        const int64_t nowUs = QDateTime::currentMSecsSinceEpoch() * 1000;
        for (const QString& id : wandIds) {
            if (lastChecks.contains(id))
                continue;
            CheckQuery query;
            query.wandId = id.toStdString();
            query.limit = kWearFitChecks;
            std::vector<CheckRecord> newest;
            if (!store->find(query, newest, error) || newest.empty())
                continue;
            LastCheck last;
            last.verdict = QString::fromStdString(newest.front().verdict);
            last.finishedUs = newest.front().finishedUs;
            last.date = QDateTime::fromMSecsSinceEpoch(last.finishedUs / 1000)
                            .toString(QStringLiteral("yyyy-MM-dd"));
            CheckProfile profile;
            if (profile.parse(newest.front().profileJson, error)) {
                const std::vector<WearWarning> warnings = wearWarnings(newest, profile, nowUs);
                if (!warnings.empty())
                    last.wear = QString::fromStdString(warnings.front().text);
            }
            lastChecks.insert(id, last);
        }
    }
    idEdit->setPlaceholderText(proposals.value(selected));
    refresh(now());
}

int OverviewWindow::nextUncheckedIndex() const
{
    const int count = int(tiles().size());
    const QDate today = QDate::currentDate();
    for (int step = 1; step <= count; ++step) {
        const int index = (selected + step) % count;
        const QString id = wandIdAt(index);
        const auto check = id.isEmpty() ? lastChecks.cend() : lastChecks.constFind(id);
        if (check == lastChecks.cend() ||
            QDateTime::fromMSecsSinceEpoch(check->finishedUs / 1000).date() != today)
            return index;
    }
    return -1;
}

void OverviewWindow::chooseTile(int index)
{
    setSelectedIndex(index);
    emit skywandChosen(index);
}

void OverviewWindow::storeTypedId()
{
    const QString id = idEdit->text().trimmed();
    if (id == wandIds.value(selected))
        return;
    if (id.isEmpty())
        wandIds.remove(selected);
    else
        wandIds.insert(selected, id);
    emit wandIdChanged(selected, id);
    refreshChecks();
}

void OverviewWindow::requestCheck(int index)
{
    if (index != selected)
        chooseTile(index);
    storeTypedId();
    QString id = wandIds.value(index);
    if (id.isEmpty())
        id = proposals.value(index);
    emit checkRequested(index, id);
}

void OverviewWindow::showIdEditor()
{
    idEdit->setFocus();
    idEdit->selectAll();
}

void OverviewWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    emit framesWanted(true);
    timer->start();
    checksTimer->start();
}

void OverviewWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    timer->stop();
    checksTimer->stop();
    emit framesWanted(false);
}
