#include "portholder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

const char* const kUdpTable =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
    "timeout inode ref pointer drops\n"
    "  312: 0100007F:1388 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 "
    "4711 2 0000000000000000 0\n"
    "  313: 00000000:1389 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "4712 2 0000000000000000 0\n"
    "  314: 00000000:1388 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "0 2 0000000000000000 0\n"
    "  315: 00000000:1388 00000000:0000 07 00000000\n"
    "  316: 00000000:XYZ 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "4713 2 0000000000000000 0";
const char* const kUdp6Table =
    "  sl  local_address                         remote_address                        st "
    "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ref pointer drops\n"
    "   80: 00000000000000000000000000000000:1388 00000000000000000000000000000000:0000 07 "
    "00000000:00000000 00:00000000 00000000   123        0 9001 2 0000000000000000 0\n";

TEST(PortHolder, ParsesTheSocketTables)
{
    std::vector<PortHolder> holders;
    parseUdpTable(kUdpTable, 5000, false, holders);
    parseUdpTable(kUdp6Table, 5000, true, holders);
    // The header, another port, inode 0, a cut line and a bad port are passed over.
    ASSERT_EQ(holders.size(), 2u);
    EXPECT_EQ(holders[0].inode, 4711u);
    EXPECT_EQ(holders[0].uid, 1000u);
    EXPECT_FALSE(holders[0].ipv6);
    EXPECT_EQ(holders[1].inode, 9001u);
    EXPECT_EQ(holders[1].uid, 123u);
    EXPECT_TRUE(holders[1].ipv6);
    EXPECT_EQ(holders[1].pid, 0);
}

TEST(PortHolder, FindsThisProcessOnItsOwnSocket)
{
    if (access("/proc/net/udp", R_OK) != 0 || access("/proc/self/fd", R_OK) != 0)
        GTEST_SKIP() << "/proc is not readable here";
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);

    const PortHolders found = findPortHolders(ntohs(address.sin_port));
    close(fd);
    EXPECT_TRUE(found.tableReadable);
    ASSERT_EQ(found.holders.size(), 1u);
    EXPECT_EQ(found.holders[0].pid, int(getpid()));
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    EXPECT_EQ(found.holders[0].program, name);
    EXPECT_FALSE(found.someHidden());
}

} // namespace
