// TLS against nginx's stream module with a certificate from the test CA.

#include "platform/net/connection.h"

#include "platform/dispatch/serial_queue.h"
#include "support/connection_probe.h"
#include "support/peer_env.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace ondaline;
using platform::Connection;
using platform::ConnectionOptions;
using test::ConnectionProbe;
using Kind = ConnectionProbe::Kind;

namespace {

class ConnectionTLS : public ::testing::Test {
protected:
    void SetUp() override
    {
        env_ = test::loadPeerEnv("rtmp");
        ASSERT_FALSE(env_.empty()) << "the rtmp peer is not running";
        setenv("SSL_CERT_FILE", env_["ONDALINE_TEST_CA"].c_str(), 1);
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    // Connects with TLS and returns the notices up to ready or failed.
    ConnectionProbe& connect(const std::string& host, const std::string& portKey)
    {
        ConnectionOptions options;
        options.useTLS = true;
        connection_ = std::make_shared<Connection>(host, static_cast<std::uint16_t>(std::stoi(env_[portKey])), options);
        connection_->setStateHandler(probe_.handler());
        connection_->start(queue_);
        return probe_;
    }

    std::map<std::string, std::string> env_;
    ConnectionProbe probe_;  // outlives the queue that reports to it
    platform::SerialQueue queue_{"com.example.tls"};
    std::shared_ptr<Connection> connection_;
};

}  // namespace

TEST_F(ConnectionTLS, VerifiesTheChainAndTheNameOrAddress)
{
    ASSERT_TRUE(connect("localhost", "ONDALINE_RTMPS_PORT").waitFor(Kind::ready)) << probe_.lastError();
    connection_->cancel();
    ASSERT_TRUE(probe_.waitFor(Kind::cancelled));
}

TEST_F(ConnectionTLS, AcceptsTheAddressNamedInTheCertificate)
{
    ASSERT_TRUE(connect("127.0.0.1", "ONDALINE_RTMPS_PORT").waitFor(Kind::ready)) << probe_.lastError();
}

TEST_F(ConnectionTLS, RefusesACertificateForAnotherName)
{
    ASSERT_TRUE(connect("localhost", "ONDALINE_RTMPS_WRONG_NAME_PORT").waitFor(Kind::failed));
    EXPECT_EQ(probe_.lastError(), "TLS certificate not trusted: hostname mismatch");
}

TEST_F(ConnectionTLS, RefusesAChainTheSystemDoesNotTrust)
{
    unsetenv("SSL_CERT_FILE");
    ASSERT_TRUE(connect("localhost", "ONDALINE_RTMPS_PORT").waitFor(Kind::failed));
    EXPECT_EQ(probe_.lastError(), "TLS certificate not trusted: unable to get local issuer certificate");
}
