// The engine as the latency probe's publisher: RTMP (with its video track,
// which over RTMP is always on: black frames when no picture is set) or
// Icecast, PCM handed over with sendRawPCMData.

#include "pcm_publisher.h"

#include "engine/ondaline.h"

#include <atomic>

namespace ondaline::bench {

namespace {

struct LiveFlag : OndalineDelegate {
    std::atomic<bool> live{false};
    void ondalineDidConnect(Ondaline&) override { live = true; }
};

class EnginePublisher final : public PCMPublisher {
public:
    explicit EnginePublisher(const PublishTarget& target)
    {
        engine_->setDelegate(flag_);
        engine_->setStreamMode(target.rtmp ? StreamMode::rtmp : StreamMode::icecast);
        const std::string url = target.rtmp ? "rtmp://127.0.0.1:" + std::to_string(target.port) + "/live" : "";
        engine_->configure(url, target.name, 320000, 44100, 2);
        IcecastConfig icecast;
        icecast.host = "127.0.0.1";
        icecast.port = target.port;
        icecast.mountPoint = "/" + target.name;
        icecast.password = target.password;
        engine_->setIcecastConfig(icecast);
        engine_->connect();
    }

    bool live() const override { return flag_->live; }

    void send(const float* interleaved, std::size_t frames) override
    {
        engine_->sendRawPCMData(ByteView(reinterpret_cast<const std::uint8_t*>(interleaved),
                                         frames * 2 * sizeof(float)),
                                44100, 2);
    }

    void stop() override
    {
        engine_->disconnect();
        executor_->drain();
    }

private:
    std::shared_ptr<platform::QueueMainExecutor> executor_ = std::make_shared<platform::QueueMainExecutor>();
    std::shared_ptr<Ondaline> engine_ = Ondaline::create(executor_);
    std::shared_ptr<LiveFlag> flag_ = std::make_shared<LiveFlag>();
};

}  // namespace

std::unique_ptr<PCMPublisher> startEnginePublisher(const PublishTarget& target)
{
    return std::make_unique<EnginePublisher>(target);
}

}  // namespace ondaline::bench
