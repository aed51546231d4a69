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

}  // namespace ondaline::sources
