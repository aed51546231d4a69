#pragma once

#include <unistd.h>

#include <utility>

namespace ondaline::platform {

// Owns an open file descriptor and closes it when it goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }

    void reset(int fd = -1)
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace ondaline::platform
