// Loopback TCP sockets: connect, send and receive with their time-outs, orderly close, refused
// connections, accept time-outs and moves. Every wait is bounded by the socket's own time-out.
#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

namespace {

using velmora::platform::TcpSocket;

constexpr uint32_t kTimeoutMs = 5000;

// A listening socket on an ephemeral loopback port and one accepted connection to it.
struct Pair {
    TcpSocket server, client, peer;
    bool Make() {
        if (!server.Listen("127.0.0.1", 0) || server.LocalPort() == 0) return false;
        if (!client.Connect("127.0.0.1", server.LocalPort(), kTimeoutMs)) return false;
        return server.Accept(&peer, kTimeoutMs);
    }
};

std::string ReceiveExactly(TcpSocket& socket, size_t size) {
    std::string data;
    char buffer[4096];
    while (data.size() < size) {
        long n = socket.Receive(buffer, std::min(sizeof(buffer), size - data.size()), kTimeoutMs);
        if (n <= 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

TEST(PlatformSocketTest, CarriesBytesBothWays) {
    Pair pair;
    ASSERT_TRUE(pair.Make());
    EXPECT_TRUE(pair.client.IsOpen());
    EXPECT_TRUE(pair.peer.IsOpen());
    const std::string request = "GET /control/faststream.jpg HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(pair.client.SendAll(request.data(), request.size(), kTimeoutMs));
    EXPECT_EQ(ReceiveExactly(pair.peer, request.size()), request);
    // More than the socket buffers hold at once: SendAll must keep going while the peer reads.
    std::string big(4u << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    std::string received;
    std::thread reader([&] { received = ReceiveExactly(pair.client, big.size()); });
    EXPECT_TRUE(pair.peer.SendAll(big.data(), big.size(), kTimeoutMs));
    reader.join();
    EXPECT_TRUE(received == big) << "received " << received.size() << " of " << big.size() << " bytes";
}

TEST(PlatformSocketTest, ReceiveReportsTimeOutAndOrderlyClose) {
    Pair pair;
    ASSERT_TRUE(pair.Make());
    char buffer[16];
    EXPECT_EQ(pair.client.Receive(buffer, sizeof(buffer), 20), -2) << "nothing sent yet";
    EXPECT_FALSE(pair.client.WaitReadable(20));
    EXPECT_FALSE(pair.client.LooksClosed()) << "idle but open";
    pair.peer.ShutdownWrite();
    EXPECT_TRUE(pair.client.WaitReadable(kTimeoutMs));
    EXPECT_TRUE(pair.client.LooksClosed());
    EXPECT_EQ(pair.client.Receive(buffer, sizeof(buffer), kTimeoutMs), 0) << "orderly close";
}

TEST(PlatformSocketTest, ClosedSocketRefusesEverything) {
    TcpSocket socket;
    char buffer[4] = {};
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(socket.Receive(buffer, sizeof(buffer), 0), -1);
    EXPECT_FALSE(socket.SendAll("x", 1, 0));
    EXPECT_FALSE(socket.WaitReadable(0));
    EXPECT_TRUE(socket.LooksClosed());
    EXPECT_EQ(socket.LocalPort(), 0);
    TcpSocket accepted;
    EXPECT_FALSE(socket.Accept(&accepted, 0));
    socket.ShutdownWrite();
    socket.Close();
}

TEST(PlatformSocketTest, ConnectToAClosedPortFails) {
    // Take a free port, then close the listener so nothing answers there.
    uint16_t port = 0;
    {
        TcpSocket listener;
        ASSERT_TRUE(listener.Listen("127.0.0.1", 0));
        port = listener.LocalPort();
    }
    TcpSocket client;
    EXPECT_FALSE(client.Connect("127.0.0.1", port, kTimeoutMs));
    EXPECT_FALSE(client.IsOpen());
}

TEST(PlatformSocketTest, AcceptTimesOutWithoutClient) {
    TcpSocket server;
    ASSERT_TRUE(server.Listen("127.0.0.1", 0));
    TcpSocket client;
    EXPECT_FALSE(server.Accept(&client, 20));
    EXPECT_FALSE(client.IsOpen());
    TcpSocket second;
    EXPECT_FALSE(second.Listen("not-an-address", 0));
}

TEST(PlatformSocketTest, SendToAPeerThatWentAwayFails) {
    Pair pair;
    ASSERT_TRUE(pair.Make());
    pair.peer.Close();
    // The first sends may still be buffered; a later one must report the reset, not raise SIGPIPE.
    std::string chunk(64 * 1024, 'x');
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) failed = !pair.client.SendAll(chunk.data(), chunk.size(), 1000);
    EXPECT_TRUE(failed);
}

TEST(PlatformSocketTest, MovesTransferTheConnection) {
    Pair pair;
    ASSERT_TRUE(pair.Make());
    TcpSocket moved(std::move(pair.client));
    EXPECT_FALSE(pair.client.IsOpen());
    ASSERT_TRUE(moved.IsOpen());
    TcpSocket assigned;
    assigned = std::move(moved);
    EXPECT_FALSE(moved.IsOpen());
    ASSERT_TRUE(assigned.SendAll("ok", 2, kTimeoutMs));
    EXPECT_EQ(ReceiveExactly(pair.peer, 2), "ok");
}

}  // namespace
