// What a test needs and does not find skips it, and says so; on CI, where
// everything a test needs is there, it fails the test instead.

#include "support/needs.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

void needsWhatIsMissing() { ONDALINE_NEEDS(false, "what this machine lacks"); }

// CI's setting for the length of a test, put back after it.
class CISetting {
public:
    explicit CISetting(const char* value)
    {
        if (const char* was = std::getenv("CI")) was_ = was;
        ::setenv("CI", value, 1);
    }
    ~CISetting()
    {
        if (was_) ::setenv("CI", was_->c_str(), 1);
        else ::unsetenv("CI");
    }

private:
    std::optional<std::string> was_;
};

}  // namespace

TEST(Needs, OnCIAMissingNeedFailsTheTest)
{
    const CISetting ci("true");
    EXPECT_FATAL_FAILURE(needsWhatIsMissing(), "what this machine lacks");
}
