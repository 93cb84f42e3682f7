#pragma once

// What the monitor asks the operating system, in one file a platform:
// systemprobes_linux.cpp, and systemprobes_other.cpp where nothing is known.

#include "portholder.h"

#include <string>
#include <vector>

// True when this process runs as root and so may bind ports below 1024.
bool runsPrivileged();

// True when path names a regular file this process may execute.
bool isExecutableFile(const std::string& path);

// Looks through the open descriptors of the processes under procRoot for the
// sockets of holders and fills in pid and program of those found. Looks at
// no more than kMaxProcesses processes and kMaxDescriptors descriptors.
void nameProcesses(const std::string& procRoot, std::vector<PortHolder>& holders);
