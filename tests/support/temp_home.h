#pragma once

#include <string>

namespace ondaline::test {

// The private folder that a test executable built with temp_home_main runs
// in: HOME and XDG_CONFIG_HOME point below it, so nothing touches the real
// home folder, and it is removed when the tests end.
const std::string& tempRoot();

// A fresh, empty folder below tempRoot().
std::string makeTempFolder(const std::string& prefix);

}  // namespace ondaline::test
