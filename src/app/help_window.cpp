#include "app/help_window.h"

#include <QAction>
#include <QChildEvent>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWheelEvent>

#include <algorithm>

namespace ondaline::app {

namespace {

// Larger text in every document of the view, frames included.
QString textSizeScript()
{
    const QString rules = QStringLiteral(
        "body { font-size: 16px !important; }         p, li, td, th { font-size: 16px !important; }         "
        "h1 { font-size: 26px !important; }         h2 { font-size: 22px !important; }         "
        "h3 { font-size: 18px !important; }");
    return QStringLiteral("    var style = document.createElement('style');\n") +
           QStringLiteral("    style.textContent = '") + rules + QStringLiteral("';\n") +
           QStringLiteral("    document.head.appendChild(style);");
}

}  // namespace

QString helpFallbackPage(const QString& error)
{
    const QStringList lines = {
        QStringLiteral("<!DOCTYPE html>"),
        QStringLiteral("<html>"),
        QStringLiteral("<head>"),
        QStringLiteral("<meta charset=\"UTF-8\">"),
        QStringLiteral("<title>Ondaline Help</title>"),
        QStringLiteral("<style>"),
        QStringLiteral("    body {"),
        QStringLiteral("        font-family: -apple-system, system-ui, sans-serif;"),
        QStringLiteral("        background: #f5f5f5;"),
        QStringLiteral("        color: #333;"),
        QStringLiteral("        padding: 60px 40px;"),
        QStringLiteral("        max-width: 600px;"),
        QStringLiteral("        margin: 0 auto;"),
        QStringLiteral("        line-height: 1.5;"),
        QStringLiteral("    }"),
        QStringLiteral("    h1 { color: #c0392b; font-weight: 600; }"),
        QStringLiteral("    code {"),
        QStringLiteral("        background: #eaeaea;"),
        QStringLiteral("        padding: 2px 6px;"),
        QStringLiteral("        border-radius: 3px;"),
        QStringLiteral("        font-size: 0.95em;"),
        QStringLiteral("    }"),
        QStringLiteral("    .err {"),
        QStringLiteral("        color: #888;"),
        QStringLiteral("        font-size: 12px;"),
        QStringLiteral("        margin-top: 40px;"),
        QStringLiteral("        font-family: ui-monospace, Menlo, monospace;"),
        QStringLiteral("    }"),
        QStringLiteral("</style>"),
        QStringLiteral("</head>"),
        QStringLiteral("<body>"),
        QStringLiteral("<h1>Help is currently unavailable</h1>"),
        QStringLiteral("<p>Ondaline couldn't load the help documentation from <code>") + QLatin1String(kHelpHost) +
            QStringLiteral("</code>.</p>"),
        QStringLiteral("<p>This usually means your internet connection is offline, or the Quillmere Systems website "
                       "is temporarily unreachable. Please check your connection and try again.</p>"),
        // The engine's error texts can hold markup of their own: shown as text.
        QStringLiteral("<p class=\"err\">") + error.toHtmlEscaped() + QStringLiteral("</p>"),
        QStringLiteral("</body>"),
        QStringLiteral("</html>"),
    };
    return lines.join(QLatin1Char('\n'));
}

OndalineHelpWindow::OndalineHelpWindow() : HelpWindowBase(nullptr, Qt::Window)
{
    placeOnScreen({820, 640}, {500, 400});

    helpWebView = new QWebEngineView(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(helpWebView);

    QWebEnginePage* page = helpWebView->page();
    // Our own page stands in for the engine's.
    page->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    QWebEngineScript script;
    script.setName(QStringLiteral("ondaline-text-size"));
    script.setSourceCode(textSizeScript());
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(true);
    page->scripts().insert(script);
    connect(page, &QWebEnginePage::loadingChanged, this, &OndalineHelpWindow::loadingChanged);
    connect(page, &QWebEnginePage::loadProgress, this, [this] {
        if (stallTimer_->isActive()) stallTimer_->start();
    });

    stallTimer_ = new QTimer(this);
    stallTimer_->setSingleShot(true);
    stallTimer_->setInterval(60000);
    connect(stallTimer_, &QTimer::timeout, this, [this] {
        helpWebView->stop();
        loadFallbackPage(QStringLiteral("The request timed out."));
    });

    // Only the keys zoom; the engine's own Ctrl+wheel zoom is kept from it.
    helpWebView->installEventFilter(this);
    for (QObject* child : helpWebView->children()) child->installEventFilter(this);

    const auto zoomKey = [this](const QKeySequence& keys, auto level) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, level] { zoomTo(level(zoomLevel_)); });
    };
    const auto in = [](double z) { return std::min(z + zoomStep, zoomMax); };
    const auto out = [](double z) { return std::max(z - zoomStep, zoomMin); };
    zoomKey(QKeySequence(Qt::CTRL | Qt::Key_Equal), in);
    zoomKey(QKeySequence(Qt::CTRL | Qt::Key_Plus), in);
    zoomKey(QKeySequence(Qt::CTRL | Qt::Key_Minus), out);
    zoomKey(QKeySequence(Qt::CTRL | Qt::Key_0), [](double) { return 1.0; });
}

void OndalineHelpWindow::load(const QUrl& url, int timeoutMs)
{
    if (!url.isValid()) return;
    stallTimer_->setInterval(timeoutMs);
    stallTimer_->start();
    helpWebView->load(url);
}

bool OndalineHelpWindow::edit(EditCommand command, bool perform)
{
    static constexpr QWebEnginePage::WebAction actions[] = {QWebEnginePage::Cut, QWebEnginePage::Copy,
                                                            QWebEnginePage::Paste, QWebEnginePage::SelectAll};
    const QWebEnginePage::WebAction action = actions[static_cast<int>(command)];
    QWebEnginePage* page = helpWebView->page();
    const bool can = command == EditCommand::copy || command == EditCommand::selectAll ||
                     page->action(action)->isEnabled();
    if (can && perform) page->triggerAction(action);
    return can;
}

void OndalineHelpWindow::zoomTo(double level)
{
    zoomLevel_ = level;
    helpWebView->setZoomFactor(zoomLevel_);
}

void OndalineHelpWindow::loadingChanged(const QWebEngineLoadingInfo& info)
{
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        if (info.url().scheme() != QStringLiteral("data")) stallTimer_->start();  // not our own page
        break;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
    case QWebEngineLoadingInfo::LoadStoppedStatus:  // replaced by a newer navigation: no failure
        stallTimer_->stop();
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        stallTimer_->stop();
        // A 404 or 500 page is shown as the server sent it.
        if (info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain) loadFallbackPage(info.errorString());
        break;
    }
}

void OndalineHelpWindow::loadFallbackPage(const QString& error)
{
    if (!helpWebView) return;
    helpWebView->setHtml(helpFallbackPage(error));
}

bool OndalineHelpWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ChildAdded && watched == helpWebView) {
        static_cast<QChildEvent*>(event)->child()->installEventFilter(this);
    } else if (event->type() == QEvent::Wheel) {
        if (static_cast<QWheelEvent*>(event)->modifiers() & Qt::ControlModifier) return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace ondaline::app

// What the program looks up when it loads this library.
extern "C" Q_DECL_EXPORT ondaline::app::HelpWindowBase* ondalineMakeHelpWindow()
{
    return new ondaline::app::OndalineHelpWindow();
}
