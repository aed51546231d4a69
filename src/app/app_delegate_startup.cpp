// Start-up. For now it builds the dashboard and becomes the engine's
// delegate; the sources are built but not started.

#include "app/app_delegate.h"

#include "engine/ondaline.h"

namespace ondaline::app {

void TestAppDelegate::applicationDidFinishLaunching()
{
    buildDashboard();
    engineEvents_ = makeEngineEvents(*this, mainExecutor_);
    streamer->setDelegate(engineEvents_);
}

}  // namespace ondaline::app
