// The socket helpers against the real Windows Sockets (Wine's).
#include "mivo/mivo.h"

#include <gtest/gtest.h>

namespace {

class MivoNet : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MIVO_NetStartup(), 1); }
    void TearDown() override { EXPECT_EQ(MIVO_NetShutdown(), 0); }
};

// Port a listening socket was given by the system.
int BoundPort(SOCKET s) {
    sockaddr_in addr = {};
    int len = sizeof addr;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
    return ntohs(addr.sin_port);
}

TEST_F(MivoNet, ArgumentErrorsGiveTheirCodes) {
    EXPECT_EQ(MIVO_NetCreateSocket(nullptr, nullptr, 80, MIVO_SOCKET_CLIENT), MIVO_NET_ERR_NO_HOST);
    EXPECT_EQ(MIVO_NetCreateSocket(nullptr, "localhost", 80, 3), MIVO_NET_ERR_MODE);
    EXPECT_EQ(MIVO_NetCreateSocket(nullptr, nullptr, 80, 0), MIVO_NET_ERR_MODE);
    EXPECT_EQ(MIVO_NetCreateSocket(nullptr, "no-such-host.invalid", 80, MIVO_SOCKET_CLIENT),
              MIVO_NET_ERR_RESOLVE);
}

TEST_F(MivoNet, ServerOnABoundPortFailsWithBindError) {
    sockaddr_in first = {};
    INT_PTR server = MIVO_NetCreateSocket(&first, nullptr, 0, MIVO_SOCKET_SERVER);
    ASSERT_GE(server, 0);
    const int port = BoundPort(static_cast<SOCKET>(server));
    ASSERT_GT(port, 0);

    EXPECT_EQ(MIVO_NetCreateSocket(nullptr, nullptr, port, MIVO_SOCKET_SERVER), MIVO_NET_ERR_BIND);
    EXPECT_EQ(MIVO_NetDestroySocket(static_cast<SOCKET>(server)), 0);
}

TEST_F(MivoNet, ClientModeFillsTheRecordAndServerAccepts) {
    sockaddr_in serverAddr = {};
    INT_PTR server = MIVO_NetCreateSocket(&serverAddr, nullptr, 0, MIVO_SOCKET_SERVER);
    ASSERT_GE(server, 0);
    EXPECT_EQ(serverAddr.sin_family, AF_INET);
    EXPECT_EQ(serverAddr.sin_addr.s_addr, htonl(INADDR_ANY));
    const int port = BoundPort(static_cast<SOCKET>(server));
    ASSERT_GT(port, 0);

    sockaddr_in addr;
    FillMemory(&addr, sizeof addr, 0xCD);  // prove the whole record is written
    INT_PTR client = MIVO_NetCreateSocket(&addr, "127.0.0.1", port, MIVO_SOCKET_CLIENT);
    ASSERT_GE(client, 0);
    EXPECT_EQ(addr.sin_family, AF_INET);
    EXPECT_EQ(ntohs(addr.sin_port), port);
    EXPECT_EQ(addr.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    for (char zero : addr.sin_zero) EXPECT_EQ(zero, 0);

    // The client socket comes back unconnected; the caller connects it.
    sockaddr_in peer = {};
    int len = sizeof peer;
    EXPECT_EQ(getpeername(static_cast<SOCKET>(client), reinterpret_cast<sockaddr*>(&peer), &len),
              SOCKET_ERROR);
    ASSERT_EQ(connect(static_cast<SOCKET>(client), reinterpret_cast<sockaddr*>(&addr), sizeof addr),
              0);
    SOCKET accepted = accept(static_cast<SOCKET>(server), nullptr, nullptr);
    ASSERT_NE(accepted, INVALID_SOCKET);

    const char ping[] = "ping";
    ASSERT_EQ(send(static_cast<SOCKET>(client), ping, sizeof ping, 0), int(sizeof ping));
    char got[sizeof ping] = {};
    ASSERT_EQ(recv(accepted, got, sizeof got, MSG_WAITALL), int(sizeof got));
    EXPECT_STREQ(got, "ping");

    EXPECT_EQ(MIVO_NetDestroySocket(accepted), 0);
    EXPECT_EQ(MIVO_NetDestroySocket(static_cast<SOCKET>(client)), 0);
    EXPECT_EQ(MIVO_NetDestroySocket(static_cast<SOCKET>(server)), 0);
}

TEST_F(MivoNet, ClientModeResolvesHostNames) {
    sockaddr_in addr = {};
    INT_PTR client = MIVO_NetCreateSocket(&addr, "localhost", 8080, MIVO_SOCKET_CLIENT);
    ASSERT_GE(client, 0);
    EXPECT_EQ(ntohs(addr.sin_port), 8080);
    EXPECT_EQ(addr.sin_addr.s_addr & 0xFF, 127u);  // first byte of a loopback address
    EXPECT_EQ(MIVO_NetDestroySocket(static_cast<SOCKET>(client)), 0);
}

TEST(MivoNetLifetime, DestroyingAClosedSocketFails) {
    ASSERT_EQ(MIVO_NetStartup(), 1);
    INT_PTR s = MIVO_NetCreateSocket(nullptr, "127.0.0.1", 1, MIVO_SOCKET_CLIENT);
    ASSERT_GE(s, 0);
    EXPECT_EQ(MIVO_NetDestroySocket(static_cast<SOCKET>(s)), 0);
    EXPECT_NE(MIVO_NetDestroySocket(static_cast<SOCKET>(s)), 0);
    EXPECT_EQ(MIVO_NetShutdown(), 0);
    // Clean-up without a matching start-up reports the Windows Sockets error.
    EXPECT_NE(MIVO_NetShutdown(), 0);
}

}  // namespace
