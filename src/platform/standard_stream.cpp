#include "platform/standard_stream.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

namespace ondaline::platform {

namespace {

// One write(2) carries at most this much of the queue, whole entries.
constexpr std::size_t batchBytes = 64 * 1024;

}  // namespace

StandardStream& StandardStream::output()
{
    // Never destroyed: a writer still blocked on a stalled reader at exit
    // uses it until the process ends.
    static StandardStream* const stream = new StandardStream(STDOUT_FILENO, "standard output");
    return *stream;
}

StandardStream& StandardStream::error()
{
    static StandardStream* const stream = new StandardStream(STDERR_FILENO, "standard error");
    return *stream;
}

StandardStream::StandardStream(int fd, std::string_view name) : fd_(fd), name_(name) {}

void StandardStream::write(std::string_view text)
{
    if (text.empty()) return;
    std::unique_lock lock(lock_);
    if (readerGone_) return;
    if (!threadStarted_) {
        try {
            std::thread([this] { run(); }).detach();
            threadStarted_ = true;
        } catch (const std::system_error&) {
            // No thread to be had now: the line waits for the next try.
        }
    }
    if (queuedBytes_ + text.size() > capacityBytes) {
        if (!entries_.empty() && entries_.back().droppedLines > 0) {
            ++entries_.back().droppedLines;
        } else {
            entries_.push_back({{}, 1});
        }
        return;
    }
    // A writer that is busy takes this line with the next batch unwoken.
    const bool writerWaits = entries_.empty() && !writing_;
    entries_.push_back({std::string(text), 0});
    queuedBytes_ += text.size();
    lock.unlock();
    if (writerWaits) queued_.notify_one();
}

bool StandardStream::flush(std::chrono::milliseconds limit)
{
    std::unique_lock lock(lock_);
    return drained_.wait_for(lock, limit, [this] { return readerGone_ || (entries_.empty() && !writing_); });
}

void StandardStream::run()
{
    pthread_setname_np(pthread_self(), fd_ == STDOUT_FILENO ? "stdout writer" : "stderr writer");
    std::unique_lock lock(lock_);
    for (;;) {
        queued_.wait(lock, [this] { return !entries_.empty(); });
        const std::string batch = takeBatch();
        writing_ = true;
        lock.unlock();
        writeAll(batch);
        lock.lock();
        writing_ = false;
        if (readerGone_) {
            entries_.clear();
            queuedBytes_ = 0;
        }
        drained_.notify_all();
    }
}

std::string StandardStream::takeBatch()
{
    std::string batch;
    while (!entries_.empty()) {
        Entry& next = entries_.front();
        if (next.droppedLines > 0) {
            batch += droppedNote(next.droppedLines);
        } else {
            if (!batch.empty() && batch.size() + next.text.size() > batchBytes) break;
            queuedBytes_ -= next.text.size();
            batch += next.text;
        }
        entries_.pop_front();
    }
    return batch;
}

void StandardStream::writeAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Someone made the stream non-blocking; this thread may wait.
            pollfd writable{fd_, POLLOUT, 0};
            ::poll(&writable, 1, -1);
        } else if (errno == EPIPE) {
            const std::lock_guard lock(lock_);
            readerGone_ = true;
            return;
        } else if (errno != EINTR) {
            return;  // closed, out of space: this batch is dropped
        }
    }
}

std::string StandardStream::droppedNote(std::uint64_t lines) const
{
    return "Ondaline: " + std::to_string(lines) + (lines == 1 ? " line was" : " lines were") + " not written to " +
           name_ + " while it was not read" + (fd_ == STDOUT_FILENO ? " — see the Activity page" : "") +
           std::string("\n");
}

StandardStreamsFlushedAtExit::~StandardStreamsFlushedAtExit()
{
    const auto deadline = std::chrono::steady_clock::now() + limit_;
    auto left = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max(deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero()));
    };
    StandardStream::output().flush(left());
    StandardStream::error().flush(left());
}

}  // namespace ondaline::platform
