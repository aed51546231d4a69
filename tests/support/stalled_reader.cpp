#include "support/stalled_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace ondaline::test {

namespace {

constexpr char ctrlS = 0x13, ctrlQ = 0x11;

}  // namespace

Terminal::Terminal()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    std::array<char, 64> name{};
    if (::ptsname_r(master_, name.data(), name.size()) != 0) return;
    path_ = name.data();
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

Terminal::~Terminal()
{
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

void Terminal::pressCtrlS() { press(ctrlS); }
void Terminal::pressCtrlQ() { press(ctrlQ); }

void Terminal::press(char key) { [[maybe_unused]] const auto written = ::write(master_, &key, 1); }

std::string Terminal::readUntil(const std::string& text, std::chrono::milliseconds limit)
{
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (received.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd readable{master_, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
        std::array<char, 65536> buffer;
        const ssize_t n = ::read(master_, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        received.append(buffer.data(), static_cast<std::size_t>(n));
    }
    return received;
}

FullPipe::FullPipe()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    const std::array<char, 4096> filler{};
    while (::write(writeEnd_, filler.data(), filler.size()) > 0) {
    }
    // Writes by the child block, as they would on any pipe.
    ::fcntl(writeEnd_, F_SETFL, 0);
}

FullPipe::~FullPipe()
{
    if (writeEnd_ >= 0) ::close(writeEnd_);
    if (readEnd_ >= 0) ::close(readEnd_);
}

std::string FullPipe::path() const
{
    return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(writeEnd_);
}

}  // namespace ondaline::test
