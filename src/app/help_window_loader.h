#pragma once

// The help window as the program sees it. Its web engine, and the GL stack
// the engine draws with, cost more memory than the rest of the dashboard,
// and most sessions never open help: the window lives in a library of its
// own beside the program ("libondaline_help.so"), loaded the first time
// help is opened; as root, never (offline_help_window.h).

#include <QGuiApplication>
#include <QScreen>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>

namespace ondaline::app {

// The documentation page, on the maker's site.
inline constexpr const char* kHelpHost = "www.quillmere.com";
QUrl helpPageURL();

enum class EditCommand { cut, copy, paste, selectAll };

class HelpWindowBase : public QWidget {
public:
    using QWidget::QWidget;

    // Loads `url`; a load that fails, or makes no progress for `timeoutMs`,
    // brings the page saying that help is unavailable.
    virtual void load(const QUrl& url, int timeoutMs = 60000) = 0;

    // Whether the page can do an editing command, and doing it when
    // `perform` is set.
    virtual bool edit(EditCommand command, bool perform) = 0;

    // Shown and not minimized.
    bool isOnScreen() const { return isVisible() && !isMinimized(); }

protected:
    // Titled, `size` large (and never below `minimum`), in the middle of the
    // screen.
    void placeOnScreen(QSize size, QSize minimum)
    {
        setWindowTitle(QStringLiteral("Ondaline Help"));
        resize(size);
        setMinimumSize(minimum);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - QPoint(size.width() / 2, size.height() / 2));
    }
};

// A new help window; none, with `problem` saying why, when the library
// cannot be loaded.
std::unique_ptr<HelpWindowBase> makeHelpWindow(QString* problem);

}  // namespace ondaline::app
