// The engine's RTMPS connection against nginx with a certificate of the
// test CA.

#include "engine/ondaline.h"

#include "support/log_capture.h"
#include "support/peer_env.h"
#include "support/recording_delegate.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace ondaline;
using test::RecordingDelegate;

namespace {

class OndalineTLS : public ::testing::Test {
protected:
    void SetUp() override
    {
        env_ = test::loadPeerEnv("rtmp");
        ASSERT_FALSE(env_.empty()) << "the rtmp peer is not running";
        setenv("SSL_CERT_FILE", env_["ONDALINE_TEST_CA"].c_str(), 1);
        engine_ = Ondaline::create(main_);
        engine_->setDelegate(delegate_);
    }
    void TearDown() override
    {
        if (engine_) engine_->disconnect();
        unsetenv("SSL_CERT_FILE");
    }

    std::map<std::string, std::string> env_;
    std::shared_ptr<platform::QueueMainExecutor> main_ = std::make_shared<platform::QueueMainExecutor>();
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<Ondaline> engine_;
};

}  // namespace

TEST_F(OndalineTLS, TrustedServerReachesTheHandshake)
{
    test::LogCapture log;
    engine_->configure(env_["ONDALINE_RTMPS_URL"], "key");
    engine_->connect();
    // A state report carries the state when it is delivered, so on a quick
    // link the handshake's may already read Live: the log has every step.
    ASSERT_TRUE(delegate_->waitFor("state:Live"));
    EXPECT_TRUE(log.contains("Ondaline: Connecting to localhost:" + env_["ONDALINE_RTMPS_PORT"] +
                             " app=live tls=true"));
    EXPECT_TRUE(log.contains("Ondaline: Handshake complete"));
    EXPECT_EQ(delegate_->count("state:Error"), 0);
}

TEST_F(OndalineTLS, UntrustedCertificateFailsWithAClearError)
{
    unsetenv("SSL_CERT_FILE");
    engine_->configure(env_["ONDALINE_RTMPS_URL"], "key");
    engine_->connect();
    ASSERT_TRUE(delegate_->waitFor(
        "error:Connection failed: TLS certificate not trusted: unable to get local issuer certificate"));
    EXPECT_EQ(delegate_->count("state:RTMP Handshake…"), 0);
}

TEST_F(OndalineTLS, CertificateForAnotherNameFailsWithAClearError)
{
    engine_->configure("rtmps://localhost:" + env_["ONDALINE_RTMPS_WRONG_NAME_PORT"] + "/live", "key");
    engine_->connect();
    ASSERT_TRUE(delegate_->waitFor("error:Connection failed: TLS certificate not trusted: hostname mismatch"));
}
