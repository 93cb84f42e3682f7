#include "filehelpers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// A program that keeps the lock longer than attempts times 10 ms makes the
// append fail rather than hang.
bool lockWithin(int fd, int attempts)
{
    for (int i = 0; i < attempts; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        const timespec pause = {0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    return false;
}

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;

} // namespace

FileResult readRegularFile(const std::string& path, const ReadOptions& options, std::string& text,
                           int& errorCode)
{
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY |
                                            (options.followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        errorCode = errno;
        return FileResult::Failed;
    }
    FileResult result = FileResult::Ok;
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        errorCode = errno;
        result = FileResult::Failed;
    } else if (!S_ISREG(info.st_mode)) {
        result = FileResult::NotRegular;
    } else if (!options.cutAtLimit && info.st_size > 0 &&
               uint64_t(info.st_size) > uint64_t(options.maxBytes)) {
        result = FileResult::TooLarge;
    }
    // The size fstat gives is not trusted: the file may grow, and the
    // system's tables under /proc say 0.
    while (result == FileResult::Ok) {
        char chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            errorCode = errno;
            result = FileResult::Failed;
        } else if (n == 0) {
            break;
        } else if (text.size() + size_t(n) > options.maxBytes) {
            if (options.cutAtLimit)
                text.append(chunk, options.maxBytes - text.size());
            else
                result = FileResult::TooLarge;
            break;
        } else {
            text.append(chunk, size_t(n));
        }
    }
    ::close(fd);
    if (result != FileResult::Ok)
        text.clear();
    return result;
}

std::FILE* createNewFile(const std::string& path, FileResult& result, int& errorCode)
{
    const int fd = ::open(path.c_str(), kCreateFlags, 0644);
    if (fd < 0) {
        errorCode = errno;
        result = errno == EEXIST ? FileResult::Exists : FileResult::Failed;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        errorCode = errno;
        result = FileResult::Failed;
        ::close(fd);
        ::unlink(path.c_str());
        return nullptr;
    }
    result = FileResult::Ok;
    return file;
}

FileResult writeNewFile(const std::string& path, const std::string& text, int& errorCode)
{
    const int fd = ::open(path.c_str(), kCreateFlags, 0644);
    if (fd < 0) {
        errorCode = errno;
        return errno == EEXIST ? FileResult::Exists : FileResult::Failed;
    }
    const bool ok = writeAll(fd, text);
    const int saved = errno;
    if (::close(fd) != 0 || !ok) {
        errorCode = ok ? errno : saved;
        ::unlink(path.c_str());
        return FileResult::Failed;
    }
    return FileResult::Ok;
}

FileResult appendRecord(const std::string& path, const std::string& header,
                        const std::string& record, int& errorCode)
{
    struct stat before = {};
    if (::lstat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode))
        return FileResult::NotRegular;
    // Non-blocking in case a FIFO takes the file's place in between; the
    // type is checked once more on what was opened.
    const int fd =
        ::open(path.c_str(),
               O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        errorCode = errno;
        return errno == ELOOP ? FileResult::NotRegular : FileResult::Failed;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        errorCode = errno;
        const FileResult result = info.st_mode == 0 ? FileResult::Failed : FileResult::NotRegular;
        ::close(fd);
        return result;
    }
    if (!lockWithin(fd, 200)) {
        ::close(fd);
        return FileResult::Locked;
    }
    // The size under the lock is what a failed append goes back to.
    FileResult result = FileResult::Ok;
    bool ok = ::fstat(fd, &info) == 0;
    std::string text;
    if (ok && info.st_size == 0) {
        text = header + record;
    } else if (ok) {
        char last = 0;
        ok = ::pread(fd, &last, 1, info.st_size - 1) == 1;
        text = last == '\n' ? record : "\n" + record;
    }
    if (ok && !writeAll(fd, text)) {
        ok = false;
        const int saved = errno;
        if (::ftruncate(fd, info.st_size) != 0)
            result = FileResult::PartLeft;
        errno = saved;
    }
    const int saved = errno;
    if (::close(fd) != 0 || !ok) {
        errorCode = ok ? errno : saved;
        return result == FileResult::Ok ? FileResult::Failed : result;
    }
    return FileResult::Ok;
}

PathKind pathKind(const std::string& path)
{
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Unknown;
    if (S_ISLNK(info.st_mode) && ::stat(path.c_str(), &info) != 0)
        return PathKind::Other; // dangling, or a loop of links
    return S_ISREG(info.st_mode) ? PathKind::Regular : PathKind::Other;
}

bool isWritableFolder(const std::string& path)
{
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::string fileErrorText(int errorCode)
{
    return std::strerror(errorCode);
}
