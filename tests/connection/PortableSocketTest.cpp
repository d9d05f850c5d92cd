#include "connection/PortableSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(PortableSocket, ASendAfterThePeerResetOrClosedIsAReset) {
    const CSocketLibrary library;
    for (const bool reset : {true, false}) {
        std::string error;
        CPortableSocket listener = CPortableSocket::Listen("127.0.0.1", 0, error);
        ASSERT_TRUE(listener.IsOpen()) << error;
        ConnectFailure failure = ConnectFailure::None;
        CPortableSocket client =
            CPortableSocket::Connect("127.0.0.1", listener.LocalPort(), 5000, failure, error);
        ASSERT_TRUE(client.IsOpen()) << error;
        SocketWait wait{&listener, true, false};
        ASSERT_EQ(WaitForSockets(std::span<SocketWait>(&wait, 1), 5000), 1);
        std::string name;
        CPortableSocket peer = listener.Accept(name);
        ASSERT_TRUE(peer.IsOpen());
        if (reset) {
            peer.Reset();
        } else {
            peer.Close();
        }
        // The first sends after a close may still be taken; the peer's system answers them
        // with a reset, which the next send reports.
        const std::uint8_t byte = 1;
        SocketIo io = SocketIo::Done;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (io == SocketIo::Done && std::chrono::steady_clock::now() < deadline) {
            std::size_t sent = 0;
            io = client.Send(&byte, 1, sent);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(io, SocketIo::Reset) << (reset ? "after a reset" : "after a close");
    }
}
