#pragma once

// The help window as root: a page of its own with the documentation's
// address, to open in one's own browser. The web engine would run as root
// without its sandbox, so as root it is never loaded.

#include "app/help_window_loader.h"

class QTextBrowser;

namespace ondaline::app {

class OfflineHelpWindow : public HelpWindowBase {
public:
    OfflineHelpWindow();

    // Shows `url` as the address to open; nothing is fetched.
    void load(const QUrl& url, int timeoutMs = 60000) override;
    // The page reads only: copying and selecting are what it can do.
    bool edit(EditCommand command, bool perform) override;

    QTextBrowser* page() const { return page_; }

private:
    QTextBrowser* page_ = nullptr;
};

}  // namespace ondaline::app
