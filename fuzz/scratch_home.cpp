#include "scratch_home.h"

#include "fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace ondaline::fuzz {

namespace {

std::string makeScratchHome()
{
    const std::string pattern = (std::filesystem::temp_directory_path() / "ondaline-fuzz-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    FUZZ_CHECK(::mkdtemp(name.data()) != nullptr);
    const std::string home = name.data();
    std::filesystem::create_directories(home + "/.config");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    return home;
}

}  // namespace

const std::string& scratchHome()
{
    static const std::string home = makeScratchHome();
    // Removed at a normal exit; a crash leaves it for a look.
    static const struct Remover {
        ~Remover()
        {
            std::error_code error;
            std::filesystem::remove_all(home, error);
        }
    } remover;
    return home;
}

void writeScratchFile(const std::string& path, ByteView bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    FUZZ_CHECK(std::fclose(file) == 0);
}

void removeScratchFile(const std::string& path)
{
    std::error_code error;
    std::filesystem::remove(path, error);
}

}  // namespace ondaline::fuzz
