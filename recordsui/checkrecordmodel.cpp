#include "checkrecordmodel.h"

#include "checkreport.h"

#include <QBrush>
#include <QColor>

#include <cmath>

namespace {

QVariant figure(double value, int decimals)
{
    return std::isfinite(value) ? QVariant(QString::number(value, 'f', decimals)) : QVariant();
}

} // namespace

CheckRecordModel::CheckRecordModel(QObject* parent) : QAbstractTableModel(parent) {}

void CheckRecordModel::setRecords(std::vector<CheckRecord> records)
{
    beginResetModel();
    rows = std::move(records);
    endResetModel();
}

int CheckRecordModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int CheckRecordModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CheckRecordModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows.size()))
        return QVariant();
    const CheckRecord& r = rows[size_t(index.row())];
    if (role == Qt::ForegroundRole && index.column() == Verdict)
        return QBrush(r.verdict == "pass"   ? QColor(0x10, 0x80, 0x10)
                      : r.verdict == "fail" ? QColor(0xc0, 0x10, 0x10)
                                            : QColor(0xb0, 0x60, 0x00));
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case Finished:
        // Shown in UTC to the second, as the reports file it.
        return QString::fromStdString(isoUtc(r.finishedUs))
            .left(19)
            .replace(QLatin1Char('T'), QLatin1Char(' '));
    case Wand:
        return QString::fromStdString(r.wandId);
    case Verdict:
        return QString::fromStdString(r.verdict);
    case Bench:
        return QString::fromStdString(r.bench);
    case Operator:
        return QString::fromStdString(r.operatorName);
    case Skywand:
        return QStringLiteral("F%1").arg(r.skywandIndex + 1);
    case Offset:
        return figure(r.offset, 3);
    case Circularity:
        return figure(r.circularityError, 1);
    case Coverage:
        return figure(r.coverage * 100.0, 0);
    case PositionSigma:
        return figure(r.positionSigmaMm, 2);
    }
    return QVariant();
}

QVariant CheckRecordModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const char* const kTitles[ColumnCount] = {
        "Finished (UTC)", "Wand",   "Verdict",       "Bench",      "Operator",
        "Skywand",        "Offset", "Circularity %", "Coverage %", "Position sigma mm"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kTitles[section])
                                                 : QVariant();
}
