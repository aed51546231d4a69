#pragma once

// Standard output and standard error as copies for whoever reads them.
//
// A reader that stays but stops reading (a terminal paused with Ctrl+S,
// `| less` not scrolled, a stalled journal) would block every write(2) to
// it, and with it the thread that logs: the stream's or the window's. Here a
// caller only queues its text; one writer thread per stream waits on the
// reader instead. The queue is bounded: when it is full, new lines are
// dropped and counted, and once the reader takes output again one line says
// how many it missed, where they would have been.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace ondaline::platform {

class StandardStream {
public:
    // What may wait for a stalled reader, per stream: about ten thousand of
    // the program's lines, a day of a quiet stream's log, and little memory
    // beside the frames the program keeps.
    static constexpr std::size_t capacityBytes = std::size_t{1} << 20;

    static StandardStream& output();  // standard output
    static StandardStream& error();   // standard error

    StandardStream(const StandardStream&) = delete;
    StandardStream& operator=(const StandardStream&) = delete;

    // Queues `text`, whole lines, and returns at once. Dropped, and counted
    // as lines, when the queue has no room for it; dropped silently once the
    // reader has gone (a pipe into `head` that exited), as nobody will read
    // this stream again.
    void write(std::string_view text);

    // Waits until everything queued has reached the reader, or the reader
    // has gone, but no longer than `limit`. True when nothing is left.
    bool flush(std::chrono::milliseconds limit);

private:
    struct Entry {
        std::string text;
        std::uint64_t droppedLines = 0;  // a note of lines dropped here, instead of text
    };

    StandardStream(int fd, std::string_view name);

    void run();
    std::string takeBatch();  // under lock_
    void writeAll(std::string_view bytes);
    std::string droppedNote(std::uint64_t lines) const;

    const int fd_;
    const std::string name_;  // "standard output"

    std::mutex lock_;
    std::condition_variable queued_;
    std::condition_variable drained_;
    std::deque<Entry> entries_;
    std::size_t queuedBytes_ = 0;
    bool writing_ = false;     // the writer holds a batch that has not reached the reader yet
    bool readerGone_ = false;  // EPIPE: nobody reads this stream again
    bool threadStarted_ = false;
};

// Flushes both streams within one bound, `limit`, when it goes, on every way
// out of main: a reader that does not take its output by then does not hold
// up the exit.
class StandardStreamsFlushedAtExit {
public:
    explicit StandardStreamsFlushedAtExit(std::chrono::milliseconds limit) : limit_(limit) {}
    ~StandardStreamsFlushedAtExit();
    StandardStreamsFlushedAtExit(const StandardStreamsFlushedAtExit&) = delete;
    StandardStreamsFlushedAtExit& operator=(const StandardStreamsFlushedAtExit&) = delete;

private:
    const std::chrono::milliseconds limit_;
};

}  // namespace ondaline::platform
