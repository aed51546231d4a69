// The side drawer: where each request leaves it from each state, its slides and the requests made during them,
// and the settings page's rows for each stored service.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "base/activity_log.h"
#include "models/station_path.h"
#include "sources/tcp_audio_server.h"
#include "support/log_capture.h"
#include "support/private_home.h"
#include "support/tcp_peer.h"
#include "ui/console/console_bezel_view.h"
#include "ui/console/console_button.h"
#include "ui/console/keyable_borderless_window.h"

#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QParallelAnimationGroup>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace ondaline;
using namespace ondaline::app;

namespace {

// The drawer requests the console's buttons make.
using Request = void (*)(TestAppDelegate&);
void toggleSettings(TestAppDelegate& app) { app.toggleSettingsDrawer(); }
void openAppearance(TestAppDelegate& app) { app.openAppearanceDrawer(); }
void backToSettings(TestAppDelegate& app) { app.backToSettingsDrawer(); }
void openActivity(TestAppDelegate& app) { app.openActivityDrawer(); }

// A launched controller on the test's clock, its source the TCP input on a port nobody sends to.
struct Rig {
    std::shared_ptr<QtMainExecutor> main = std::make_shared<QtMainExecutor>();
    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    std::unique_ptr<TestAppDelegate> app = std::make_unique<TestAppDelegate>(main, clock);

    Rig()
    {
        app->scheduleConfig.audioSource = "tcp";
        app->tcpServer = sources::TCPAudioServer::create(main, test::closedPort());
        app->applicationDidFinishLaunching();
    }
    // Makes the request, if any, and runs its slides to their ends; then 2 s pass: the next autosave runs whole.
    void settle(Request request = nullptr)
    {
        if (request) request(*app);
        while (app->drawer().slide() && app->drawer().slide()->state() == QAbstractAnimation::Running)
            app->drawer().slide()->setCurrentTime(app->drawer().slide()->duration());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        clock->advance(2);
    }
    // "<open page or closed> <window width, unless sliding> <bezel's right corners>"
    QString state(bool settled = true) const
    {
        const QString pages[] = {"settings", "appearance", "activity"};
        return (app->isDrawerOpen() ? pages[static_cast<int>(app->activeDrawer())] : "closed") +
               (settled ? " " + QString::number(app->window->width()) : "") +
               (app->dashboard().bezelView()->rightCornersFlat() ? " square" : " round");
    }
    void pressSettings() { QTest::mouseClick(app->dashboard().settingsButton(), Qt::LeftButton); }  // at its centre
};

// The tops of the open settings page's rows (-1: none) and its height; nothing when a row is not 310 wide at x 18.
QList<int> rowTops(const TestAppDelegate& app)
{
    const QWidget* page = app.drawer().scrollView()->widget();
    QMap<QString, int> titled;
    QList<int> dividers;
    int streamTop = page->height();
    for (QWidget* row : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const auto* view = qobject_cast<ui::ConsoleView*>(row);
        const QRect frame = view ? view->frame().toRect() : row->geometry();
        if (frame.x() != 18 || frame.width() != 310) return {};
        if (const auto* label = qobject_cast<QLabel*>(row)) titled[label->text()] = frame.y();
        if (const auto* button = qobject_cast<ui::ConsoleButton*>(row)) titled[button->title()] = frame.y();
        if (row->metaObject() == &QWidget::staticMetaObject && frame.height() == 1) dividers << frame.y();
        if (frame.y() > app.settingsPage().drStreamModePopup()->geometry().bottom())
            streamTop = std::min(streamTop, frame.y());
    }
    std::sort(dividers.begin(), dividers.end());
    const auto at = [&](const char* title) { return titled.value(QString::fromUtf8(title), -1); };
    const auto top = [](const QWidget* row) { return row ? row->geometry().y() : -1; };
    return {at("SETTINGS"),
            at("STATION NAME"),
            top(app.settingsPage().drStationNameField()),
            at("AUDIO SOURCE"),
            top(app.settingsPage().drAudioSourcePopup()),
            top(app.settingsPage().drAppPickerContainer()),
            dividers.value(0, -1),
            at("STREAM USING"),
            top(app.settingsPage().drStreamModePopup()),
            streamTop,
            dividers.value(1, -1),
            at("BITRATE"),
            top(app.settingsPage().drBitratePopup()),
            at("STATION PATH"),
            top(app.settingsPage().drStationPathField()->parentWidget()),
            at("AUDIO OUTPUT"),
            top(app.settingsPage().drAudioOutputPopup()),
            app.settingsPage().drAppearanceButton() ? int(app.settingsPage().drAppearanceButton()->frame().y()) : -1,
            at("Activity…"),
            page->height()};
}

}  // namespace

class DrawerTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home_.path());
        StationPath::save((home_.path() + "/station").toStdString());
    }

    void everyRequestFromEveryState()
    {
        Rig rig;
        TestAppDelegate& app = *rig.app;
        const Request requests[] = {toggleSettings, openAppearance, backToSettings, openActivity};
        // The state before, the request that leads there, the state after each request.
        const struct {
            QString from;
            Request open;
            QStringList after;
        } table[] = {
            {"closed", nullptr, {"settings", "appearance", "closed", "activity"}},
            {"settings", requests[0], {"closed", "appearance", "settings", "activity"}},
            {"appearance", requests[1], {"settings", "appearance", "settings", "activity"}},
            {"activity", requests[3], {"settings", "activity", "settings", "activity"}},
        };
        for (const auto& row : table) {
            for (int r = 0; r < 4; ++r) {
                while (app.isDrawerOpen()) rig.settle(toggleSettings);
                rig.settle(row.open);
                app.drawerSaveDebounceTimer->start();
                requests[r](app);
                const bool closing = app.isDrawerOpen() && app.drawer().slide();  // a close stops the debounce
                const QString from = row.from + " +" + QString::number(r) + ": ";
                const QString seen = from + (closing && app.drawerSaveDebounceTimer->isActive() ? "debouncing " : "");
                rig.settle();
                const QString& after = row.after[r];
                QCOMPARE(seen + rig.state(), from + after + (after == "closed" ? " 520 round" : " 880 square"));
            }
        }
    }

    void slidesAndRequestsDuringThem()
    {
        Rig rig;
        TestAppDelegate& app = *rig.app;
        const auto quarterWay = [&](int duration) {
            QCOMPARE(app.drawer().slide()->duration(), duration);
            app.drawer().slide()->setCurrentTime(duration / 4);
        };
        rig.pressSettings();
        quarterWay(400);
        QVERIFY(std::abs(app.window->width() - 567) <= 2);
        QCOMPARE(rig.state(false), "closed square");
        const QPointer<QWidget> firstPage = app.drawer().scrollView()->widget();
        rig.pressSettings();  // decided as if closed: opens again from where the slide stopped
        QVERIFY(std::abs(app.window->width() - 567) <= 2);
        QCOMPARE(rig.state(false), "closed square");
        rig.settle();
        QCOMPARE(rig.state(), "settings 880 square");
        QVERIFY(!firstPage && app.drawer().scrollView()->widget());

        const QRect moved = app.window->geometry().translated(30, 40);
        app.window->move(moved.topLeft());
        test::LogCapture log;
        rig.pressSettings();
        quarterWay(350);
        QCOMPARE(rig.state(false), "settings square");
        rig.clock->advance(2);
        rig.pressSettings();  // decided as if open: closes again, with an autosave of its own
        rig.settle();
        QCOMPARE(rig.state(), "closed 520 round");
        QCOMPARE(app.window->geometry(), QRect(moved.topLeft(), QSize(520, 640)));
        const auto lines = log.messages();
        QCOMPARE(std::count(lines.begin(), lines.end(), "Ondaline: Settings auto-saved"), 2);

        int notices = 0;  // only closing the activity page lets the log's listener go
        for (const Request open : {openActivity, openAppearance}) {
            rig.settle(open);
            ActivityLog::shared().setOnNewEntry([&notices] { ++notices; });
            rig.settle(toggleSettings);  // to the settings page
            rig.settle(toggleSettings);
            ActivityLog::shared().append("a line for the activity page");
            QCoreApplication::processEvents();
            QCOMPARE(std::exchange(notices, 0) > 0, open != openActivity);
        }
        ActivityLog::shared().setOnNewEntry({});
    }

    // The activity page's badge has a fade of its own inside the face's: the
    // slide that closes the page paints without a fault, and the face fades.
    void closingTheActivityPagePaintsCleanly()
    {
        Rig rig;
        TestAppDelegate& app = *rig.app;
        QTest::failOnWarning(QRegularExpression("^QPainter::"));
        QVERIFY(QTest::qWaitForWindowExposed(app.window.get()));
        rig.settle(openActivity);
        app.closeWindow();  // Ctrl+W, from the dashboard or the help window
        for (int quarter = 0; quarter < 4; ++quarter) {
            app.drawer().slide()->setCurrentTime(app.drawer().slide()->duration() * quarter / 4);
            app.window->repaint();
            if (quarter > 0) QVERIFY(app.drawer().faceFade()->isEnabled());  // the face still fades
        }
    }

    void settingsPageRows()
    {
        Rig rig;
        TestAppDelegate& app = *rig.app;
        const QList<int> head = {20, 52, 71, 113, 132, 164, 204, 219, 238, 278};
        const QList<int> video = {357, 372, 391, 446, 465, 526, 545, 600, 663, 731};
        const QList<int> kick = {428, 443, 462, 517, 536, 597, 616, 671, 734, 802};
        const QList<int> rtmp = {392, 407, 426, 481, 500, 561, 580, 635, 698, 766};
        const QList<int> icecast = {449, 464, 483, 538, 557, 618, 637, -1, 692, 760};
        // The stored service and bitrate; the source's item, service, bitrate, and the server URL, stream key
        // and Icecast host, port, mount and password fields shown ("-": none, checked before the page replaced
        // is gone); the rows from the divider above "BITRATE" on.
        const struct {
            const char* mode;
            std::int64_t bitrate;
            QString shown;
            QList<int> tail;
        } cases[] = {
            {"rtmp", 96000, "1|RTMP (Other)|96 kbps|rtmp://in.example/a|key|-|-|-|-", rtmp},
            {"youtube", 128000, "1|YouTube Live|128 kbps|-|key|-|-|-|-", video},
            {"icecast", 256000, "1|Icecast|256 kbps|-|-||8000|/stream|", icecast},
            {"kick", 192000, "1|Kick|192 kbps|rtmp://in.example/a|key|-|-|-|-", kick},
            {"facebook", 100000, "1|Facebook Live|320 kbps|-|key|-|-|-|-", video},
            {"twitch", 320000, "0|RTMP (Other)|320 kbps||key|-|-|-|-", rtmp},  // last: its source is not saved
        };
        for (const auto& c : cases) {
            if (app.isDrawerOpen()) rig.pressSettings();
            rig.settle();
            ImageScheduleConfig& stored = app.scheduleConfig;
            const char* source = c.mode == std::string("twitch") ? "elsewhere" : "tcp";
            std::tie(stored.streamMode, stored.audioBitrate, stored.serverURL, stored.streamKey,
                     stored.audioSource) = std::tuple(c.mode, c.bitrate, "rtmp://in.example/a", "key", source);
            rig.pressSettings();
            QStringList shown = {QString::number(app.settingsPage().drAudioSourcePopup()->currentIndex()),
                                 app.settingsPage().drStreamModePopup()->currentText(),
                                 app.settingsPage().drBitratePopup()->currentText()};
            for (const QLineEdit* field :
                 {app.settingsPage().drServerURLField(), app.settingsPage().drStreamKeyField(),
                  app.settingsPage().drIcecastHostField(), app.settingsPage().drIcecastPortField(),
                  app.settingsPage().drIcecastMountField(), app.settingsPage().drIcecastPasswordField()})
                shown << (field ? field->text() : "-");
            QCOMPARE(shown.join('|'), c.shown);
            QCOMPARE(rowTops(app), head + c.tail);
            QVERIFY(app.settingsPage().drAppPickerContainer()->isHidden());
            if (app.settingsPage().drIcecastPortField())
                QCOMPARE(app.settingsPage().drIcecastPortField()->alignment(), Qt::AlignCenter);
            rig.settle();
            QCOMPARE(rig.state(), "settings 880 square");
        }
    }
};

QTEST_MAIN(DrawerTest)
#include "drawer_test.moc"
