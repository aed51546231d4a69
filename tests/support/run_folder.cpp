#include "support/run_folder.h"

#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace ondaline::test {

namespace {

class Folder {
public:
    Folder() : owner_(::getpid())
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ondaline-run-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::system_error(errno, std::generic_category(), "no folder of its own in " + pattern);
        path_ = pattern;
    }
    ~Folder()
    {
        // A forked child that ends through exit() leaves its parent's folder.
        std::error_code ignored;
        if (::getpid() == owner_) std::filesystem::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    pid_t owner_;
    std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& runFolder()
{
    static const Folder folder;
    return folder.path();
}

std::string runFile(const std::string& name) { return (runFolder() / name).string(); }

}  // namespace ondaline::test
