#pragma once

#include "skywandshelf.h"
#include "tilegrid.h"

#include <QMap>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <mutex>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class TrackingSdk;
struct FrameData;

// View, "All Skywands": a tile for every Skywand of the stream, with its
// state, its health over the last ten seconds and its last check. The
// receiver's thread feeds every datagram through recordReceive(); the tiles
// take a copy ten times a second while the window is shown.
class OverviewWindow : public QWidget
{
    Q_OBJECT

public:
    explicit OverviewWindow(QWidget* parent = nullptr);
    ~OverviewWindow() override;

    // Thread-safe and quick: called on the receiver's thread for every
    // receive while framesWanted(true) holds.
    void recordReceive(const TrackingSdk& sdk);
    // The same for one decoded frame at now (seconds on the window's clock).
    void recordFrame(double now, const FrameData& frame);
    // The window's clock: seconds on a steady clock.
    static double now();

    // Takes the figures as they stand at now into the tiles.
    void refresh(double now);
    const std::vector<OverviewTile>& tiles() const;

    // The Skywand chosen in the main window; its tile is outlined.
    void setSelectedIndex(int index);
    int selectedIndex() const { return selected; }
    void setWandIds(const QMap<int, QString>& ids);
    QString wandIdAt(int index) const;
    // The records whose last checks the tiles show; empty for the default.
    void setStoreUrl(const QString& url);
    // Reads every tile's last check and the proposals again.
    void refreshChecks();
    // The next tile after the selected one, wrapping, whose wand has no
    // check today in the records; -1 when none.
    int nextUncheckedIndex() const;

signals:
    void framesWanted(bool wanted);
    void skywandChosen(int index);
    void checkRequested(int index, const QString& wandId);
    // A tile was given a wand id (empty: it lost one); the main window keeps it.
    void wandIdChanged(int index, const QString& wandId);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct LastCheck
    {
        QString verdict;
        QString date;
        int64_t finishedUs = 0;
        QString wear;
    };

    void chooseTile(int index);
    void storeTypedId();
    void requestCheck(int index);
    void showIdEditor();

    mutable std::mutex mutex; // guards shelf between the receiver's thread and the GUI
    SkywandShelf shelf;
    std::vector<ShelfWand> scratch;

    TileGrid* grid;
    QScrollArea* scroll;
    QLabel* idLabel;
    QLineEdit* idEdit;
    QPushButton* checkButton;
    QTimer* timer;
    QTimer* checksTimer;
    int selected = 0;
    QMap<int, QString> wandIds;
    QMap<QString, LastCheck> lastChecks; // by wand id
    QMap<int, QString> proposals;        // by index: the wand id of its last check
    QString storeUrl;
};
