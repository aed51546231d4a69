#include "app/activity_page.h"

#include "app/drawer_controls.h"
#include "app/gold_color.h"

#include "base/activity_log.h"
#include "ui/console/console_button.h"
#include "ui/console/console_paint.h"
#include "ui/console/flipped_view.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>

namespace ondaline::app {

namespace {

QFont logFont()
{
    QFont font = QFontDatabase::families().contains(QStringLiteral("Menlo"))
                     ? QFont(QStringLiteral("Menlo"))
                     : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    return font;
}

void scrollToEnd(QPlainTextEdit& view) { view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum()); }

// Where `shown` continues in `now`: the offset in `shown` from which it is
// the start of `now` (the log dropped what lies before it), at a line start.
std::optional<std::size_t> overlap(const std::string& shown, const std::string& now)
{
    const std::string firstLine = now.substr(0, now.find('\n'));
    for (std::size_t at = shown.find(firstLine); at != std::string::npos; at = shown.find(firstLine, at + 1)) {
        if (at != 0 && shown[at - 1] != '\n') continue;
        const std::size_t kept = shown.size() - at;
        if (kept > 0 && now.compare(0, kept, shown, at, kept) == 0 && (now.size() == kept || now[kept] == '\n'))
            return at;
    }
    return std::nullopt;
}

QPropertyAnimation* fadeBadge(QLabel& badge, double to, int milliseconds)
{
    auto* effect = static_cast<QGraphicsOpacityEffect*>(badge.graphicsEffect());
    auto* fade = new QPropertyAnimation(effect, "opacity", &badge);
    fade->setDuration(milliseconds);
    fade->setStartValue(effect->opacity());
    fade->setEndValue(to);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
    return fade;
}

}  // namespace

ActivityPage::ActivityPage(std::function<void()> backToSettings, std::function<bool()> isShown)
    : backToSettings_(std::move(backToSettings)), isShown_(std::move(isShown))
{
}

QWidget* ActivityPage::build(QSizeF size)
{
    const double pageW = size.width();
    const double innerW = pageW - 36;
    const double pageH = size.height();
    const double buttonRowY = pageH - 34 - 12;
    const double logH = buttonRowY - 70 - 8;

    auto* page = new ui::FlippedView;
    page->resize(static_cast<int>(pageW), static_cast<int>(pageH));

    const auto button = [&](const QString& title, QRectF frame, std::function<void()> action) {
        ui::ConsoleButton* b = makeDrawerButton(title, std::move(action));
        b->setParent(page);
        b->setFrame(frame);
    };
    button(QString::fromUtf8("← Settings"), {18, 16, 90, 26}, backToSettings_);
    QLabel* title = makeDrawerLabel(QStringLiteral("ACTIVITY LOG"), 11, QFont::Medium, goldColor(0.7), 3);
    title->setParent(page);
    title->setGeometry(18, 48, static_cast<int>(innerW), 16);
    button(QStringLiteral("Copy"), {18 + innerW - 170, buttonRowY, 80, 34}, [this] { activityCopyLog(); });
    button(QStringLiteral("Dismiss"), {18 + innerW - 80, buttonRowY, 80, 34}, backToSettings_);

    auto* log = new QPlainTextEdit(page);
    log->setGeometry(18, 70, static_cast<int>(innerW), static_cast<int>(logH));
    log->setReadOnly(true);
    log->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    log->setFrameShape(QFrame::StyledPanel);
    log->setFrameShadow(QFrame::Sunken);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    log->setWordWrapMode(QTextOption::WrapAnywhere);
    log->setFont(logFont());
    QPalette palette = log->palette();
    palette.setColor(QPalette::Base, ui::rgba(0.06, 0.06, 0.08));
    palette.setColor(QPalette::Text, ui::white(0.88));
    log->setPalette(palette);
    shownText_ = ActivityLog::shared().allText();
    log->setPlainText(QString::fromStdString(shownText_));
    textView_ = log;
    autoScroll_ = true;
    scrollToEnd(*log);

    auto* badge = new QLabel(page);
    badge->setFont(ui::systemFont(10, QFont::Medium));
    QPalette badgePalette = badge->palette();
    badgePalette.setColor(QPalette::WindowText, goldColor(0.7));
    badge->setPalette(badgePalette);
    badge->setAlignment(Qt::AlignCenter);
    badge->setGeometry(18, static_cast<int>(logH + 70 - 24), static_cast<int>(innerW), 20);
    auto* opacity = new QGraphicsOpacityEffect(badge);
    opacity->setOpacity(0.0);
    badge->setGraphicsEffect(opacity);
    badge->raise();
    scrollIndicator_ = badge;

    ActivityLog::shared().setOnNewEntry([self = QPointer<ActivityPage>(this)] {
        if (self) self->activityLogDidGrow();
    });
    return page;
}

void ActivityPage::close()
{
    ActivityLog::shared().setOnNewEntry({});
    textView_ = nullptr;
    scrollIndicator_ = nullptr;
    if (scrollIndicatorTimer_) scrollIndicatorTimer_->stop();
    scrollIndicatorTimer_ = nullptr;
}

QPlainTextEdit* ActivityPage::activityTextView() const { return textView_; }
QLabel* ActivityPage::activityScrollIndicator() const { return scrollIndicator_; }
QTimer* ActivityPage::activityScrollIndicatorTimer() const { return scrollIndicatorTimer_; }

void ActivityPage::toggleActivityAutoScroll()
{
    autoScroll_ = !autoScroll_;
    showActivityScrollIndicator(autoScroll_ ? QStringLiteral("Auto-scroll: ON") : QStringLiteral("Auto-scroll: OFF"));
    if (autoScroll_ && textView_) scrollToEnd(*textView_);
}

void ActivityPage::activityLogDidGrow()
{
    if (!isShown_() || !textView_) return;
    QPlainTextEdit& view = *textView_;
    std::string now = ActivityLog::shared().allText();
    if (now == shownText_) return;  // a burst: an earlier notice brought these lines already

    QScrollBar& bar = *view.verticalScrollBar();
    const int position = bar.value();
    // Only what changed is touched: the head lines the log let go and the
    // lines it added. Anything else is shown afresh.
    if (const auto at = overlap(shownText_, now)) {
        const auto dropped = std::count(shownText_.begin(), shownText_.begin() + static_cast<std::ptrdiff_t>(*at),
                                        '\n');
        if (dropped > 0) {
            QTextCursor cursor(view.document());
            cursor.movePosition(QTextCursor::Start);
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(dropped));
            cursor.removeSelectedText();
        }
        const std::size_t kept = shownText_.size() - *at;
        if (now.size() > kept) view.appendPlainText(QString::fromStdString(now.substr(kept + 1)));
    } else {
        view.setPlainText(QString::fromStdString(now));
    }
    shownText_ = std::move(now);
    if (autoScroll_) scrollToEnd(view);
    else bar.setValue(position);
}

void ActivityPage::activityCopyLog()
{
    QGuiApplication::clipboard()->setText(QString::fromStdString(ActivityLog::shared().allText()));
    showActivityScrollIndicator(QStringLiteral("Copied to clipboard"));
}

void ActivityPage::showActivityScrollIndicator(const QString& text)
{
    QLabel* badge = scrollIndicator_;
    if (!badge) return;
    badge->setText(text);
    if (scrollIndicatorTimer_) {
        scrollIndicatorTimer_->stop();
        scrollIndicatorTimer_->deleteLater();
    }
    if (badgeFade_) {
        badgeFade_->disconnect(this);  // a newer fade-in schedules the hold
        badgeFade_->stop();
    }
    QPropertyAnimation* fadeIn = fadeBadge(*badge, 1.0, 200);
    badgeFade_ = fadeIn;
    connect(fadeIn, &QAbstractAnimation::finished, this, [this, badge = QPointer<QLabel>(badge)] {
        if (!badge) return;
        auto* hold = new QTimer(badge);
        hold->setSingleShot(true);
        connect(hold, &QTimer::timeout, this, [this, badge] {
            if (badge && badge == scrollIndicator_) badgeFade_ = fadeBadge(*badge, 0.0, 500);
        });
        connect(hold, &QTimer::timeout, hold, &QObject::deleteLater);
        scrollIndicatorTimer_ = hold;
        hold->start(1500);
    });
}

}  // namespace ondaline::app
