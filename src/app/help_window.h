#pragma once

// The help window, whoever runs the program: titled "Ondaline Help", 820 by
// 640 in the middle of the screen and never smaller than 500 by 400, with
// zoom keys (Ctrl+= and Ctrl++ in, Ctrl+- out, Ctrl+0 back) in steps of 0.1
// between 0.5 and 3.0. Filled with a page (help_page.h): the documentation
// in a web view, or, as root, the program's own.

#include "app/help_page.h"

#include <QWidget>

#include <memory>

namespace ondaline::app {

class HelpWindow : public QWidget {
public:
    explicit HelpWindow(std::unique_ptr<HelpPage> page);

    static constexpr double zoomStep = 0.1;
    static constexpr double zoomMin = 0.5;
    static constexpr double zoomMax = 3.0;

    HelpPage& page() const { return *page_; }
    double zoomLevel() const { return zoomLevel_; }

    // See HelpPage.
    void load(const QUrl& url, int timeoutMs = 60000) { page_->load(url, timeoutMs); }
    bool edit(EditCommand command, bool perform) { return page_->edit(command, perform); }

    // Shown and not minimized.
    bool isOnScreen() const { return isVisible() && !isMinimized(); }

private:
    void zoomTo(double level);

    HelpPage* page_;  // a child
    double zoomLevel_ = 1.0;
};

}  // namespace ondaline::app
