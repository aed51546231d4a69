// ffmpeg as the latency probe's publisher: bench/ffmpeg_mirror.sh with the
// PCM on its standard input, and over RTMP the engine's black video track
// unless told otherwise.

#include "pcm_publisher.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#ifndef ONDALINE_BENCH_DIR
#error "ONDALINE_BENCH_DIR names the folder of ffmpeg_mirror.sh"
#endif

namespace ondaline::bench {

namespace {

class FFmpegPublisher final : public PCMPublisher {
public:
    explicit FFmpegPublisher(const PublishTarget& target)
    {
        const std::string port = std::to_string(target.port);
        const std::string output = target.rtmp ? "rtmp://127.0.0.1:" + port + "/live/" + target.name
                                               : "icecast://source:" + target.password + "@127.0.0.1:" + port + "/" +
                                                     target.name;
        std::vector<std::string> words{"bash", ONDALINE_BENCH_DIR "/ffmpeg_mirror.sh", "stdin",
                                       target.rtmp && target.video ? "black" : "none", output};
        int pcm[2];
        if (::pipe(pcm) != 0) throw std::runtime_error("no pipe for ffmpeg");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("cannot start ffmpeg");
        if (pid_ == 0) {
            ::dup2(pcm[0], 0);
            ::close(pcm[0]);
            ::close(pcm[1]);
            if (const int quiet = ::open("/dev/null", O_WRONLY); quiet >= 0) ::dup2(quiet, 1);
            std::vector<char*> argv;
            for (auto& word : words) argv.push_back(word.data());
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pcm[0]);
        pcm_ = pcm[1];
    }

    ~FFmpegPublisher() override { stop(); }

    bool live() const override { return pid_ > 0; }

    void send(const float* interleaved, std::size_t frames) override
    {
        const auto* bytes = reinterpret_cast<const char*>(interleaved);
        std::size_t left = frames * 2 * sizeof(float);
        while (pcm_ >= 0 && left > 0) {
            const ssize_t written = ::write(pcm_, bytes, left);
            if (written <= 0) return;
            bytes += written;
            left -= static_cast<std::size_t>(written);
        }
    }

    void stop() override
    {
        if (pcm_ >= 0) ::close(pcm_);  // end of input: ffmpeg finishes the stream and exits
        pcm_ = -1;
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int pcm_ = -1;
};

}  // namespace

std::unique_ptr<PCMPublisher> startFFmpegPublisher(const PublishTarget& target)
{
    return std::make_unique<FFmpegPublisher>(target);
}

}  // namespace ondaline::bench
