// The activity page: the session log as it grows from any thread, bursts
// beyond the log's length, Copy, the space bar's auto-scroll and its badge.

#include "app/activity_page.h"
#include "base/activity_log.h"
#include "base/print.h"
#include "launched_controller.h"
#include "ui/console/keyable_borderless_window.h"

#include <QClipboard>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <thread>

using namespace ondaline;
using namespace ondaline::app;

namespace {

QString logText() { return QString::fromStdString(ActivityLog::shared().allText()); }

double badgeOpacity(const ActivityPage& page)
{
    return static_cast<QGraphicsOpacityEffect*>(page.activityScrollIndicator()->graphicsEffect())->opacity();
}

}  // namespace

class ActivityPageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(test::usePrivateStation(home_.path())); }
    void init() { app_ = test::launchController(main_); }
    void cleanup() { app_.reset(); }

    void followsTheLogFromAnyThreadAndThroughBursts()
    {
        TestAppDelegate& app = *app_;
        ActivityPage& page = app.activityPage();
        page.toggleActivityAutoScroll();  // off
        app.openActivityDrawer();
        QTRY_VERIFY(app.isDrawerOpen());
        QPlainTextEdit& view = *page.activityTextView();
        QVERIFY(page.activityAutoScroll());  // every opening turns it on again
        QCOMPARE(view.toPlainText(), logText());
        QCOMPARE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());

        std::thread([] { print("from the engine's thread"); }).join();
        QTRY_VERIFY_WITH_TIMEOUT(view.toPlainText().endsWith("from the engine's thread"), 2000);

        // More than the log keeps: its head goes, and the view with it.
        std::thread([] {
            for (int i = 0; i < 6000; ++i) print("burst line " + std::to_string(i));
        }).join();
        QTRY_VERIFY_WITH_TIMEOUT(view.toPlainText().endsWith("burst line 5999"), 10000);
        QCOMPARE(view.toPlainText(), logText());
        QCOMPARE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    }

    void copyAndTheSpaceBarShowTheBadge()
    {
        TestAppDelegate& app = *app_;
        ActivityPage& page = app.activityPage();
        app.openActivityDrawer();
        QTRY_VERIFY(app.isDrawerOpen());
        QPlainTextEdit& view = *page.activityTextView();
        for (int i = 0; i < 200; ++i) print("filler " + std::to_string(i));
        QTRY_VERIFY(view.toPlainText().endsWith("filler 199"));

        page.activityCopyLog();
        QCOMPARE(QGuiApplication::clipboard()->text(), logText());
        QCOMPARE(page.activityScrollIndicator()->text(), "Copied to clipboard");

        // One press, one toggle, whichever objects the key passes through.
        QTest::keyClick(app.window->windowHandle(), Qt::Key_Space);
        QVERIFY(!page.activityAutoScroll());
        QCOMPARE(page.activityScrollIndicator()->text(), "Auto-scroll: OFF");
        QTRY_COMPARE_WITH_TIMEOUT(badgeOpacity(page), 1.0, 1000);
        QTRY_COMPARE_WITH_TIMEOUT(badgeOpacity(page), 0.0, 4000);

        // Off: new lines leave the view where it is.
        view.verticalScrollBar()->setValue(10);
        print("while reading");
        QTRY_VERIFY(view.toPlainText().endsWith("while reading"));
        QCOMPARE(view.verticalScrollBar()->value(), 10);

        QTest::keyClick(app.window->windowHandle(), Qt::Key_Space);
        QCOMPARE(page.activityScrollIndicator()->text(), "Auto-scroll: ON");
        QCOMPARE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());

        // Closing while the badge shows: its fade-out never comes.
        QTRY_VERIFY(page.activityScrollIndicatorTimer() && page.activityScrollIndicatorTimer()->isActive());
        const QPointer<QTimer> hold = page.activityScrollIndicatorTimer();
        app.backToSettingsDrawer();
        QVERIFY(!hold || !hold->isActive());
        QVERIFY(!page.activityTextView() && !page.activityScrollIndicator());
    }

    void aLineWhileTheSettingsShowLeavesTheOldView()
    {
        TestAppDelegate& app = *app_;
        app.openActivityDrawer();
        QTRY_VERIFY(app.isDrawerOpen());
        const QPointer<QPlainTextEdit> view = app.activityPage().activityTextView();
        const QString before = view->toPlainText();
        app.backToSettingsDrawer();  // the old view stays until the slide is over
        print("not for the old view");
        QTest::qWait(100);
        QVERIFY(view);
        QCOMPARE(view->toPlainText(), before);
    }

private:
    QTemporaryDir home_;
    std::shared_ptr<QtMainExecutor> main_ = std::make_shared<QtMainExecutor>();
    std::unique_ptr<TestAppDelegate> app_;
};

QTEST_MAIN(ActivityPageTest)
#include "activity_page_test.moc"
