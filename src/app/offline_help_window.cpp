#include "app/offline_help_window.h"

#include <QTextBrowser>
#include <QVBoxLayout>

namespace ondaline::app {

OfflineHelpWindow::OfflineHelpWindow() : HelpWindowBase(nullptr, Qt::Window)
{
    placeOnScreen({620, 300}, {400, 240});

    page_ = new QTextBrowser(this);
    // The address is text to copy: a link would open a browser as root.
    page_->setOpenLinks(false);
    page_->setOpenExternalLinks(false);
    page_->setFrameShape(QFrame::NoFrame);
    page_->document()->setDocumentMargin(24);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page_);
    load(helpPageURL());
}

void OfflineHelpWindow::load(const QUrl& url, int)
{
    if (!url.isValid()) return;
    const QString address = url.toDisplayString().toHtmlEscaped();
    page_->setHtml(
        QStringLiteral("<div style=\"font-size: 16px;\">"
                       "<h2>Ondaline Help</h2>"
                       "<p>The documentation is at</p>"
                       "<p style=\"font-size: 18px;\"><b>") +
        address +
        QStringLiteral("</b></p>"
                       "<p>Open that address in your own web browser. Run as root, Ondaline shows no web pages: "
                       "its web engine would run without its sandbox.</p></div>"));
}

bool OfflineHelpWindow::edit(EditCommand command, bool perform)
{
    const bool can = command == EditCommand::copy || command == EditCommand::selectAll;
    if (can && perform) {
        if (command == EditCommand::copy) page_->copy();
        else page_->selectAll();
    }
    return can;
}

}  // namespace ondaline::app
