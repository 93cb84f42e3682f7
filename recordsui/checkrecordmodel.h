#pragma once

// The stored checks as a table for a QTableView, newest first as the store
// lists them.

#include "checkstore.h"

#include <QAbstractTableModel>

#include <vector>

class CheckRecordModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        Finished,
        Wand,
        Verdict,
        Bench,
        Operator,
        Skywand,
        Offset,
        Circularity,
        Coverage,
        PositionSigma,
        ColumnCount
    };

    explicit CheckRecordModel(QObject* parent = nullptr);

    void setRecords(std::vector<CheckRecord> records);
    const std::vector<CheckRecord>& records() const { return rows; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<CheckRecord> rows;
};
