#pragma once

// TCP server side used by the command peer: listening, accepting, bounded
// reads and sends with a time limit, and a wake-up pipe that ends a wait from
// another thread. Descriptors are plain ints, -1 when absent. Nothing throws.

#include <cstddef>
#include <cstdint>
#include <string>

// Listens on address (dotted IPv4) and port; 0 lets the system choose, and
// port then receives the chosen one. Returns the descriptor, or -1 with a
// readable reason in error.
int netTcpListen(const std::string& address, uint16_t& port, std::string& error);
// Accepts one waiting connection; -1 when none could be taken.
int netTcpAccept(int listenFd);
// One read of at most size bytes without blocking: the byte count, 0 when
// the peer closed, -1 on failure or when nothing was waiting.
long netTcpRecv(int fd, char* buffer, size_t size);
// Sends every byte, waiting at most timeoutMs for the peer to take each part.
bool netTcpSendAll(int fd, const char* data, size_t length, int timeoutMs);
// Waits until one of the count descriptors is readable (or closed), or
// timeoutMs has passed (-1: no limit); ready[i] tells which. Returns how
// many are ready, 0 on timeout, -1 on failure.
int netWaitReadable(const int* fds, bool* ready, size_t count, int timeoutMs);
// A pipe whose write end wakes a netWaitReadable on its read end.
bool netWakePipe(int& readFd, int& writeFd);
void netWake(int writeFd);
void netDrainWake(int readFd);
void netCloseFd(int fd);
