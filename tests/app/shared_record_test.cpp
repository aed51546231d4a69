// The dashboard's drawer and the overlay editor open side by side, as a
// station switches between them: whichever changed a setting last is what
// the file holds and both windows show, a save of one never puts back what
// the other changed, and quitting keeps what either holds unsaved.

#include "app/app_delegate.h"
#include "app/appearance_page.h"
#include "app/qt_main_executor.h"
#include "models/settings_codec.h"
#include "sources/tcp_audio_server.h"
#include "support/private_home.h"
#include "support/tcp_peer.h"
#include "ui/console/console_button.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/images_tab.h"
#include "ui/editor/now_playing_tab.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QParallelAnimationGroup>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

using namespace ondaline;
using namespace ondaline::app;

namespace {

ImageScheduleConfig storedFile()
{
    QFile file(QString::fromStdString(ImageScheduleConfig::configFile()));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return decodeSettings(file.readAll().toStdString()).value_or(ImageScheduleConfig{});
}

void choose(QComboBox* box, const QString& title)
{
    box->setCurrentIndex(box->findText(title));
    emit box->activated(box->currentIndex());
}

void retype(QLineEdit* field, const QString& text, bool enter)
{
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
    if (enter) QTest::keyClick(field, Qt::Key_Return);
}

// Every version of a file written while it lives, each read the moment it
// is in place (closed after writing, or renamed onto the file's name).
class FileVersions {
public:
    explicit FileVersions(const QString& path) : name_(QFileInfo(path).fileName().toStdString()), path_(path)
    {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        inotify_add_watch(fd_, QFile::encodeName(QFileInfo(path).path()).constData(), IN_CLOSE_WRITE | IN_MOVED_TO);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd ready{fd_, POLLIN, 0};
                if (::poll(&ready, 1, 5) > 0) readEvents();
            }
            readEvents();
        });
    }
    ~FileVersions()
    {
        finish();
        ::close(fd_);
    }
    // Every version written so far, the last events read: the watching ends.
    std::vector<QByteArray> finish()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return versions_;
    }

private:
    void readEvents()
    {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                at += sizeof(inotify_event) + event->len;
                if (event->len == 0 || name_ != event->name) continue;
                QFile file(path_);
                const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : "<gone>";
                std::lock_guard guard(lock_);
                versions_.push_back(bytes);
            }
        }
    }
    const std::string name_;
    const QString path_;
    int fd_ = -1;
    std::atomic<bool> stop_ = false;
    std::mutex lock_;
    std::vector<QByteArray> versions_;
    std::thread thread_;
};

}  // namespace

class SharedRecordTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::shared_ptr<QtMainExecutor> main_ = std::make_shared<QtMainExecutor>();
    std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
    std::unique_ptr<TestAppDelegate> app_;

    // A dashboard launched on `stored`, its source the TCP input nobody sends to.
    void launch(ImageScheduleConfig stored)
    {
        app_.reset();
        stored.audioSource = "tcp";
        stored.save();
        app_ = std::make_unique<TestAppDelegate>(main_, clock_);
        app_->tcpServer = sources::TCPAudioServer::create(main_, test::closedPort());
        app_->applicationDidFinishLaunching();
    }
    // A drawer request run to the end of its slides; the autosave's second is over.
    bool settle(void (TestAppDelegate::*request)())
    {
        clock_->advance(2);
        (app_.get()->*request)();
        return QTest::qWaitFor([&] { return !app_->drawer().slide(); }, 2000);
    }
    bool closeDrawer()
    {
        clock_->advance(2);
        app_->closeDrawer();
        return QTest::qWaitFor([&] { return !app_->isDrawerOpen() && !app_->drawer().slide(); }, 2000);
    }
    void press(const char* title)
    {
        for (auto* button : app_->drawer().scrollView()->widget()->findChildren<ui::ConsoleButton*>())
            if (button->title() == QString::fromUtf8(title)) QTest::mouseClick(button, Qt::LeftButton);
    }
    editor::OverlayEditorController& editor() { return *app_->overlayEditor; }
    int editorTab() { return editor().window->findChild<QTabWidget*>()->currentIndex(); }
    QCheckBox* prefixCheck()
    {
        for (auto* box : editor().window->findChildren<QCheckBox*>())
            if (box->text().contains("prefix")) return box;
        return nullptr;
    }
    // The editor's debounced save has run.
    bool editorSaved()
    {
        return QTest::qWaitFor([&] { return !editor().isSavePending(); }, 2000);
    }

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home_.path());
        QVERIFY(QDir().mkpath(home_.path() + "/Station"));
        QFile dot(home_.path() + "/.ondaline_station");
        QVERIFY(dot.open(QIODevice::WriteOnly) && dot.write((home_.path() + "/Station").toUtf8()) > 0);
    }

    // The editor open while the drawer's font and size change: they reach
    // its controls, and its next save keeps them.
    void editorSaveKeepsTheDrawersFontAndSize()
    {
        launch({});
        QVERIFY(settle(&TestAppDelegate::openAppearanceDrawer));
        press("Edit Overlay Layout…");
        choose(app_->appearancePage().drNPFontPopup(), "Menlo-Bold");
        choose(app_->appearancePage().drNPFontSizePopup(), "32 pt");
        QVERIFY(settle(&TestAppDelegate::backToSettingsDrawer) && closeDrawer());
        QVERIFY(storedFile().nowPlaying.fontName == "Menlo-Bold" && storedFile().nowPlaying.fontSize == 32);

        prefixCheck()->click();
        QVERIFY(editorSaved());
        const NowPlayingConfig stored = storedFile().nowPlaying;
        QVERIFY(stored.showPrefix);
        QCOMPARE(QString::fromStdString(stored.fontName), "Menlo-Bold");
        QCOMPARE(stored.fontSize, 32.0);
        QCOMPARE(editor().nowPlayingTab()->npFontPopup()->currentText(), "Menlo-Bold");
        QCOMPARE(editor().nowPlayingTab()->npFontSizeField()->text(), "32");
        editor().closeEditor();
    }

    // A size chosen on the page is the newest at once; the editor's later
    // one shows on the page, and closing the drawer does not undo it.
    void pageChoiceNeverOverwritesANewerEditorChange()
    {
        launch({});
        QVERIFY(settle(&TestAppDelegate::openAppearanceDrawer));
        choose(app_->appearancePage().drNPFontSizePopup(), "32 pt");
        press("Edit Overlay Layout…");
        QCOMPARE(editor().nowPlayingTab()->npFontSizeField()->text(), "32");
        retype(editor().nowPlayingTab()->npFontSizeField(), "40", true);
        QVERIFY(editorSaved());
        QCOMPARE(storedFile().nowPlaying.fontSize, 40.0);
        QCOMPARE(app_->appearancePage().drNPFontSizePopup()->currentText(), "40 pt");
        QVERIFY(closeDrawer());
        QCOMPARE(storedFile().nowPlaying.fontSize, 40.0);
        editor().closeEditor();
    }

    // Either button with the editor on screen brings it forward on the tab
    // asked for, with everything typed still there.
    void pressingAgainKeepsWhatIsTyped()
    {
        launch({});
        QVERIFY(settle(&TestAppDelegate::openAppearanceDrawer));
        press("Edit Schedule…");
        retype(editor().imagesTab()->hourOffsetField(), "5", false);
        retype(editor().nowPlayingTab()->npFilePathField(), "/x/song.txt", false);
        press("Edit Overlay Layout…");
        QCOMPARE(editor().imagesTab()->hourOffsetField()->text(), "5");
        QCOMPARE(editor().nowPlayingTab()->npFilePathField()->text(), "/x/song.txt");
        QCOMPARE(editorTab(), 0);
        press("Edit Schedule…");
        QCOMPARE(editorTab(), 1);
        editor().closeEditor();
        QVERIFY(storedFile().hourOffset == 5 && storedFile().nowPlaying.filePath == "/x/song.txt");
        QVERIFY(closeDrawer());
    }

    // An editor save writes the file once, from the dashboard's record: no
    // version of it ever holds the bitrate as it was before the drawer's change.
    void editorSaveWritesOneVersionNeverAStaleOne()
    {
        launch({});
        QVERIFY(settle(&TestAppDelegate::openAppearanceDrawer));
        press("Edit Overlay Layout…");
        QVERIFY(settle(&TestAppDelegate::backToSettingsDrawer));
        choose(app_->settingsPage().drBitratePopup(), "96 kbps");
        QVERIFY(closeDrawer());
        QCOMPARE(storedFile().audioBitrate, 96000);

        std::vector<QByteArray> versions;
        {
            FileVersions watcher(QString::fromStdString(ImageScheduleConfig::configFile()));
            prefixCheck()->click();
            QVERIFY(editorSaved());
            QTest::qWait(200);
            versions = watcher.finish();
        }
        for (const QByteArray& version : versions) {
            const auto written = decodeSettings(version.toStdString());
            QVERIFY2(written && written->audioBitrate == 96000 && written->nowPlaying.showPrefix, version);
        }
        QCOMPARE(versions.size(), std::size_t{1});
        editor().closeEditor();
    }

    // A stored size the list lacks is shown as it is and kept; the editor's
    // shows on the open page the same way; a listed one chosen replaces it.
    void unlistedSizeIsShownAsItIs()
    {
        ImageScheduleConfig stored;
        stored.nowPlaying.fontSize = 26;
        launch(stored);
        QVERIFY(settle(&TestAppDelegate::openAppearanceDrawer));
        QCOMPARE(app_->appearancePage().drNPFontSizePopup()->currentText(), "26 pt");
        press("Edit Overlay Layout…");
        retype(editor().nowPlayingTab()->npFontSizeField(), "26.5", true);
        QVERIFY(editorSaved());
        QCOMPARE(app_->appearancePage().drNPFontSizePopup()->currentText(), "26.5 pt");
        QVERIFY(closeDrawer());
        QCOMPARE(storedFile().nowPlaying.fontSize, 26.5);

        QVERIFY(settle(&TestAppDelegate::openAppearanceDrawer));
        QCOMPARE(app_->appearancePage().drNPFontSizePopup()->currentText(), "26.5 pt");
        choose(app_->appearancePage().drNPFontSizePopup(), "32 pt");
        QCOMPARE(editor().nowPlayingTab()->npFontSizeField()->text(), "32");
        QVERIFY(closeDrawer());
        QCOMPARE(storedFile().nowPlaying.fontSize, 32.0);
        editor().closeEditor();
    }

    // Quitting is final for the process: this runs last. A key typed and a
    // bitrate chosen in the drawer, and an hour offset typed in the editor,
    // none of them saved yet, reach the file.
    void quitSavesWhatBothWindowsHold()
    {
        launch({});
        QVERIFY(settle(&TestAppDelegate::openAppearanceDrawer));
        press("Edit Schedule…");
        QVERIFY(settle(&TestAppDelegate::backToSettingsDrawer));
        retype(app_->settingsPage().drStreamKeyField(), "typed-key", false);
        choose(app_->settingsPage().drBitratePopup(), "192 kbps");
        retype(editor().imagesTab()->hourOffsetField(), "7", false);
        QVERIFY(!editor().isSavePending());
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        const ImageScheduleConfig stored = storedFile();
        QVERIFY(stored.streamKey == "typed-key" && stored.audioBitrate == 192000 && stored.hourOffset == 7);
    }
};

QTEST_MAIN(SharedRecordTest)
#include "shared_record_test.moc"
