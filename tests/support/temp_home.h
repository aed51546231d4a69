#pragma once

#include <string>

namespace ondaline::test {

// The private folder that a GoogleTest program (temp_home_main) runs
// in: HOME and XDG_CONFIG_HOME point below it, and the station pointer in
// that home names its folder "station" (again at each test's start), so
// nothing touches the real home folder or station; it is removed when the
// tests end.
const std::string& tempRoot();

// A fresh, empty folder below tempRoot().
std::string makeTempFolder(const std::string& prefix);

}  // namespace ondaline::test
