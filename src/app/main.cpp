// The program: the dashboard on the Qt event loop.

#include "app/app_delegate.h"
#include "app/display_check.h"
#include "app/qt_main_executor.h"
#include "app/signal_quit.h"
#include "base/print.h"
#include "platform/codec/library_log.h"
#include "platform/graphics/qt_messages.h"
#include "platform/standard_descriptors.h"
#include "platform/standard_stream.h"

#include <QApplication>
#include <QLoggingCategory>

#include <chrono>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv)
{
    using namespace ondaline::app;
    ondaline::platform::openClosedStandardDescriptors();
    ondaline::ignoreBrokenPipeSignal();
    // Standard output and error are copies of the log for whoever reads them:
    // what is still queued at the end gets a second, not more.
    const ondaline::platform::StandardStreamsFlushedAtExit flushed(std::chrono::seconds(1));
    ondaline::platform::routeQtMessagesThroughStandardError();
    ondaline::platform::routeLibraryLog();
    // Before anything is made: without a display Qt would abort.
    DisplayConnection displayAnswered;
    if (const auto problem = displayProblem(DisplayEnvironment::current(argc, argv), &displayAnswered)) {
        ondaline::platform::StandardStream::error().write(*problem + "\n");
        return 1;
    }
    // Its start-up report (GL, switches) would fill the log when help first
    // opens; rules in the user's QT_LOGGING_RULES are applied after it, and win.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.debug=false\nqt.webenginecontext.info=false"));
    QApplication application(argc, argv);
    displayAnswered = {};  // Qt has a connection of its own now
    QApplication::setQuitOnLastWindowClosed(true);
    quitOnTerminationSignals();
    auto mainExecutor = std::make_shared<QtMainExecutor>();
    int result = 0;
    {
        TestAppDelegate controller(mainExecutor);
        controller.applicationDidFinishLaunching();
        result = QApplication::exec();
        mainExecutor->close();
    }
#if defined(__SANITIZE_ADDRESS__)
    // Built with the leak checker: everything of ours is gone by now, and
    // the libraries Qt loaded are still mapped. At exit the GL driver has
    // been unloaded with the display, and the tables it keeps for the
    // process would show up as leaks that no report can name.
    __lsan_do_leak_check();
#endif
    return result;
}
