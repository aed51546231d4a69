// Found: a normal user's run of the tests beside root's failed in
// media_test, on root's file of the same fixed name in the temporary folder
// ("cannot remove: Operation not permitted"). Here root's files of the
// names media_test once used lie in a shared sticky folder, as in /tmp, and
// media_test runs as nobody with TMPDIR there.

#include "other_user.h"
#include "support/needs.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

using namespace ondaline::test;
namespace fs = std::filesystem;

TEST(SideBySide, AnotherUsersRunAmongRootsFilesPassesAndLeavesNothing)
{
    ONDALINE_NEEDS(::geteuid() == 0, "changing to the user nobody needs root");
    const std::string shared = sharedFolder("tmp");
    ONDALINE_NEEDS(!shared.empty(), "the user nobody cannot reach this run's folder");
    const auto reaches = asNobody([] { return std::string(::access(ONDALINE_MEDIA_TEST, X_OK) == 0 ? "yes" : ""); });
    ONDALINE_NEEDS(reaches.message == "yes", "the user nobody cannot run " ONDALINE_MEDIA_TEST);

    const std::set<std::string> roots = {"ondaline-partial-redraw.ppm", "ondaline-partial-crawler.txt",
                                         "ondaline-crawler.txt", "ondaline-background-1920.ppm",
                                         "ondaline-background-300.ppm"};
    for (const auto& name : roots) {
        std::ofstream(shared + "/" + name) << "root's\n";
        ::chmod((shared + "/" + name).c_str(), 0644);
    }
    // A normal user's run, in which the cases that need root skip, on CI too.
    const auto run =
        runCommand("setpriv --reuid=nobody --regid=nogroup --clear-groups env -u CI TMPDIR=" + shellQuote(shared) +
                   " HOME=" + shellQuote(shared) + " " + shellQuote(ONDALINE_MEDIA_TEST) + " 2>&1");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(shared)) left.insert(entry.path().filename().string());
    left.erase("runtime-nobody");  // Qt's runtime folder where XDG_RUNTIME_DIR is unset: one per user
    EXPECT_EQ(left, roots);
}
