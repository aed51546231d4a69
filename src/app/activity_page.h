#pragma once

// The drawer's activity page: the session log in a dark monospaced view that
// follows new lines, Copy and the way back to the settings, and a small
// badge that confirms a copy or the auto-scroll's new state. One object
// serves every opening of the page; the widgets of an opening belong to the
// drawer that shows them.

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QString>

#include <functional>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPropertyAnimation;
class QTimer;
class QWidget;

namespace ondaline::app {

class ActivityPage final : public QObject {
    Q_OBJECT
public:
    // `backToSettings` is what "← Settings" and Dismiss ask for; the page
    // follows the log only while `isShown` says it is the drawer's page.
    ActivityPage(std::function<void()> backToSettings, std::function<bool()> isShown);

    // A new page, `size` large, showing the whole log at its end with the
    // auto-scroll on; from now on it follows the log.
    QWidget* build(QSizeF size);
    // The page is closing: it lets go of the log, the view and the badge,
    // whose fade-out never comes.
    void close();

    // The space bar's: the auto-scroll on or off, said on the badge; turned
    // on, the view goes to the end.
    void toggleActivityAutoScroll();
    // Copy: the whole log to the clipboard.
    void activityCopyLog();

    bool activityAutoScroll() const { return autoScroll_; }
    // The widgets of the open page; null once it is closed.
    QPlainTextEdit* activityTextView() const;
    QLabel* activityScrollIndicator() const;
    // The badge's hold between its fade-in and its fade-out, while it runs.
    QTimer* activityScrollIndicatorTimer() const;

private:
    // The log's notice of a new line: the view catches up with the log.
    void activityLogDidGrow();
    // The badge over the log: fades in, stays 1.5 s, fades out.
    void showActivityScrollIndicator(const QString& text);

    std::function<void()> backToSettings_;
    std::function<bool()> isShown_;
    bool autoScroll_ = true;
    QPointer<QPlainTextEdit> textView_;
    QPointer<QLabel> scrollIndicator_;
    QPointer<QTimer> scrollIndicatorTimer_;
    std::string shownText_;  // what the view holds
    QPointer<QPropertyAnimation> badgeFade_;
};

}  // namespace ondaline::app
