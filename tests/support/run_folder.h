#pragma once

#include <filesystem>
#include <string>

namespace ondaline::test {

// A folder of this process's own in the temporary folder (TMPDIR, else
// /tmp), made on first use and removed, with all in it, when the process
// ends. Every file a test or benchmark writes goes below it: runs of other
// checkouts and other users share the temporary folder, and a fixed name
// there is one they all write to.
const std::filesystem::path& runFolder();

// A path for `name` in runFolder().
std::string runFile(const std::string& name);

}  // namespace ondaline::test
