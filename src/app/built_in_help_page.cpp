#include "app/built_in_help_page.h"

#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFrame>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ondaline::app {

namespace {

// The page as the web view shows it with its larger text: a column at most
// 600 px wide, 60 px below the top and 40 px from the sides, on #f5f5f5;
// the heading at 26 px, every paragraph at 16 px, the host in a code box.
constexpr double kColumnWidth = 600;
constexpr double kPaddingTop = 60;
constexpr double kPaddingSide = 40;

}  // namespace

QString helpAsRootReason(const QUrl& url)
{
    return QStringLiteral("Run as root, Ondaline shows no web pages: its web engine would run without its sandbox. "
                          "The documentation is at ") +
           url.toDisplayString() + QStringLiteral(" — open it in your own browser.");
}

BuiltInHelpPage::BuiltInHelpPage()
{
    text_ = new QTextBrowser(this);
    // The address is text to copy: a link would open a browser as root.
    text_->setOpenLinks(false);
    text_->setOpenExternalLinks(false);
    text_->setFrameShape(QFrame::NoFrame);
    // Selected with the mouse or by the menu's keys; no caret, as on a web
    // page.
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette colours = text_->palette();
    colours.setColor(QPalette::Base, QColor(0xf5, 0xf5, 0xf5));
    colours.setColor(QPalette::Text, QColor(0x33, 0x33, 0x33));
    text_->setPalette(colours);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text_);
}

void BuiltInHelpPage::load(const QUrl& url, int)
{
    if (!url.isValid()) return;
    reason_ = helpAsRootReason(url);
    render();
}

bool BuiltInHelpPage::edit(EditCommand command, bool perform)
{
    const bool can = command == EditCommand::copy || command == EditCommand::selectAll;
    if (can && perform) {
        if (command == EditCommand::copy) text_->copy();
        else text_->selectAll();
    }
    return can;
}

void BuiltInHelpPage::setZoom(double level)
{
    zoom_ = level;
    render();
}

void BuiltInHelpPage::resizeEvent(QResizeEvent* event)
{
    HelpPage::resizeEvent(event);
    placeColumn();
}

void BuiltInHelpPage::render()
{
    const auto px = [this](double size) { return QString::number(std::lround(size * zoom_)) + QStringLiteral("px"); };
    const QString paragraph = QStringLiteral("font-size: ") + px(16) +
                              QStringLiteral("; line-height: 150%; margin-top: ") + px(16) +
                              QStringLiteral("; margin-bottom: ") + px(16) + QStringLiteral(";");
    const QString page =
        QStringLiteral("<html><body style=\"font-family: sans-serif; color: #333333;\">") +
        // A paragraph, not a heading: the size of a heading follows the
        // text's default size, which is not the page's to set.
        QStringLiteral("<p style=\"color: #c0392b; font-weight: 600; font-size: ") + px(26) +
        QStringLiteral("; margin-top: 0px; margin-bottom: ") + px(17) + QStringLiteral(";\">") +
        helpUnavailableHeading() + QStringLiteral("</p>") + QStringLiteral("<p style=\"") + paragraph +
        QStringLiteral("\">") + helpUnavailableHostLine() +
        QStringLiteral("<span style=\"background-color: #eaeaea; font-family: monospace; font-size: ") + px(15) +
        QStringLiteral(";\">&nbsp;") + QLatin1String(kHelpHost) + QStringLiteral("&nbsp;</span>.</p>") +
        QStringLiteral("<p style=\"") + paragraph + QStringLiteral("\">") + helpUnavailableAdvice() +
        QStringLiteral("</p>") + QStringLiteral("<p style=\"") + paragraph +
        QStringLiteral(" color: #888888; font-family: monospace; margin-top: ") + px(40) + QStringLiteral(";\">") +
        reason_.toHtmlEscaped() + QStringLiteral("</p></body></html>");
    text_->setHtml(page);
    placeColumn();
}

void BuiltInHelpPage::placeColumn()
{
    // The root frame's margins make the column: centred, never wider than
    // it is in the web view.
    QTextFrame* root = text_->document()->rootFrame();
    QTextFrameFormat format = root->frameFormat();
    const double width = text_->viewport()->width();
    const double column = std::min(kColumnWidth * zoom_, std::max(0.0, width - 2 * kPaddingSide * zoom_));
    const double side = std::max(kPaddingSide * zoom_, (width - column) / 2);
    format.setLeftMargin(side);
    format.setRightMargin(side);
    format.setTopMargin(kPaddingTop * zoom_);
    format.setBottomMargin(kPaddingTop * zoom_);
    root->setFrameFormat(format);
}

}  // namespace ondaline::app
