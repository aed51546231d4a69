#pragma once

// The help window: the maker's documentation page in a web view of its own
// window, with larger text, zoom keys, and a page of our own saying that
// help is unavailable, and why, when the documentation cannot be loaded.

#include <QString>
#include <QUrl>
#include <QWidget>

class QTimer;
class QWebEngineLoadingInfo;
class QWebEngineView;

namespace ondaline::app {

// The documentation page, on the maker's site.
inline constexpr const char* kHelpHost = "www.quillmere.com";
QUrl helpPageURL();

// The page shown when loading fails; `error` is shown as text.
QString helpFallbackPage(const QString& error);

class OndalineHelpWindow : public QWidget {
    Q_OBJECT
public:
    OndalineHelpWindow();

    QWebEngineView* helpWebView = nullptr;
    double zoomLevel() const { return zoomLevel_; }

    // Loads `url`; a load that fails, or makes no progress for `timeoutMs`,
    // brings the fallback page.
    void load(const QUrl& url, int timeoutMs = 60000);

    // Shown and not minimized.
    bool isOnScreen() const { return isVisible() && !isMinimized(); }

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
