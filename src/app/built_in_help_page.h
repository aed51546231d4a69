#pragma once

// The help window's page as root: the web engine would run as root without
// its sandbox, so it is never loaded; the window shows the page that says
// help is unavailable, in its own colours, drawn by the program itself, with
// why and the documentation's address to copy. Nothing is fetched or opened.

#include "app/help_page.h"

class QTextBrowser;

namespace ondaline::app {

// The error line's words: why no web page is shown, and where the
// documentation is.
QString helpAsRootReason(const QUrl& url);

class BuiltInHelpPage : public HelpPage {
public:
    BuiltInHelpPage();

    // Shows `url` as the address to open in one's own browser.
    void load(const QUrl& url, int timeoutMs) override;
    // The page reads only: copying and selecting are what it can do.
    bool edit(EditCommand command, bool perform) override;
    void setZoom(double level) override;

    QTextBrowser* text() const { return text_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void render();
    void placeColumn();

    QTextBrowser* text_ = nullptr;
    QString reason_;
    double zoom_ = 1.0;
};

}  // namespace ondaline::app
