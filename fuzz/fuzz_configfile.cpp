// The window's configuration file from any bytes, as the window reads it at
// start. Beyond crashes it checks that what the window writes back reads as
// what it read: a port text, a profile, a records URL and the wand ids survive a save
// unchanged, so a hostile file cannot turn into another setting by being
// saved once.

#include "configfile.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

bool same(const ConfigContent& a, const ConfigContent& b)
{
    return a.portText == b.portText && a.profilePath == b.profilePath && a.storeUrl == b.storeUrl &&
           a.wandIds == b.wandIds;
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
        saved != read.portText)
        std::abort();
    return 0;
}
