#include "app/web_help_page.h"

#include <QAction>
#include <QChildEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWheelEvent>

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
        QStringLiteral("<h1>") + helpUnavailableHeading() + QStringLiteral("</h1>"),
        QStringLiteral("<p>") + helpUnavailableHostLine() + QStringLiteral("<code>") + QLatin1String(kHelpHost) +
            QStringLiteral("</code>.</p>"),
        QStringLiteral("<p>") + helpUnavailableAdvice() + QStringLiteral("</p>"),
        // The engine's error texts can hold markup of their own: shown as text.
        QStringLiteral("<p class=\"err\">") + error.toHtmlEscaped() + QStringLiteral("</p>"),
        QStringLiteral("</body>"),
        QStringLiteral("</html>"),
    };
    return lines.join(QLatin1Char('\n'));
}

WebHelpPage::WebHelpPage()
{
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
    connect(page, &QWebEnginePage::loadingChanged, this, &WebHelpPage::loadingChanged);
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

    // Only the window's keys zoom; the engine's own Ctrl+wheel zoom is kept
    // from it.
    helpWebView->installEventFilter(this);
    for (QObject* child : helpWebView->children()) child->installEventFilter(this);
}

void WebHelpPage::load(const QUrl& url, int timeoutMs)
{
    if (!url.isValid()) return;
    stallTimer_->setInterval(timeoutMs);
    stallTimer_->start();
    helpWebView->load(url);
}

bool WebHelpPage::edit(EditCommand command, bool perform)
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

void WebHelpPage::setZoom(double level) { helpWebView->setZoomFactor(level); }

void WebHelpPage::loadingChanged(const QWebEngineLoadingInfo& info)
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

void WebHelpPage::loadFallbackPage(const QString& error)
{
    if (!helpWebView) return;
    helpWebView->setHtml(helpFallbackPage(error));
}

bool WebHelpPage::eventFilter(QObject* watched, QEvent* event)
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
extern "C" Q_DECL_EXPORT ondaline::app::HelpPage* ondalineMakeWebHelpPage() { return new ondaline::app::WebHelpPage(); }
