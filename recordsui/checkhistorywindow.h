#pragma once

// View, "Check history": the stored checks in a table, filtered by wand,
// verdict, bench, operator and dates; a check's stored report; and one
// wand's figures over time, one chart per figure with its limit beside it,
// under the wear its newest checks show coming.

#include "checkstore.h"

#include <QPointF>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class CheckRecordModel;
class QComboBox;
class QDateEdit;
class QGridLayout;
class QLabel;
class QLineEdit;
class QTableView;

class CheckHistoryWindow : public QWidget
{
    Q_OBJECT

public:
    // The most checks listed at once; a larger store is narrowed by filters.
    static constexpr size_t kMaxListed = 5000;

    explicit CheckHistoryWindow(const QString& storeUrl, QWidget* parent = nullptr);
    ~CheckHistoryWindow() override;

    // Opens the records at url (the window keeps them open) and lists them.
    void setStoreUrl(const QString& url);
    // Lists the records that match the filters again.
    void refresh();
    const CheckRecordModel* model() const { return checks; }
    // The wand whose figures the charts show; empty when the list holds
    // more than one wand and none is selected.
    QString chartedWand() const { return charted; }
    // The stored report of the selected check, in a window of its own.
    void openSelectedReport();

    // The figure of each record with a value, as (milliseconds since the
    // epoch, value), oldest first.
    static std::vector<QPointF> figurePoints(const std::vector<CheckRecord>& records,
                                             double CheckRecord::*figure);

private:
    // The filters as a query; the list leaves the reports out.
    CheckQuery filterQuery() const;
    void showCharts();
    void showWear(const QString& wand);

    std::unique_ptr<CheckStore> store;
    QString charted;
    CheckRecordModel* checks;
    QLabel* storeLabel;
    QLineEdit* wandEdit;
    QComboBox* verdictBox;
    QLineEdit* benchEdit;
    QLineEdit* operatorEdit;
    QDateEdit* sinceEdit;
    QDateEdit* untilEdit;
    QTableView* table;
    QLabel* chartTitle;
    QLabel* wearLabel;
    QGridLayout* chartGrid;
};
