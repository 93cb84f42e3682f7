#include "filehelpers.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

// Windows has no FIFOs to hang an open and no links that a plain open
// follows unawares; the checks that matter are the file's type, the caps and
// creating without replacing.

namespace {

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const size_t left = text.size() - done;
        const int n = ::_write(fd, text.data() + done, unsigned(left > 1u << 30 ? 1u << 30 : left));
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool isRegular(int fd)
{
    struct _stat64 info = {};
    return ::_fstat64(fd, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
}

constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;

} // namespace

FileResult readRegularFile(const std::string& path, const ReadOptions& options, std::string& text,
                           int& errorCode)
{
    text.clear();
    const int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        errorCode = errno;
        return FileResult::Failed;
    }
    FileResult result = isRegular(fd) ? FileResult::Ok : FileResult::NotRegular;
    while (result == FileResult::Ok) {
        char chunk[65536];
        const int n = ::_read(fd, chunk, sizeof chunk);
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
    ::_close(fd);
    if (result != FileResult::Ok)
        text.clear();
    return result;
}

std::FILE* createNewFile(const std::string& path, FileResult& result, int& errorCode)
{
    const int fd = ::_open(path.c_str(), kCreateFlags, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        errorCode = errno;
        result = errno == EEXIST ? FileResult::Exists : FileResult::Failed;
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "wb");
    if (!file) {
        errorCode = errno;
        result = FileResult::Failed;
        ::_close(fd);
        ::_unlink(path.c_str());
        return nullptr;
    }
    result = FileResult::Ok;
    return file;
}

FileResult writeNewFile(const std::string& path, const std::string& text, int& errorCode)
{
    const int fd = ::_open(path.c_str(), kCreateFlags, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        errorCode = errno;
        return errno == EEXIST ? FileResult::Exists : FileResult::Failed;
    }
    const bool ok = writeAll(fd, text);
    const int saved = errno;
    if (::_close(fd) != 0 || !ok) {
        errorCode = ok ? errno : saved;
        ::_unlink(path.c_str());
        return FileResult::Failed;
    }
    return FileResult::Ok;
}

FileResult appendRecord(const std::string& path, const std::string& header,
                        const std::string& record, int& errorCode)
{
    const int fd =
        ::_open(path.c_str(), _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        errorCode = errno;
        return FileResult::Failed;
    }
    if (!isRegular(fd)) {
        ::_close(fd);
        return FileResult::NotRegular;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    OVERLAPPED whole = {};
    bool locked = false;
    for (int i = 0; i < 200 && !locked; ++i) {
        locked = ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                              MAXDWORD, MAXDWORD, &whole) != 0;
        if (!locked)
            ::Sleep(10);
    }
    if (!locked) {
        ::_close(fd);
        return FileResult::Locked;
    }
    FileResult result = FileResult::Ok;
    const __int64 size = ::_lseeki64(fd, 0, SEEK_END);
    bool ok = size >= 0;
    std::string text;
    if (ok && size == 0) {
        text = header + record;
    } else if (ok) {
        char last = 0;
        ok = ::_lseeki64(fd, size - 1, SEEK_SET) >= 0 && ::_read(fd, &last, 1) == 1 &&
             ::_lseeki64(fd, 0, SEEK_END) >= 0;
        text = last == '\n' ? record : "\n" + record;
    }
    if (ok && !writeAll(fd, text)) {
        ok = false;
        const int saved = errno;
        if (::_chsize_s(fd, size) != 0)
            result = FileResult::PartLeft;
        errno = saved;
    }
    const int saved = errno;
    ::UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
    if (::_close(fd) != 0 || !ok) {
        errorCode = ok ? errno : saved;
        return result == FileResult::Ok ? FileResult::Failed : result;
    }
    return FileResult::Ok;
}

PathKind pathKind(const std::string& path)
{
    struct _stat64 info = {};
    if (::_stat64(path.c_str(), &info) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Unknown;
    return (info.st_mode & _S_IFMT) == _S_IFREG ? PathKind::Regular : PathKind::Other;
}

bool isWritableFolder(const std::string& path)
{
    struct _stat64 info = {};
    return ::_stat64(path.c_str(), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFDIR &&
           ::_access(path.c_str(), 2) == 0;
}

std::string fileErrorText(int errorCode)
{
    return std::strerror(errorCode);
}
