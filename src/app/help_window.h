#pragma once

// The help window: the maker's documentation page in a web view of its own
// window, with larger text, zoom keys, and a page of our own saying that
// help is unavailable, and why, when the documentation cannot be loaded.
// Built into the library the program loads when help is first opened.

#include "app/help_window_loader.h"

#include <QString>
#include <QUrl>

class QTimer;
class QWebEngineLoadingInfo;
class QWebEngineView;

namespace ondaline::app {

// The page shown when loading fails; `error` is shown as text.
QString helpFallbackPage(const QString& error);

class OndalineHelpWindow : public HelpWindowBase {
    Q_OBJECT
public:
    OndalineHelpWindow();

    QWebEngineView* helpWebView = nullptr;
    double zoomLevel() const { return zoomLevel_; }

    void load(const QUrl& url, int timeoutMs = 60000) override;
    // The page reads only: copying and selecting are what it can do.
    bool edit(EditCommand command, bool perform) override;

    static constexpr double zoomStep = 0.1;
    static constexpr double zoomMin = 0.5;
    static constexpr double zoomMax = 3.0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void zoomTo(double level);
    void loadingChanged(const QWebEngineLoadingInfo& info);
    void loadFallbackPage(const QString& error);

    double zoomLevel_ = 1.0;
    QTimer* stallTimer_ = nullptr;
};

}  // namespace ondaline::app
