#include "portholder.h"

#include "printabletext.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#if defined(__linux__)
#include <dirent.h>
#include <unistd.h>
#endif

namespace {

// A socket table of a busy server runs to some megabytes; beyond this the
// rest is not read.
constexpr size_t kMaxTableBytes = 16u << 20;
constexpr size_t kMaxProgramName = 64;

bool readFile(const std::string& path, size_t limit, std::string& text)
{
    text.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char chunk[65536];
    size_t n = 0;
    while (text.size() < limit && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, std::min(n, limit - text.size()));
    std::fclose(file);
    return true;
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

#if defined(__linux__)
bool isNumber(const char* name)
{
    if (!*name)
        return false;
    for (const char* p = name; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
    }
    return true;
}

// Looks through the open descriptors of the processes for the sockets of
// holders and fills in pid and program of those found.
void nameProcesses(const std::string& procRoot, std::vector<PortHolder>& holders)
{
    DIR* proc = opendir(procRoot.c_str());
    if (!proc)
        return;
    size_t unnamed = holders.size();
    int processes = 0;
    int descriptors = 0;
    while (unnamed > 0 && processes < kMaxProcesses && descriptors < kMaxDescriptors) {
        const dirent* entry = readdir(proc);
        if (!entry)
            break;
        if (!isNumber(entry->d_name))
            continue;
        ++processes;
        const std::string processPath = procRoot + "/" + entry->d_name;
        DIR* fds = opendir((processPath + "/fd").c_str());
        if (!fds)
            continue;
        while (unnamed > 0 && descriptors < kMaxDescriptors) {
            const dirent* fd = readdir(fds);
            if (!fd)
                break;
            if (!isNumber(fd->d_name))
                continue;
            ++descriptors;
            char target[64];
            const ssize_t n =
                readlink((processPath + "/fd/" + fd->d_name).c_str(), target, sizeof target - 1);
            if (n <= 0)
                continue;
            target[n] = '\0';
            uint64_t inode = 0;
            if (std::strncmp(target, "socket:[", 8) != 0 || target[n - 1] != ']' ||
                !parseNumber(std::string(target + 8, size_t(n) - 9), 10, inode))
                continue;
            for (PortHolder& holder : holders) {
                if (holder.inode != inode || holder.pid != 0)
                    continue;
                int pid = 0;
                parseNumber(entry->d_name, 10, pid);
                holder.pid = pid;
                std::string comm;
                readFile(processPath + "/comm", kMaxProgramName, comm);
                while (!comm.empty() && comm.back() == '\n')
                    comm.pop_back();
                // A program may give itself any name, terminal escapes included.
                holder.program = printableText(comm);
                --unnamed;
            }
        }
        closedir(fds);
    }
    closedir(proc);
}
#else
void nameProcesses(const std::string&, std::vector<PortHolder>&) {}
#endif

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
        if (readFile(procRoot + "/net/udp", kMaxTableBytes, text)) {
            result.tableReadable = true;
            parseUdpTable(text, port, false, result.holders);
        }
        if (readFile(procRoot + "/net/udp6", kMaxTableBytes, text)) {
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
