#include "systemprobes.h"

#include "filehelpers.h"
#include "printabletext.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

namespace {

constexpr size_t kMaxProgramName = 64;

template <typename Number> bool parseDecimal(const char* first, const char* last, Number& value)
{
    auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && first != last;
}

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

std::string processName(const std::string& processPath)
{
    ReadOptions options;
    options.maxBytes = kMaxProgramName;
    options.cutAtLimit = true;
    std::string comm;
    int errorCode = 0;
    readRegularFile(processPath + "/comm", options, comm, errorCode);
    while (!comm.empty() && comm.back() == '\n')
        comm.pop_back();
    // A program may give itself any name, terminal escapes included.
    return printableText(comm);
}

} // namespace

bool runsPrivileged()
{
    return ::geteuid() == 0;
}

bool isExecutableFile(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

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
                !parseDecimal(target + 8, target + n - 1, inode))
                continue;
            for (PortHolder& holder : holders) {
                if (holder.inode != inode || holder.pid != 0)
                    continue;
                int pid = 0;
                parseDecimal(entry->d_name, entry->d_name + std::strlen(entry->d_name), pid);
                holder.pid = pid;
                holder.program = processName(processPath);
                --unnamed;
            }
        }
        closedir(fds);
    }
    closedir(proc);
}
