#include "portholder.h"

#include "filehelpers.h"
#include "systemprobes.h"

#include <algorithm>
#include <charconv>

namespace {

// A socket table of a busy server runs to some megabytes; beyond this the
// rest is not read.
constexpr size_t kMaxTableBytes = 16u << 20;

// Reads what the system's table holds, up to limit bytes.
bool readTable(const std::string& path, size_t limit, std::string& text)
{
    ReadOptions options;
    options.maxBytes = limit;
    options.cutAtLimit = true;
    int errorCode = 0;
    return readRegularFile(path, options, text, errorCode) == FileResult::Ok;
}

template <typename Number> bool parseNumber(const std::string& text, int base, Number& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, error] = std::from_chars(first, last, value, base);
    return error == std::errc() && end == last && first != last;
}

// One line of /proc/net/udp: "sl: local rem st tx:rx tr:when retrnsmt uid
// timeout inode ...", the local address as HEX:PORT with the port in hex.
bool parseLine(const std::string& line, uint16_t& port, uint32_t& uid, uint64_t& inode)
{
    std::string fields[10];
    size_t count = 0;
    size_t i = 0;
    while (count < 10) {
        i = line.find_first_not_of(" \t", i);
        if (i == std::string::npos)
            break;
        const size_t j = std::min(line.find_first_of(" \t", i), line.size());
        fields[count++] = line.substr(i, j - i);
        i = j;
    }
    if (count < 10)
        return false;
    const size_t colon = fields[1].rfind(':');
    if (colon == std::string::npos)
        return false;
    unsigned portValue = 0;
    if (!parseNumber(fields[1].substr(colon + 1), 16, portValue) || portValue > 0xFFFF)
        return false;
    port = static_cast<uint16_t>(portValue);
    return parseNumber(fields[7], 10, uid) && parseNumber(fields[9], 10, inode);
}

} // namespace

bool PortHolders::someHidden() const
{
    return std::any_of(holders.begin(), holders.end(),
                       [](const PortHolder& h) { return h.pid == 0; });
}

void parseUdpTable(const std::string& text, uint16_t port, bool ipv6,
                   std::vector<PortHolder>& holders)
{
    size_t start = 0;
    while (start < text.size() && holders.size() < kMaxHolders) {
        const size_t end = std::min(text.find('\n', start), text.size());
        uint16_t linePort = 0;
        PortHolder holder;
        holder.ipv6 = ipv6;
        if (parseLine(text.substr(start, end - start), linePort, holder.uid, holder.inode) &&
            linePort == port && holder.inode != 0)
            holders.push_back(holder);
        start = end + 1;
    }
}

PortHolders findPortHolders(uint16_t port, const std::string& procRoot)
{
    PortHolders result;
    try {
        std::string text;
        if (readTable(procRoot + "/net/udp", kMaxTableBytes, text)) {
            result.tableReadable = true;
            parseUdpTable(text, port, false, result.holders);
        }
        if (readTable(procRoot + "/net/udp6", kMaxTableBytes, text)) {
            result.tableReadable = true;
            parseUdpTable(text, port, true, result.holders);
        }
        if (!result.holders.empty())
            nameProcesses(procRoot, result.holders);
    } catch (...) {
        // Out of memory while reading: what was found so far stands.
    }
    return result;
}

std::string portHolderCommand(uint16_t port)
{
    return "ss -ulpn 'sport = :" + std::to_string(port) + "'";
}
