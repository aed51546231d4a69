#include "platform/dispatch/main_executor.h"

namespace ondaline::platform {

void QueueMainExecutor::drain()
{
    queue_.sync([] {});
}

}  // namespace ondaline::platform
