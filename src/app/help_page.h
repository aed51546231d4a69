#pragma once

// What fills the help window: the maker's documentation page in a web view,
// or, run as root, the program's own page saying that help is not shown and
// why. The web engine, and the GL stack it draws with, cost more memory than
// the rest of the dashboard and most sessions never open help: the web page
// lives in a library of its own beside the program ("libondaline_help.so"),
// loaded the first time help is opened; as root, never.

#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>

namespace ondaline::app {

// The documentation page, on the maker's site.
inline constexpr const char* kHelpHost = "www.quillmere.com";
QUrl helpPageURL();

enum class EditCommand { cut, copy, paste, selectAll };

// The texts of the page shown when help is unavailable, one for each of
// its first three lines; the fourth says why.
inline QString helpUnavailableHeading() { return QStringLiteral("Help is currently unavailable"); }
inline QString helpUnavailableHostLine()
{
    return QStringLiteral("Ondaline couldn't load the help documentation from ");  // then the host, then "."
}
inline QString helpUnavailableAdvice()
{
    return QStringLiteral("This usually means your internet connection is offline, or the Quillmere Systems website "
                          "is temporarily unreachable. Please check your connection and try again.");
}

class HelpPage : public QWidget {
public:
    using QWidget::QWidget;

    // Loads `url`; a load that fails, or makes no progress for `timeoutMs`,
    // brings the page saying that help is unavailable.
    virtual void load(const QUrl& url, int timeoutMs) = 0;
    // Whether the page can do an editing command, and doing it when
    // `perform` is set.
    virtual bool edit(EditCommand command, bool perform) = 0;
    // Shows the page at `level` times its size.
    virtual void setZoom(double level) = 0;
};

// The documentation in a web view; none, with `problem` saying why, when
// the library cannot be loaded.
std::unique_ptr<HelpPage> makeWebHelpPage(QString* problem);

}  // namespace ondaline::app
