// The lock every test run on the machine takes for what they share: another
// user takes it whatever umask its maker had, a run that must wait says so,
// and a lock file it cannot open is a failure that says why, never a run
// going on without the lock.

#include "support/machine_lock.h"

#include "other_user.h"
#include "support/needs.h"
#include "support/run_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace ondaline::test;

namespace {

mode_t modeOf(const std::string& file)
{
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

}  // namespace

TEST(MachineLock, AnotherUserTakesItWhateverTheUmaskOfItsMaker)
{
    ONDALINE_NEEDS(::geteuid() == 0, "changing to the user nobody needs root");
    const std::string shared = sharedFolder("locks");
    ONDALINE_NEEDS(!shared.empty(), "the user nobody cannot reach " + runFolder().string());
    const std::string ours = shared + "/made-by-root.lock";
    const mode_t before = ::umask(077);
    auto held = std::make_unique<MachineLock>(ours, "a test");
    ::umask(before);
    EXPECT_EQ(modeOf(ours), 0666u);
    // Another user's run waits while this one holds it.
    std::atomic<bool> done = false;
    NobodyResult taken;
    std::thread other([&] {
        taken = asNobody([&] {
            MachineLock lock(ours, "a test");
            return std::string();
        });
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done) << "another user's run went on while this one held the lock: " << taken.message;
    held.reset();
    other.join();
    EXPECT_EQ(taken.exitCode, 0) << taken.message;

    const std::string theirs = shared + "/made-by-nobody.lock";
    const auto made = asNobody(
        [&] {
            MachineLock lock(theirs, "a test");
            return std::string();
        },
        077);
    ASSERT_EQ(made.exitCode, 0) << made.message;
    EXPECT_EQ(modeOf(theirs), 0666u);
    MachineLock lock(theirs, "a test");
}

TEST(MachineLock, ARunThatMustWaitSaysSoAndGoesOnOnceItIsFree)
{
    const std::string file = runFile("turns.lock");
    auto first = std::make_unique<MachineLock>(file, "a test");
    testing::internal::CaptureStderr();
    std::atomic<bool> taken = false;
    std::thread second([&] {
        MachineLock lock(file, "the second run's turn");
        taken = true;
    });
    // Released only once the second run waits for it, as the kernel's list
    // of locks shows ("->" marks a request that waits).
    struct stat lockFile {};
    ASSERT_EQ(::stat(file.c_str(), &lockFile), 0);
    const std::string inode = ":" + std::to_string(lockFile.st_ino) + " ";
    auto secondWaits = [&] {
        std::ifstream locks("/proc/locks");
        for (std::string line; std::getline(locks, line);)
            if (line.find("->") != std::string::npos && line.find(inode) != std::string::npos) return true;
        return false;
    };
    for (int i = 0; i < 600 && !secondWaits(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(taken);
    first.reset();
    second.join();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(taken);
    EXPECT_NE(said.find("waiting for the second run's turn: another test on this machine holds " + file),
              std::string::npos)
        << said;
}

TEST(MachineLock, AFileItCannotOpenFailsNamingItsOwner)
{
    ONDALINE_NEEDS(::geteuid() == 0, "changing to the user nobody needs root");
    const std::string shared = sharedFolder("private");
    ONDALINE_NEEDS(!shared.empty(), "the user nobody cannot reach " + runFolder().string());
    const std::string file = shared + "/private.lock";
    std::ofstream{file};
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    const auto result = asNobody([&] {
        MachineLock lock(file, "a test");
        return std::string("taken");
    });
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.message.find("cannot open " + file), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("uid 0, mode 0600"), std::string::npos) << result.message;
}

// What another user may leave at the lock's name in a shared folder: it is
// neither followed nor waited on.
TEST(MachineLock, ALinkOrAFifoInItsPlaceIsRefusedAtOnce)
{
    const std::string link = runFile("link.lock");
    ASSERT_EQ(::symlink(runFile("nowhere").c_str(), link.c_str()), 0);
    EXPECT_THROW(MachineLock(link, "a test"), std::runtime_error);
    const std::string fifo = runFile("fifo.lock");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    EXPECT_THROW(MachineLock(fifo, "a test"), std::runtime_error);
}
