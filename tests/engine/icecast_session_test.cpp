// The engine's Icecast client against scripted servers: how the reply is
// read, and what follows each verdict.

#include "engine/ondaline.h"

#include "support/log_capture.h"
#include "support/recording_delegate.h"
#include "support/tcp_peer.h"

#include <gtest/gtest.h>

#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;
using namespace ondaline;
using test::RecordingDelegate;
using test::TCPPeer;

namespace {

class IcecastSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine_ = Ondaline::create(main_);
        engine_->setDelegate(delegate_);
        engine_->setStreamMode(StreamMode::icecast);
    }
    void TearDown() override
    {
        engine_->disconnect();
        peer_.reset();
    }

    // The server reads the SOURCE request, then plays `script`.
    void serve(std::function<void(int)> script)
    {
        peer_ = std::make_unique<TCPPeer>([script = std::move(script)](int s) {
            std::string request;
            std::uint8_t byte;
            while (request.find("\r\n\r\n") == std::string::npos && read(s, &byte, 1) == 1) request += char(byte);
            script(s);
        });
        IcecastConfig icecast;
        icecast.host = "127.0.0.1";
        icecast.port = peer_->port();
        icecast.password = "pw";
        engine_->setIcecastConfig(icecast);
        engine_->connect();
    }

    static void say(int s, const std::string& text) { TCPPeer::writeAll(s, Bytes(text.begin(), text.end())); }

    std::shared_ptr<platform::QueueMainExecutor> main_ = std::make_shared<platform::QueueMainExecutor>();
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<Ondaline> engine_;
    std::unique_ptr<TCPPeer> peer_;
};

}  // namespace

TEST_F(IcecastSession, EmptySettingsAreReportedBeforeConnecting)
{
    engine_->connect();
    ASSERT_TRUE(delegate_->waitFor("error:Icecast server host is empty"));
    EXPECT_EQ(delegate_->count("error:Icecast source password is empty"), 0);
    IcecastConfig icecast;
    icecast.host = "127.0.0.1";
    engine_->setIcecastConfig(icecast);
    engine_->connect();
    ASSERT_TRUE(delegate_->waitFor("error:Icecast source password is empty"));
}

// Each line the server sends is logged as a line of its own under our
// heading, so none of them passes for one of the program's.
TEST_F(IcecastSession, ReplySplitIntoPiecesIsReadToItsBlankLine)
{
    test::LogCapture log;
    serve([](int s) {
        for (const char* piece :
             {"HTTP/1.0 2", "00 OK\r\nServer: Icecast", " 2.4.4\r\nOndaline: Settings auto-saved\r\n", "\r\n"}) {
            say(s, piece);
            std::this_thread::sleep_for(30ms);
        }
        TCPPeer::readToEnd(s);
    });
    ASSERT_TRUE(delegate_->waitFor("connect"));
    for (const char* line : {"HTTP/1.0 200 OK", "Server: Icecast 2.4.4", "Ondaline: Settings auto-saved"})
        EXPECT_TRUE(log.contains(std::string("Ondaline: Icecast server response: ") + line)) << line;
    EXPECT_FALSE(log.contains("Ondaline: Settings auto-saved"));
    EXPECT_EQ(engine_->state(), StreamState::publishing);
}

TEST_F(IcecastSession, RefusalsAreReportedAndTheConnectionClosed)
{
    serve([](int s) {
        say(s, "HTTP/1.0 401 Authentication Required\r\nX-Note: 200\r\n\r\n");
        TCPPeer::readToEnd(s);  // returns once the engine closes the connection
    });
    ASSERT_TRUE(delegate_->waitFor("error:Icecast: Authentication failed — check password"));
    peer_->join();

    serve([](int s) {
        say(s, "HTTP/1.0 403 Forbidden\r\n" + std::string(5000, 'x'));  // oversized, never a blank line
        TCPPeer::readToEnd(s);
    });
    ASSERT_TRUE(delegate_->waitFor("error:Icecast: Mount point in use or forbidden"));
    peer_->join();

    serve([](int s) {
        say(s, "SOMETHING ELSE\r\n\r\n");
        TCPPeer::readToEnd(s);
    });
    ASSERT_TRUE(delegate_->waitFor("error:Icecast: Server rejected connection — SOMETHING ELSE\r\n\r\n"));
    peer_->join();

    serve([](int) {});  // hangs up without a word
    ASSERT_TRUE(delegate_->waitFor("error:Icecast: Empty response from server"));
}

TEST_F(IcecastSession, SlowReplyHitsTheTimeLimit)
{
    serve([](int s) {
        say(s, "HTTP/1.0 200 OK\r\n");  // and then nothing
        TCPPeer::readToEnd(s);
    });
    ASSERT_TRUE(delegate_->waitFor("error:Icecast: Failed to read response: timed out", 30s));
}

TEST_F(IcecastSession, LostStreamIsLoggedAndRetried)
{
    test::LogCapture log;
    serve([](int s) {
        say(s, "HTTP/1.0 200 OK\r\n\r\n");
        std::this_thread::sleep_for(200ms);
        say(s, "  server says hello \r\n");
        std::this_thread::sleep_for(200ms);
    });
    ASSERT_TRUE(delegate_->waitFor("retrying:Reconnecting (1/10)…"));
    EXPECT_TRUE(log.contains("Ondaline: Icecast server message: server says hello"));
    EXPECT_TRUE(log.contains("Ondaline: Icecast connection lost"));
}
