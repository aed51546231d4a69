// The activity page: the session log in a dark monospaced view that follows
// new lines, Copy and the way back to the settings, and a small badge that
// confirms a copy or the auto-scroll's new state.

#include "app/app_delegate.h"
#include "app/drawer_controls.h"

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

QWidget* TestAppDelegate::buildActivityDrawerContent()
{
    const double pageW = drawerW - bezelPad;
    const double innerW = pageW - 36;
    const double pageH = dashH - 28;
    const double buttonRowY = pageH - 34 - 12;
    const double logH = buttonRowY - 70 - 8;

    auto* page = new ui::FlippedView;
    page->resize(static_cast<int>(pageW), static_cast<int>(pageH));

    const auto button = [&](const QString& title, QRectF frame, void (TestAppDelegate::*action)()) {
        ui::ConsoleButton* b = makeDrawerButton(title, [this, action] { (this->*action)(); });
        b->setParent(page);
        b->setFrame(frame);
    };
    button(QString::fromUtf8("← Settings"), {18, 16, 90, 26}, &TestAppDelegate::backToSettingsDrawer);
    QLabel* title = makeDrawerLabel(QStringLiteral("ACTIVITY LOG"), 11, QFont::Medium, goldColor(0.7), 3);
    title->setParent(page);
    title->setGeometry(18, 48, static_cast<int>(innerW), 16);
    button(QStringLiteral("Copy"), {18 + innerW - 170, buttonRowY, 80, 34}, &TestAppDelegate::activityCopyLog);
    button(QStringLiteral("Dismiss"), {18 + innerW - 80, buttonRowY, 80, 34}, &TestAppDelegate::backToSettingsDrawer);

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
    activityShownText = ActivityLog::shared().allText();
    log->setPlainText(QString::fromStdString(activityShownText));
    activityTextView = log;
    activityAutoScroll = true;
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
    activityScrollIndicator = badge;

    ActivityLog::shared().setOnNewEntry([self = QPointer<TestAppDelegate>(this)] {
        if (self) self->activityLogDidGrow();
    });
    return page;
}

void TestAppDelegate::activityLogDidGrow()
{
    if (activeDrawer() != DrawerPage::activity || !activityTextView) return;
    QPlainTextEdit& view = *activityTextView;
    std::string now = ActivityLog::shared().allText();
    if (now == activityShownText) return;  // a burst: an earlier notice brought these lines already

    QScrollBar& bar = *view.verticalScrollBar();
    const int position = bar.value();
    // Only what changed is touched: the head lines the log let go and the
    // lines it added. Anything else is shown afresh.
    if (const auto at = overlap(activityShownText, now)) {
        const auto dropped = std::count(activityShownText.begin(),
                                        activityShownText.begin() + static_cast<std::ptrdiff_t>(*at), '\n');
        if (dropped > 0) {
            QTextCursor cursor(view.document());
            cursor.movePosition(QTextCursor::Start);
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(dropped));
            cursor.removeSelectedText();
        }
        const std::size_t kept = activityShownText.size() - *at;
        if (now.size() > kept) view.appendPlainText(QString::fromStdString(now.substr(kept + 1)));
    } else {
        view.setPlainText(QString::fromStdString(now));
    }
    activityShownText = std::move(now);
    if (activityAutoScroll) scrollToEnd(view);
    else bar.setValue(position);
}

void TestAppDelegate::activityCopyLog()
{
    QGuiApplication::clipboard()->setText(QString::fromStdString(ActivityLog::shared().allText()));
    showActivityScrollIndicator(QStringLiteral("Copied to clipboard"));
}

void TestAppDelegate::showActivityScrollIndicator(const QString& text)
{
    QLabel* badge = activityScrollIndicator;
    if (!badge) return;
    badge->setText(text);
    if (activityScrollIndicatorTimer) {
        activityScrollIndicatorTimer->stop();
        activityScrollIndicatorTimer->deleteLater();
    }
    if (activityBadgeFade) {
        activityBadgeFade->disconnect(this);  // a newer fade-in schedules the hold
        activityBadgeFade->stop();
    }
    QPropertyAnimation* fadeIn = fadeBadge(*badge, 1.0, 200);
    activityBadgeFade = fadeIn;
    connect(fadeIn, &QAbstractAnimation::finished, this, [this, badge = QPointer<QLabel>(badge)] {
        if (!badge) return;
        auto* hold = new QTimer(badge);
        hold->setSingleShot(true);
        connect(hold, &QTimer::timeout, this, [this, badge] {
            if (badge && badge == activityScrollIndicator) activityBadgeFade = fadeBadge(*badge, 0.0, 500);
        });
        connect(hold, &QTimer::timeout, hold, &QObject::deleteLater);
        activityScrollIndicatorTimer = hold;
        hold->start(1500);
    });
}

}  // namespace ondaline::app
