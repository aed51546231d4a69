// The dashboard's drawer and the overlay editor open side by side, as a
// station switches between them: whichever changed a setting last is what
// the file holds and both windows show, a save of one never puts back what
// the other changed, each field the editor owns reaches the file and the
// stream, and quitting keeps what either holds unsaved.

#include "app/app_delegate.h"
#include "app/appearance_page.h"
#include "app/qt_main_executor.h"
#include "engine/ondaline.h"
#include "launched_controller.h"
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
#include <QImage>
#include <QLineEdit>
#include <QParallelAnimationGroup>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
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

QString heldAs(const QString& inFile, const QString& onAir) { return "file: " + inFile + "; stream: " + onAir; }
QString onOff(bool on) { return on ? "on" : "off"; }
QString fileName(const std::optional<std::string>& path)
{
    return path ? QFileInfo(QString::fromStdString(*path)).fileName() : QString("none");
}

// Monday at 19:30 here: the schedule's clock in the cases that need one.
std::chrono::system_clock::time_point mondayEvening()
{
    std::tm local{};
    local.tm_min = 30;
    local.tm_hour = 19;
    local.tm_mday = 5;  // January 2026
    local.tm_year = 126;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

}  // namespace

class SharedRecordTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::shared_ptr<QtMainExecutor> main_ = std::make_shared<QtMainExecutor>();
    std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>();
    std::unique_ptr<TestAppDelegate> app_;
    std::unique_ptr<test::TCPPeer> rtmp_;  // outlives the engine's connection

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
    // The editor's file panels answer `file`.
    void panelsChoose(const std::string& file)
    {
        editor().pickFile = [file](QWidget*, const QString&, const QStringList&) {
            return QString::fromStdString(file);
        };
    }
    std::string stationFile(const char* name) { return (home_.path() + "/Station/" + name).toStdString(); }

    // A field the editor owns: what the dashboard starts on, the change made
    // in the editor, and what the file and the running stream then hold.
    struct EditorField {
        const char* name;
        std::function<void(ImageScheduleConfig&)> stored;
        std::function<void()> change;
        std::function<QString(const ImageScheduleConfig& file, const Ondaline& engine)> held;
        QString wanted;
    };
    std::vector<EditorField> editorFields()
    {
        const std::string fallback = stationFile("default.png"), evening = stationFile("evening.png"),
                          late = stationFile("late.png");
        const auto monday = [](int from, int to, const std::string& image) {
            return ImageScheduleEntry(2, from, 0, to, 0, image);
        };
        const auto images = [this] { return editor().imagesTab(); };
        return {
            {"now playing",
             {},
             [this] { prefixCheck()->click(); },
             [](const ImageScheduleConfig& file, const Ondaline& engine) {
                 return heldAs(onOff(file.nowPlaying.showPrefix), onOff(engine.nowPlayingConfig().showPrefix));
             },
             heldAs("on", "on")},
            {"bars",
             {},
             [this] { editor().nowPlayingTab()->vizEnableCheck()->click(); },
             [](const ImageScheduleConfig& file, const Ondaline& engine) {
                 return heldAs(onOff(file.visualization.enabled), onOff(engine.vizConfig().enabled));
             },
             heldAs("on", "on")},
            {"crawler",
             {},
             [this] { editor().nowPlayingTab()->crawlerEnableCheck()->click(); },
             [](const ImageScheduleConfig& file, const Ondaline& engine) {
                 return heldAs(onOff(file.crawler.enabled), onOff(engine.crawlerConfig().enabled));
             },
             heldAs("on", "on")},
            {"default image",
             {},
             [=, this] {
                 panelsChoose(fallback);
                 for (auto* button : images()->defaultImageField()->parentWidget()->findChildren<QPushButton*>(
                          Qt::FindDirectChildrenOnly))
                     if (button->text() == QString::fromUtf8("Browse…")) button->click();
             },
             [](const ImageScheduleConfig& file, const Ondaline& engine) {
                 return heldAs(fileName(file.defaultImagePath), fileName(engine.videoImagePath()));
             },
             heldAs("default.png", "default.png")},
            // Two hours on, the evening's show has its own image.
            {"hour offset",
             [=](ImageScheduleConfig& stored) {
                 stored.defaultImagePath = fallback;
                 stored.entries = {monday(21, 22, late)};
             },
             [=] { retype(images()->hourOffsetField(), "2", false); },
             [](const ImageScheduleConfig& file, const Ondaline& engine) {
                 return heldAs(QString::number(file.hourOffset), fileName(engine.videoImagePath()));
             },
             heldAs("2", "late.png")},
            {"schedule entries", [=](ImageScheduleConfig& stored) { stored.entries = {monday(19, 20, "")}; },
             [=, this] {
                 panelsChoose(evening);
                 images()->rows().at(0).browseBtn->click();
             },
             [](const ImageScheduleConfig& file, const Ondaline& engine) {
                 QStringList rows;
                 for (const ImageScheduleEntry& entry : file.entries) rows << fileName(entry.imagePath);
                 return heldAs(rows.join(", "), fileName(engine.videoImagePath()));
             },
             heldAs("evening.png", "evening.png")},
        };
    }

private slots:
    void initTestCase()
    {
        // The settings file holds the key only where no one else reads it.
        ::umask(077);
        test::usePrivateHome(home_.path());
        QVERIFY(QDir().mkpath(home_.path() + "/Station"));
        QFile dot(home_.path() + "/.ondaline_station");
        QVERIFY(dot.open(QIODevice::WriteOnly) && dot.write((home_.path() + "/Station").toUtf8()) > 0);
        QImage image(64, 36, QImage::Format_RGB32);
        image.fill(Qt::darkBlue);
        for (const char* name : {"default.png", "evening.png", "late.png"})
            QVERIFY(image.save(QString::fromStdString(stationFile(name))));
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

    // A change to any field the editor owns reaches the file and the running
    // stream; none of them stays the editor's alone.
    void eachFieldTheEditorOwnsReachesTheFileAndTheStream_data()
    {
        QTest::addColumn<int>("field");
        const auto fields = editorFields();
        for (std::size_t i = 0; i < fields.size(); ++i) QTest::newRow(fields[i].name) << static_cast<int>(i);
    }
    void eachFieldTheEditorOwnsReachesTheFileAndTheStream()
    {
        QFETCH(int, field);
        const EditorField edited = editorFields().at(static_cast<std::size_t>(field));
        const auto ended = qScopeGuard([this] {
            app_.reset();
            rtmp_.reset();
        });
        ImageScheduleConfig stored;
        if (edited.stored) edited.stored(stored);
        launch(stored);
        app_->schedulers().setWallClock(mondayEvening);
        QVERIFY(test::goLive(*app_, rtmp_));  // the scheduled image reaches the engine only live
        app_->openOverlayEditor(editor::EditorTab::images);
        edited.change();
        editor().closeEditor();
        QCOMPARE(edited.held(storedFile(), *app_->streamer), edited.wanted);
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
