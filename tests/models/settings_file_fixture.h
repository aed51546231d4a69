#pragma once

// What the settings file's tests share: a station folder of their own, and
// a way to run part of a test as the unprivileged user "nobody".

#include "models/station_path.h"
#include "platform/file_rights/staged_file.h"

#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace ondaline::test {

// Each test gets a station folder of its own, and the file system as it is.
class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        station_ = makeTempFolder("station");
        StationPath::save(station_);
    }
    void TearDown() override { platform::fileSystemSeams() = {}; }

    std::string settingsDir() const { return station_ + "/Misc/System/Streamer"; }
    std::string settingsFile() const { return settingsDir() + "/ondaline_schedule.json"; }

    static void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
    static std::string read(const std::string& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> filesInSettingsDir() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(settingsDir()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Lets "nobody" reach the settings folder and read the station pointer;
    // the folder itself gets `folderMode`.
    void openToNobody(std::filesystem::perms folderMode) const
    {
        namespace fs = std::filesystem;
        openPointerToNobody();
        fs::create_directories(settingsDir());
        for (std::string folder = fs::path(settingsDir()).parent_path(); folder.size() > tempRoot().size();
             folder = fs::path(folder).parent_path())
            fs::permissions(folder, fs::perms::all);
        fs::permissions(settingsDir(), folderMode);
    }
    // Lets "nobody" reach the temporary folder and read the station pointer.
    static void openPointerToNobody()
    {
        namespace fs = std::filesystem;
        fs::permissions(tempRoot(), fs::perms::owner_all | fs::perms::others_exec);
        const std::string dotFile = StationPath::dotFile();
        fs::permissions(fs::path(dotFile).parent_path(), fs::perms::owner_all | fs::perms::others_exec);
        fs::permissions(dotFile, fs::perms::owner_all | fs::perms::others_read);
    }

    std::string station_;
};

// Runs `work` in a child process as the unprivileged user "nobody", as a
// station's operator runs the program; its result, or -1 when it crashed.
inline int asNobody(const std::function<bool()>& work)
{
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        _exit(work() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ondaline::test
