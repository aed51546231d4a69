#include "sources/source_token.h"

namespace ondaline::sources {

SourceTokenGate::Token SourceTokenGate::take()
{
    std::lock_guard lock(mutex_);
    if (closed_) return 0;
    current_ = ++last_;
    return last_;
}

void SourceTokenGate::close()
{
    std::lock_guard lock(mutex_);
    closed_ = true;
    current_ = 0;
}

SourceStarter::SourceStarter(std::shared_ptr<platform::MainExecutor> mainExecutor)
    : mainExecutor_(std::move(mainExecutor))
{
}

// The worker goes with the members: a start that is running finishes and,
// its token closed, is undone there; the ones waiting are dropped unstarted.
SourceStarter::~SourceStarter() { gate_->close(); }

}  // namespace ondaline::sources
