// main() for tests that touch the home folder: the station-folder pointer
// file's path is fixed at its first use, so HOME must be set before any
// test runs.

#include "support/run_folder.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace ondaline::test {

namespace {
std::string root;
int folderCount = 0;
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

    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
