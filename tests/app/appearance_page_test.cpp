// The appearance page: where its rows sit, the now-playing font and size it
// writes back only when the user chose them, and the editor both of its
// buttons open, whose saves the dashboard takes over.

#include "app/appearance_page.h"
#include "engine/ondaline.h"
#include "launched_controller.h"
#include "models/settings_codec.h"
#include "models/station_path.h"
#include "ui/console/console_button.h"
#include "ui/console/keyable_borderless_window.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/now_playing_tab.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QParallelAnimationGroup>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace ondaline;
using namespace ondaline::app;

namespace {

QByteArray settingsFile()
{
    QFile f(QString::fromStdString(ImageScheduleConfig::configFile()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : "<missing>";
}
QByteArray encoded(const ImageScheduleConfig& c) { return QByteArray::fromStdString(encodeSettings(c).value()); }
ImageScheduleConfig withFont(double size, const char* name)
{
    ImageScheduleConfig c;
    c.nowPlaying.fontName = name;
    c.nowPlaying.fontSize = size;
    c.streamKey = "file-key";
    return c;
}
void choose(QComboBox* box, const QString& title)
{
    box->setCurrentIndex(box->findText(title));
    emit box->activated(box->currentIndex());
}

}  // namespace

class AppearancePageTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::shared_ptr<QtMainExecutor> main_ = std::make_shared<QtMainExecutor>();
    std::unique_ptr<TestAppDelegate> app_;

    // A dashboard launched on `stored` (none: the file as it is), on the appearance page.
    bool launchOnPage(const std::optional<ImageScheduleConfig>& stored = {})
    {
        app_.reset();
        if (stored) stored->save();
        app_ = test::launchController(main_);
        return slide(true);
    }
    bool slide(bool open)
    {
        open ? app_->openAppearanceDrawer() : app_->closeDrawer();
        return QTest::qWaitFor([&] { return app_->isDrawerOpen() == open && !app_->drawer().slide(); }, 2000);
    }
    void press(const char* title)
    {
        for (auto* button : app_->drawer().scrollView()->widget()->findChildren<ui::ConsoleButton*>())
            if (button->title() == QString::fromUtf8(title)) QTest::mouseClick(button, Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        // The settings file holds the key only where no one else reads it.
        ::umask(077);
        QVERIFY(test::usePrivateStation(home_.path()));
        qputenv("PULSE_SERVER", ("unix:" + home_.path() + "/no-sound-server").toUtf8());
    }
    void cleanup() { app_.reset(); }

    void rowsSitAtTheirFrames()
    {
        QVERIFY(launchOnPage(ImageScheduleConfig()));
        QStringList placed;
        for (QWidget* row : app_->drawer().scrollView()->widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            auto* button = qobject_cast<ui::ConsoleButton*>(row);
            const QRectF f = button ? button->frame() : QRectF(row->geometry());
            const auto* label = qobject_cast<QLabel*>(row);
            const auto* popup = qobject_cast<QComboBox*>(row);
            const QString text = label    ? label->text().section(' ', 0, 1)
                                 : popup  ? popup->itemText(0)
                                 : button ? button->title()
                                          : "-";
            placed << QString("%1 %2,%3 %4x%5").arg(text).arg(f.x()).arg(f.y()).arg(f.width()).arg(f.height());
        }
        QCOMPARE(placed, QString::fromUtf8("← Settings 18,20 310x26|APPEARANCE 18,58 310x16|NOW PLAYING 18,90 310x14|"
                                           "Helvetica-Bold 18,109 310x26|FONT SIZE 18,145 310x14|16 pt 18,164 310x26|"
                                           "- 18,204 310x1|Edit Overlay Layout… 18,219 310x34|Opens the 18,261 310x28|"
                                           "- 18,303 310x1|IMAGE SCHEDULE 18,318 310x14|Edit Schedule… 18,340 310x34")
                             .split('|'));
        QCOMPARE(app_->drawer().scrollView()->widget()->size(), QSize(346, 414));
    }

    // A stored font or size the pop-ups do not list survives opening and
    // closing, the size shown as it is; each pop-up writes back only once
    // chosen in.
    void fontAndSizeAreWrittenOnlyWhenChosen()
    {
        ImageScheduleConfig expected = withFont(25, "Courier-Bold");
        QVERIFY(launchOnPage(expected));
        QCOMPARE(app_->appearancePage().drNPFontPopup()->currentText(), "Helvetica-Bold");
        QCOMPARE(app_->appearancePage().drNPFontSizePopup()->currentText(), "25 pt");
        QVERIFY(slide(false));
        QCOMPARE(settingsFile(), encoded(expected));
        QVERIFY(app_->streamer->nowPlayingConfig() == expected.nowPlaying);

        QVERIFY(launchOnPage());
        choose(app_->appearancePage().drNPFontPopup(), "Menlo-Bold");
        choose(app_->appearancePage().drNPFontSizePopup(), "36 pt");
        QVERIFY(slide(false));
        expected.nowPlaying.fontName = "Menlo-Bold";
        expected.nowPlaying.fontSize = 36;
        QCOMPARE(settingsFile(), encoded(expected));

        expected = withFont(24.7, "Courier-Bold");
        QVERIFY(launchOnPage(expected));
        QCOMPARE(app_->appearancePage().drNPFontSizePopup()->currentText(), "24 pt");
        choose(app_->appearancePage().drNPFontPopup(), "Georgia");  // the size stays 24.7
        QVERIFY(slide(false));
        expected.nowPlaying.fontName = "Georgia";
        QCOMPARE(settingsFile(), encoded(expected));
    }

    // Both buttons show the one editor, loaded from the dashboard's record
    // unless it is on screen; its save gives the overlays to the engine and
    // the file, where the dashboard's own settings stay the dashboard's.
    void bothButtonsOpenTheOneEditorWhoseSaveTheDashboardTakes()
    {
        QVERIFY(launchOnPage(withFont(24, "Helvetica-Bold")));
        TestAppDelegate& app = *app_;
        app.scheduleConfig.streamKey = "dash-key";
        app.scheduleConfig.nowPlaying.fontSize = 30.5;
        press("Edit Overlay Layout…");
        editor::OverlayEditorController* const editor = app.overlayEditor.get();
        QVERIFY(editor && editor->window->isVisible() && editor->config == app.scheduleConfig);
        QCOMPARE(editor->nowPlayingTab()->npFontSizeField()->text(), "30.5");
        press("Edit Schedule…");
        QVERIFY(app.overlayEditor.get() == editor && editor->config == app.scheduleConfig);
        QCOMPARE(editor->nowPlayingTab()->npFontSizeField()->text(), "30.5");
        // The menu's keys work with the editor in front: Ctrl+W closes the drawer.
        QTest::keyClick(editor->window->windowHandle(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(QTest::qWaitFor([&] { return !app.isDrawerOpen() && !app.drawer().slide(); }, 2000));
        QVERIFY(editor->window->isVisible() && app.window->isVisible());

        ImageScheduleConfig expected = app.scheduleConfig;
        app.scheduleConfig.streamKey = expected.streamKey = "later-key";  // changed on the settings page meanwhile
        editor->nowPlayingTab()->crawlerEnableCheck()->click();
        expected.crawler.enabled = !expected.crawler.enabled;
        editor->closeEditor();
        QVERIFY(app.streamer->crawlerConfig() == expected.crawler &&
                app.streamer->vizConfig() == expected.visualization &&
                app.streamer->nowPlayingConfig() == expected.nowPlaying);
        QCOMPARE(settingsFile(), encoded(expected));

        // The station folder changes while the editor is open: its next save
        // goes to the new folder's file as the dashboard's own, keeping
        // nothing aside there.
        const QString other = home_.path() + "/Other";
        press("Edit Overlay Layout…");
        StationPath::save(other.toStdString());
        app.openActivityDrawer();  // an autosave that reads no page
        QVERIFY(QTest::qWaitFor([&] { return app.activeDrawer() == DrawerPage::activity && app.isDrawerOpen(); }));
        QTest::qWait(1100);
        app.autoSaveDrawerSettings();
        editor->nowPlayingTab()->crawlerEnableCheck()->click();
        editor->closeEditor();
        QCOMPARE(QDir(other + "/Misc/System/Streamer").entryList(QDir::Files), QStringList{"ondaline_schedule.json"});
        StationPath::save((home_.path() + "/Station").toStdString());
    }
};

QTEST_MAIN(AppearancePageTest)
#include "appearance_page_test.moc"
