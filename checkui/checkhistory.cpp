#include "checkhistory.h"

#include "checkresult.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QStandardPaths>
#include <QTextDocument>

#include <algorithm>

namespace {

double largerOf(double a, double b)
{
    if (std::isnan(a))
        return b;
    if (std::isnan(b))
        return a;
    return std::max(a, b);
}

// A JSON null, or anything not a number, is a figure not measured.
double number(const QJsonValue& value)
{
    return value.isDouble() ? value.toDouble() : NAN;
}

// The figure's value in a report's steps.
double number(const QJsonObject& steps, CheckItem item)
{
    const CheckItemInfo& info = checkItemInfo(item);
    const QJsonObject step = steps.value(QLatin1String(checkStepName(info.step))).toObject();
    return number(step.value(QLatin1String(info.key)));
}

struct Comparison
{
    const char* name;
    double CheckFigures::*figure;
    double scale;
    int decimals;
    const char* unit;
};

const Comparison kComparisons[] = {
    {"centre offset", &CheckFigures::offset, 1.0, 3, ""},
    {"noise at rest", &CheckFigures::noise, 1.0, 4, ""},
    {"coverage", &CheckFigures::coverage, 100.0, 0, " %"},
    {"circularity", &CheckFigures::circularityError, 1.0, 1, " %"},
    {"reach", &CheckFigures::reach, 100.0, 1, " %"},
    {"position sigma", &CheckFigures::positionSigmaMm, 1.0, 2, " mm"},
    {"rotation jitter", &CheckFigures::rotationJitterDeg, 1.0, 3, " deg"},
    {"tracked", &CheckFigures::trackedShare, 100.0, 1, " %"},
};

} // namespace

CheckFigures checkFigures(const CheckResult& result)
{
    CheckFigures figures;
    figures.verdict = QString::fromLatin1(verdictName(result.verdict));
    figures.offset = result.rest.offset;
    figures.noise = largerOf(result.rest.noiseX, result.rest.noiseY);
    figures.coverage = result.circle.coverage;
    figures.circularityError = result.circle.circularityError;
    for (const double reach : result.circle.reach) {
        figures.reach = std::isnan(figures.reach) ? reach : std::fmin(figures.reach, reach);
    }
    figures.positionSigmaMm = result.hold.positionSigmaMm;
    figures.rotationJitterDeg = result.hold.rotationJitterDeg;
    figures.trackedShare = result.hold.trackedShare;
    return figures;
}

bool readCheckFigures(const QString& path, CheckFigures& figures, QString& wandId)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.read(kMaxReportSize + 1);
    if (text.size() > kMaxReportSize)
        return false;
    const QJsonObject report = QJsonDocument::fromJson(text).object();
    if (report.value(QLatin1String("schema")).toString() != QLatin1String("skywand-check/1"))
        return false;
    const QJsonObject steps = report.value(QLatin1String("steps")).toObject();

    CheckFigures read;
    read.path = path;
    read.finished = report.value(QLatin1String("finished")).toString();
    read.verdict = report.value(QLatin1String("verdict")).toString();
    read.offset = number(steps, CheckItem::Offset);
    read.noise = largerOf(number(steps, CheckItem::NoiseX), number(steps, CheckItem::NoiseY));
    read.coverage = number(steps, CheckItem::Coverage);
    read.circularityError = number(steps, CheckItem::CircularityError);
    // Every direction the report names, as the smallest.
    const QJsonObject reach = steps.value(QLatin1String("circle"))
                                  .toObject()
                                  .value(QLatin1String(checkItemInfo(CheckItem::ReachPlusX).group))
                                  .toObject();
    for (auto it = reach.begin(); it != reach.end(); ++it) {
        const double value = number(it.value());
        read.reach = std::isnan(read.reach) ? value : std::fmin(read.reach, value);
    }
    read.positionSigmaMm = number(steps, CheckItem::PositionSigmaMm);
    read.rotationJitterDeg = number(steps, CheckItem::RotationJitterDeg);
    read.trackedShare = number(steps, CheckItem::TrackedShare);
    figures = read;
    wandId = report.value(QLatin1String("wandId")).toString();
    return true;
}

bool findPreviousCheck(const QString& folder, const QString& wandId, const QString& exclude,
                       CheckFigures& previous)
{
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::Time);
    const QString excluded = exclude.isEmpty() ? QString() : QFileInfo(exclude).absoluteFilePath();
    bool found = false;
    const int count = std::min<int>(int(files.size()), kMaxReportsScanned);
    for (int i = 0; i < count; ++i) {
        const QFileInfo& info = files.at(i);
        if (info.size() > kMaxReportSize || info.absoluteFilePath() == excluded)
            continue;
        CheckFigures figures;
        QString id;
        if (!readCheckFigures(info.absoluteFilePath(), figures, id) || id != wandId)
            continue;
        // ISO 8601 times in UTC sort as text.
        if (!found || figures.finished > previous.finished) {
            previous = figures;
            found = true;
        }
    }
    return found;
}

QStringList compareChecks(const CheckFigures& before, const CheckFigures& now)
{
    QStringList lines;
    if (!before.verdict.isEmpty() && !now.verdict.isEmpty()) {
        lines << QStringLiteral("verdict %1 before, %2 now").arg(before.verdict, now.verdict);
    }
    for (const Comparison& c : kComparisons) {
        const double was = before.*c.figure;
        const double is = now.*c.figure;
        if (std::isnan(was) || std::isnan(is))
            continue;
        const QString unit = QString::fromLatin1(c.unit);
        lines << QStringLiteral("%1 %2%3 before, %4%3 now")
                     .arg(QString::fromLatin1(c.name),
                          QString::number(was * c.scale, 'f', c.decimals), unit,
                          QString::number(is * c.scale, 'f', c.decimals));
    }
    return lines;
}

QByteArray reportPdf(const QString& html)
{
    QBuffer buffer;
    if (!buffer.open(QIODevice::WriteOnly))
        return QByteArray();
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setTitle(QStringLiteral("Skywand check"));
        QTextDocument document;
        document.setHtml(html);
        document.print(&writer);
    }
    return buffer.data();
}

QString defaultReportFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/reports");
}
