// The window's configuration file from any bytes, as the window reads it at
// start. Beyond crashes it checks that what the window writes back reads as
// what it read: a port text, a profile, a records URL, the wand ids and the
// wizard's remembered values survive a save unchanged (a remembered value
// with a line break in it is dropped), so a hostile file cannot turn into
// another setting by being saved once.

#include "configfile.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

// A remembered value as a save keeps it.
QString kept(const QString& value)
{
    const QString trimmed = value.trimmed();
    return trimmed.contains(QLatin1Char('\n')) || trimmed.contains(QLatin1Char('\r')) ? QString()
                                                                                      : trimmed;
}

bool same(const ConfigContent& read, const ConfigContent& again)
{
    return read.portText == again.portText && read.profilePath == again.profilePath &&
           read.storeUrl == again.storeUrl && read.wandIds == again.wandIds &&
           kept(read.reportFolder) == again.reportFolder &&
           kept(read.operatorName) == again.operatorName &&
           kept(read.lastWandId) == again.lastWandId;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ConfigContent read = parseConfig(content);
    if (!content.startsWith(read.portText))
        std::abort();
    const QByteArray saved = composeConfig(read);
    const ConfigContent again = parseConfig(saved);
    if (!same(read, again))
        std::abort();
    // A file that holds the port text alone is written back byte for byte,
    // as the window always did.
    if (read.profilePath.isEmpty() && read.storeUrl.isEmpty() && read.wandIds.isEmpty() &&
        kept(read.reportFolder).isEmpty() && kept(read.operatorName).isEmpty() &&
        kept(read.lastWandId).isEmpty() && saved != read.portText)
        std::abort();
    return 0;
}
