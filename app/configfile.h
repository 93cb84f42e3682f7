#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// What stands at the configuration file's path, symbolic links followed.
enum class ConfigFileKind
{
    Missing, // nothing at all, not even a link
    Regular, // a regular file, directly or through links
    Other,   // a directory, device, FIFO or socket, or a link to one or to nothing
};

ConfigFileKind configFileKind(const QString& path);

// Reads the configuration file at path when it is a regular file (links
// followed): content gets at most the first 8192 bytes, in text mode, or
// stays empty when the file does not open. Anything else is neither opened
// nor read, so a FIFO never blocks and a device never sees an open. Returns
// what it found.
ConfigFileKind loadConfigFile(const QString& path, QByteArray* content);

// Writes content to the configuration file at path. Only a regular file (a
// link to one stays a link and its target is written) or a path where
// nothing stands is written; anything else is left untouched. Where the
// file's folder is writable the file is replaced in one step, so a crash
// never leaves it half written; where only the file itself is writable (an
// installed program's folder belongs to root, its port file to everyone) it
// is written in place. Returns false when the file was not written. The first
// such failure is reported on the debug output and sets *warned, which keeps
// later failures quiet.
bool saveConfigFile(const QString& path, const QByteArray& content, bool* warned);

// What the configuration file holds: the port text, then the check profile
// the lab chose and the check records' URL, if any, each on a line of its
// own after it ("check-profile=PATH", "check-store=URL"), the check wizard's
// report folder, operator and last wand id ("report-folder=PATH",
// "operator=NAME", "last-wand-id=ID"), and the wand ids the overview's tiles
// were given ("wand-id=3:W-0042" for F3). A file without any of them holds
// the port text alone, byte for byte as before; a reader that knows only the
// port text still reads its number from the first line.
struct ConfigContent
{
    QByteArray portText;
    QString profilePath;  // empty: the default limits
    QString storeUrl;     // never with a password; empty: the default records
    QString reportFolder; // empty: the default folder
    QString operatorName;
    QString lastWandId; // of the last report the wizard filed
    // Index (F1 is 0) to the lab's wand id; never empty, never two lines.
    QMap<int, QString> wandIds;
};

// Indexes 0 .. this - 1 keep a wand id, as many as a stream carries Skywands.
constexpr int kMaxWandIds = 1000;

ConfigContent parseConfig(const QByteArray& content);
QByteArray composeConfig(const ConfigContent& config);
