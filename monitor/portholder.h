#pragma once

// Finding the program that holds a UDP port, from the kernel's socket tables
// and the processes' open descriptors under /proc. Everything is bounded and
// nothing throws: what the system does not let us see stays unknown.

#include <cstdint>
#include <string>
#include <vector>

// One UDP socket bound to the port, and who holds it when visible.
struct PortHolder
{
    uint64_t inode = 0;
    uint32_t uid = 0;
    bool ipv6 = false;
    int pid = 0;         // 0 when no visible process holds the socket
    std::string program; // its command name (/proc/PID/comm), empty with pid 0
};

struct PortHolders
{
    bool tableReadable = false; // /proc/net/udp or udp6 could be read
    std::vector<PortHolder> holders;
    // Some sockets on the port whose process we could not see.
    bool someHidden() const;
};

// Appends to holders the sockets of text (the contents of /proc/net/udp, or
// of /proc/net/udp6 with ipv6 set) whose local port is port; pid and program
// stay empty. Lines that do not parse are skipped. At most kMaxHolders in all.
void parseUdpTable(const std::string& text, uint16_t port, bool ipv6,
                   std::vector<PortHolder>& holders);

// Reads both tables under procRoot and names the processes that hold the
// sockets found. Looks at no more than kMaxProcesses processes and
// kMaxDescriptors descriptors in all.
PortHolders findPortHolders(uint16_t port, const std::string& procRoot = "/proc");

// The command that names the holder when we cannot: ss -ulpn 'sport = :P'.
std::string portHolderCommand(uint16_t port);

constexpr size_t kMaxHolders = 64;
constexpr int kMaxProcesses = 100000;
constexpr int kMaxDescriptors = 1000000;
