#pragma once

class QByteArray;
class QString;

// Writes content to the configuration file at path. Where the file's folder
// is writable the file is replaced in one step, so a crash never leaves it
// half written; where only the file itself is writable (an installed
// program's folder belongs to root, its port file to everyone) it is written
// in place. Returns false when the file could not be written at all. The
// first such failure is reported on the debug output and sets *warned, which
// keeps later failures quiet.
bool saveConfigFile(const QString& path, const QByteArray& content, bool* warned);
