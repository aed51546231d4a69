#pragma once

// What a test needs of the machine or of its user (root, FUSE): where that
// is missing the test is skipped, and scripts/test names it; on CI, whose
// machine has all of it, missing it fails the test instead.

#include <cstdlib>
#include <string_view>

namespace ondaline::test {

inline bool onCI()
{
    const char* ci = std::getenv("CI");
    return ci && std::string_view(ci) == "true";
}

}  // namespace ondaline::test

// In a GoogleTest test or its SetUp().
#define ONDALINE_NEEDS(condition, why)                   \
    do {                                                 \
        if (!(condition)) {                              \
            if (::ondaline::test::onCI()) FAIL() << why; \
            else GTEST_SKIP() << why;                    \
        }                                                \
    } while (0)

// In a Qt Test function.
#define ONDALINE_QT_NEEDS(condition, why)             \
    do {                                              \
        if (!(condition)) {                           \
            if (::ondaline::test::onCI()) QFAIL(why); \
            else QSKIP(why);                          \
        }                                             \
    } while (0)
