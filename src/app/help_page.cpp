#include "app/help_page.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QOpenGLContext>
#include <QSurfaceFormat>

#include <dlfcn.h>

namespace ondaline::app {

namespace {

// QtGui's own setter of the context that every context made afterwards
// shares with; the web engine draws with contexts shared through it. It is
// not part of Qt's public interface, so it is looked up when help first
// needs it: a Qt without it costs the help window, not the dashboard.
using SetGlobalShareContext = void (*)(QOpenGLContext*);
constexpr const char* kSetGlobalShareContext = "_Z30qt_gl_set_global_share_contextP14QOpenGLContext";

SetGlobalShareContext setGlobalShareContext()
{
    return reinterpret_cast<SetGlobalShareContext>(::dlsym(RTLD_DEFAULT, kSetGlobalShareContext));
}

}  // namespace

QUrl helpPageURL()
{
    return QUrl(QStringLiteral("https://") + QLatin1String(kHelpHost) + QStringLiteral("/documentation/ondaline/"));
}

std::unique_ptr<HelpPage> makeWebHelpPage(QString* problem)
{
    // The web engine wants a context shared with everything Qt draws before
    // it is loaded. Asked for at start (Qt::AA_ShareOpenGLContexts) it would
    // bring in the GL driver for the whole session; the same context made
    // now serves, as the library and its engine are loaded after it.
    if (!QOpenGLContext::globalShareContext()) {
        const SetGlobalShareContext setShared = setGlobalShareContext();
        if (!setShared) {
            if (problem) *problem = QStringLiteral("this Qt has no qt_gl_set_global_share_context");
            return nullptr;
        }
        auto* shared = new QOpenGLContext(QCoreApplication::instance());
        shared->setFormat(QSurfaceFormat::defaultFormat());
        if (shared->create()) setShared(shared);
    }
    static QLibrary library(QCoreApplication::applicationDirPath() + QStringLiteral("/libondaline_help.so"));
    using Make = HelpPage* (*)();
    const auto make = reinterpret_cast<Make>(library.resolve("ondalineMakeWebHelpPage"));
    if (!make) {
        if (problem) *problem = library.errorString();
        return nullptr;
    }
    return std::unique_ptr<HelpPage>(make());
}

}  // namespace ondaline::app
