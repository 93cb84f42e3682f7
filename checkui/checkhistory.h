#pragma once

// The figures a technician compares between two checks of the same wand, read
// from a filed JSON report or taken from a check just run; the search for the
// previous report of a wand in the report folder; and the PDF print of the
// HTML report.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cmath>

struct CheckResult;

struct CheckFigures
{
    QString path;     // the JSON report; empty for a check not yet filed
    QString finished; // ISO 8601 in UTC, as the report files it
    QString verdict;
    double offset = NAN;
    double noise = NAN; // the larger of the two axes
    double coverage = NAN;
    double circularityError = NAN; // percent
    double reach = NAN;            // the smallest of the four directions
    double positionSigmaMm = NAN;
    double rotationJitterDeg = NAN;
    double trackedShare = NAN;
};

CheckFigures checkFigures(const CheckResult& result);

// Reads a report of schema "skywand-check/1" of at most kMaxReportSize bytes;
// false for anything else. wandId receives the report's wand id.
bool readCheckFigures(const QString& path, CheckFigures& figures, QString& wandId);

// The newest report of wandId in folder (by its finished time), leaving out
// the file exclude; false when there is none. Looks at the newest
// kMaxReportsScanned JSON files only, so a large folder does not stall the
// window.
bool findPreviousCheck(const QString& folder, const QString& wandId, const QString& exclude,
                       CheckFigures& previous);

// One line per figure measured in both: "circularity 4.1 % before, 7.9 % now".
QStringList compareChecks(const CheckFigures& before, const CheckFigures& now);

// The HTML page printed as a PDF document; empty when it could not be printed.
QByteArray reportPdf(const QString& html);

// "reports" in the user's data folder for this program.
QString defaultReportFolder();

constexpr qint64 kMaxReportSize = 1024 * 1024;
constexpr int kMaxReportsScanned = 2000;
