#pragma once

// The file operations that the readers and writers of profiles, reports,
// captures, the configuration and the system's tables share. One
// implementation a platform (filehelpers_posix.cpp, filehelpers_windows.cpp);
// nothing above this layer calls open, fstat or flock itself.

#include <cstddef>
#include <cstdio>
#include <string>

enum class FileResult
{
    Ok,         // done
    NotRegular, // a folder, FIFO, device or (where links are refused) a link stands there
    TooLarge,   // the file holds more than the cap
    Exists,     // something stands under the name already; nothing was created
    Locked,     // another program held the file's lock for longer than a write takes
    PartLeft,   // an append failed and a part of the record could not be taken back
    Failed,     // the system refused; the error code says why
};

struct ReadOptions
{
    size_t maxBytes = 0;
    bool followLinks = true;
    // A longer file gives its first maxBytes bytes and Ok instead of TooLarge.
    bool cutAtLimit = false;
};

// Reads the regular file at path whole. Opens without blocking, so that a
// FIFO under the name cannot hang the call, and checks the type of what was
// opened. errorCode receives errno's value with Failed and PartLeft.
FileResult readRegularFile(const std::string& path, const ReadOptions& options, std::string& text,
                           int& errorCode);

// Creates path as a new file for writing and never opens an existing one, a
// link included (Exists). The caller closes the stream; nullptr on failure.
std::FILE* createNewFile(const std::string& path, FileResult& result, int& errorCode);

// Creates path with text as its content; a file that could not be written
// whole is removed again.
FileResult writeNewFile(const std::string& path, const std::string& text, int& errorCode);

// Appends record to the regular file at path (created when missing) whole or
// not at all, on a line of its own: an empty file first gets header, a last
// line without its line end gets one. Holds the file's lock while it writes,
// so that two programs appending at once do not mix their records; waits
// about two seconds for it at the most.
FileResult appendRecord(const std::string& path, const std::string& header,
                        const std::string& record, int& errorCode);

enum class PathKind
{
    Missing, // nothing stands under the name
    Regular, // a regular file, or a link to one
    Other,   // a folder, FIFO, device, or a link to nothing or to one of those
    Unknown, // the system would not say (a folder that may not be searched)
};

PathKind pathKind(const std::string& path);

// True when path is a folder this user may create files in.
bool isWritableFolder(const std::string& path);

// The system's words for errorCode (strerror).
std::string fileErrorText(int errorCode);
