#include "app/help_window_loader.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QOpenGLContext>
#include <QSurfaceFormat>

// QtGui's own setter of the context that every context made afterwards
// shares with; the web engine draws with contexts shared through it.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace ondaline::app {

QUrl helpPageURL()
{
    return QUrl(QStringLiteral("https://") + QLatin1String(kHelpHost) + QStringLiteral("/documentation/ondaline/"));
}

std::unique_ptr<HelpWindowBase> makeHelpWindow(QString* problem)
{
    // The web engine wants a context shared with everything Qt draws before
    // it is loaded. Asked for at start (Qt::AA_ShareOpenGLContexts) it would
    // bring in the GL driver for the whole session; the same context made
    // now serves, as the library and its engine are loaded after it.
    if (!QOpenGLContext::globalShareContext()) {
        auto* shared = new QOpenGLContext(QCoreApplication::instance());
        shared->setFormat(QSurfaceFormat::defaultFormat());
        if (shared->create()) qt_gl_set_global_share_context(shared);
    }
    static QLibrary library(QCoreApplication::applicationDirPath() + QStringLiteral("/libondaline_help.so"));
    using Make = HelpWindowBase* (*)();
    const auto make = reinterpret_cast<Make>(library.resolve("ondalineMakeHelpWindow"));
    if (!make) {
        if (problem) *problem = library.errorString();
        return nullptr;
    }
    return std::unique_ptr<HelpWindowBase>(make());
}

}  // namespace ondaline::app
