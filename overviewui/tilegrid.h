#pragma once

#include "skywandshelf.h"

#include <QString>
#include <QWidget>

#include <vector>

// What one tile shows: the shelf's figures and the records' last check.
struct OverviewTile
{
    ShelfWand wand;
    QString wandId;   // the lab's id, typed or scanned
    QString proposed; // the id of the index's last check, while none is typed
    QString verdict;  // of the wand's last check; empty when none is on record
    QString checked;  // its date, yyyy-MM-dd
    QString wear;     // the first wear warning, if any
};

// One widget paints every tile, and only those the repaint exposes, so a
// thousand wands cost what the visible ones cost.
class TileGrid : public QWidget
{
    Q_OBJECT

public:
    explicit TileGrid(QWidget* parent = nullptr);

    void setTiles(std::vector<OverviewTile> tiles, int selected);
    const std::vector<OverviewTile>& tiles() const { return shown; }
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

signals:
    void tileClicked(int index);
    void checkRequested(int index);
    void wandIdWanted(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void paintTile(QPainter& painter, int index, const QRect& rect) const;

    std::vector<OverviewTile> shown;
    int selected = -1;
};
