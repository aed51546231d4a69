#pragma once

#include <string>
#include <vector>

namespace ondaline::test {

// The messages the shared activity log received since construction, without
// their time stamps. Good for up to the log's line cap.
class LogCapture {
public:
    LogCapture();

    std::vector<std::string> messages() const;
    bool contains(const std::string& message) const;

private:
    std::size_t start_;
};

}  // namespace ondaline::test
