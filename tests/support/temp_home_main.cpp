// main() of every GoogleTest program: a home and a station of its own. The
// station-folder pointer file's path is fixed at its first use, so HOME
// must be set before any test runs.

#include "support/run_folder.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace ondaline::test {

namespace {
std::string root;
int folderCount = 0;

// The pointer names the run's own station, so that a test that names none
// never reaches the machine's (the default, /Station). Whatever a test left
// in its place (a FIFO, a folder, a file it may not write) goes first.
void pointAtOwnStation()
{
    const std::string pointer = root + "/home/.ondaline_station", station = root + "/station";
    std::filesystem::create_directories(station);
    std::filesystem::remove_all(pointer);
    std::ofstream out(pointer);
    out << station;
    out.close();
    if (!out) throw std::runtime_error("no station pointer at " + pointer);
}

// Again before each test: one that takes the pointer away or blanks it
// (the lookup's own tests do) must not leave the next one on /Station.
class OwnStationEachTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { pointAtOwnStation(); }
};
}  // namespace

const std::string& tempRoot() { return root; }

std::string makeTempFolder(const std::string& prefix)
{
    const std::string folder = root + "/" + prefix + "-" + std::to_string(++folderCount);
    std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace ondaline::test

int main(int argc, char** argv)
{
    ondaline::test::root = ondaline::test::runFolder().string();
    std::filesystem::create_directories(ondaline::test::root + "/home");
    std::filesystem::create_directories(ondaline::test::root + "/config");
    setenv("HOME", (ondaline::test::root + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (ondaline::test::root + "/config").c_str(), 1);
    ondaline::test::pointAtOwnStation();

    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ondaline::test::OwnStationEachTest);
    return RUN_ALL_TESTS();
}
