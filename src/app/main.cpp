// The program: the dashboard on the Qt event loop.

#include "app/app_delegate.h"
#include "app/display_check.h"
#include "app/qt_main_executor.h"
#include "app/signal_quit.h"

#include <QApplication>

#include <cstdio>

#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace ondaline::app;
    // Before anything is made: without a display Qt would abort.
    if (const auto problem = displayProblem(DisplayEnvironment::current())) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return 1;
    }
    // The help window's web engine: its renderer refuses to start as root
    // inside its sandbox, and it shares the widgets' GL contexts.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
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
    return result;
}
