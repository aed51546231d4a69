#pragma once

// The help window's page for everyone but root: the maker's documentation
// in a web view, with larger text and a page of our own saying that help is
// unavailable, and why, when the documentation cannot be loaded. Built into
// the library the program loads when help is first opened.

#include "app/help_page.h"

#include <QString>
#include <QUrl>

class QTimer;
class QWebEngineLoadingInfo;
class QWebEngineView;

namespace ondaline::app {

// The page shown when loading fails; `error` is shown as text.
QString helpFallbackPage(const QString& error);

class WebHelpPage : public HelpPage {
    Q_OBJECT
public:
    WebHelpPage();

    QWebEngineView* helpWebView = nullptr;

    void load(const QUrl& url, int timeoutMs) override;
    // The page reads only: copying and selecting are what it can do.
    bool edit(EditCommand command, bool perform) override;
    void setZoom(double level) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadingChanged(const QWebEngineLoadingInfo& info);
    void loadFallbackPage(const QString& error);

    QTimer* stallTimer_ = nullptr;
};

}  // namespace ondaline::app
