#pragma once

// Lets this process write no file beyond a size while it lives, as a disk
// that fills up stops a write: the write comes up short, then fails with
// EFBIG instead of raising SIGXFSZ.

#include <signal.h>
#include <sys/resource.h>

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &before);
        signalBefore = ::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = before;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &before);
        ::signal(SIGXFSZ, signalBefore);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit before = {};
    sighandler_t signalBefore = SIG_DFL;
};
