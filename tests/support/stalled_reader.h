#pragma once

// Readers of a program's output that stay but stop reading: a terminal
// paused with Ctrl+S, and a pipe that is full and never read. A child
// process is pointed at one by the path it gives.

#include <chrono>
#include <string>

namespace ondaline::test {

// A pseudo-terminal whose keyboard the test holds, as a terminal emulator
// holds it.
class Terminal {
public:
    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool opened() const { return master_ >= 0 && slave_ >= 0; }
    // The terminal's device, for a child's redirections.
    const std::string& path() const { return path_; }

    void pressCtrlS();  // output stops: every write to the terminal waits
    void pressCtrlQ();  // output goes on

    // What the terminal received, read until `text` is among it or `limit`
    // has passed.
    std::string readUntil(const std::string& text, std::chrono::milliseconds limit);

private:
    void press(char key);

    int master_ = -1;
    int slave_ = -1;  // held, so that the terminal keeps its state between the child's opens
    std::string path_;
};

// A pipe filled to the brim that nobody reads until the test ends.
class FullPipe {
public:
    FullPipe();
    ~FullPipe();
    FullPipe(const FullPipe&) = delete;
    FullPipe& operator=(const FullPipe&) = delete;

    bool opened() const { return readEnd_ >= 0; }
    // The writing end as this process's /proc entry: a child that opens it
    // writes into this very pipe.
    std::string path() const;

private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
};

}  // namespace ondaline::test
