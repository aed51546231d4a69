// The overlay editor's controller: its window and saves, exact round trips of
// the stored overlays, typed font sizes, value labels and the mock spectrum.

#include "models/settings_codec.h"
#include "support/private_home.h"
#include "support/wheel.h"
#include "ui/editor/double_slider.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/now_playing_tab.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <optional>
#include <tuple>

#include <sys/stat.h>

using namespace ondaline;
using namespace ondaline::editor;

namespace {

QString settingsFile() { return QString::fromStdString(ImageScheduleConfig::configFile()); }

std::optional<ImageScheduleConfig> savedFile()
{
    QFile file(settingsFile());
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return decodeSettings(file.readAll().toStdString());
}

// Where the encoded records first part, for a failure message.
QByteArray firstDifference(const ImageScheduleConfig& got, const ImageScheduleConfig& want)
{
    const std::string x = encodeSettings(got).value_or("?"), y = encodeSettings(want).value_or("?");
    std::size_t i = 0;
    while (i < x.size() && i < y.size() && x[i] == y[i]) ++i;
    const std::size_t from = i > 50 ? i - 50 : 0;
    return QByteArray::fromStdString("\n  got:  " + x.substr(from, 100) + "\n  want: " + y.substr(from, 100));
}

// A drag of the slider to `step` of its 10000 steps.
void drag(DoubleSlider* slider, int step) { static_cast<QSlider*>(slider)->setValue(step); }

void setByUser(DoubleSlider* slider, double value) { slider->setValue(value), slider->action(); }

// Opening and Close without an edit.
void openAndClose(OverlayEditorController& ctl) { ctl.showWindow(), ctl.closeEditor(); }

// Every overlay field off the controls' grid and defaults; the other settings not at their defaults.
ImageScheduleConfig offGrid()
{
    ImageScheduleConfig c;
    c.defaultImagePath = "/img/default.png", c.hourOffset = -3, c.entries.emplace_back(2, 6, 30, 9, 15, "/img/a.png");
    c.stationName = "Radio Test", c.serverURL = "rtmps://example.invalid/live", c.streamKey = "k3y";
    c.streamMode = "kick", c.icecastHost = "ice.invalid", c.icecastPort = 8443, c.icecastMount = "/m";
    c.icecastPassword = "pw", c.audioBitrate = 96000, c.audioSource = "tcp", c.appCaptureBundleID = "org.app";
    c.appCaptureName = "App", c.audioOutputDeviceUID = "sink-2";
    c.nowPlaying = {
        "/music/now.txt", ":",  true, true, 290.5, 38.25, "Comic Neue", 24.7, 0.123456789, 0.2, 0.3, true, 10.1, 5.5,
        1000.3,           49.9, 0.45, 0.55, 0.65,  0.29};
    c.visualization = {true, 33, 7, 3.3, 41.5, 99.25, 401.7, 299.9, 0.11, 0.42, 0.93, 0.97, 0.88, 0.79, 0.83, 2.25};
    c.crawler = {true, 10.5, 40.25, 1000.3, 36.6, 0.05, 0.06, 0.07, 0.71, 0.9, 0.8, 0.7, "Papyrus", 22.5, 3.7, true};
    return c;
}

}  // namespace

class OverlayEditorTest : public QObject {
    Q_OBJECT
    QTemporaryDir home;

private slots:
    void initTestCase()
    {
        // The settings file holds the key only where no one else reads it.
        ::umask(077);
        test::usePrivateHome(home.path());
        QVERIFY(home.isValid() && QDir().mkpath(home.path() + "/Station"));
        QFile dot(home.path() + "/.ondaline_station");
        QVERIFY(dot.open(QIODevice::WriteOnly) && dot.write((home.path() + "/Station").toUtf8()) > 0);
        dot.close();
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) qWarning("de_DE.UTF-8 missing: only the Qt locale is German");
        QLocale::setDefault(QLocale::German);
        QCOMPARE(settingsFile(), home.path() + "/Station/Misc/System/Streamer/ondaline_schedule.json");
    }

    void opensOnceAndSavesAfterTheLastChange()
    {
        OverlayEditorController ctl{ImageScheduleConfig{}};
        QVERIFY(!ctl.window && !QFile::exists(settingsFile()) && !ctl.isAnimating() && !ctl.isSavePending());
        QCOMPARE(ctl.levels(), std::vector<float>(32, 0.0f));

        QElapsedTimer clock;
        clock.start();
        std::vector<qint64> saves;
        ImageScheduleConfig handed;
        ctl.onSave = [&](const ImageScheduleConfig& c, const SettingsSave&) {
            saves.push_back(clock.elapsed()), handed = c;
        };
        ctl.showWindow();
        EditorWindow* const window = ctl.window.get();
        QVERIFY(window->isVisible());
        QTest::keyClicks(ctl.nowPlayingTab()->npFontSizeField(), "9");
        ctl.config.nowPlaying.fontSize = 31, ctl.config.nowPlaying.filePath = "/x/now.txt";
        ctl.showWindow();
        QCOMPARE(ctl.window.get(), window);
        QVERIFY(ctl.nowPlayingTab()->npFontSizeField()->text() == "31" &&
                ctl.nowPlayingTab()->npFilePathField()->text() == "/x/now.txt");
        QVERIFY(saves.empty() && !ctl.isSavePending() && !QFile::exists(settingsFile()));

        for (int step : {1000, 2000, 3000}) {
            if (step > 1000) QTest::qWait(100);
            drag(ctl.nowPlayingTab()->npHorizSlider(), step);
        }
        const qint64 lastChange = clock.elapsed();
        QTRY_COMPARE(saves.size(), std::size_t{1});
        QVERIFY2(saves[0] - lastChange >= 270 && saves[0] - lastChange < 700,
                 QByteArray::number(saves[0] - lastChange));
        QVERIFY(handed.nowPlaying.textX == 384 && handed.nowPlaying.fontSize == 31 && savedFile() == handed);

        drag(ctl.nowPlayingTab()->npHorizSlider(), 4000);
        ctl.closeEditor();
        QCOMPARE(saves.size(), std::size_t{2});
        QVERIFY(!window->isVisible() && !ctl.isSavePending());
        QCOMPARE(savedFile().value().nowPlaying.textX, 512.0);
        QTest::qWait(400);
        QCOMPARE(saves.size(), std::size_t{2});

        openAndClose(ctl);
        QCOMPARE(saves.size(), std::size_t{3});
        ctl.onSave = nullptr;
        QVERIFY(QFile::remove(settingsFile()));
        openAndClose(ctl);
        QVERIFY(savedFile() == handed);
    }

    void untouchedSettingsComeBackExactly()
    {
        const ImageScheduleConfig original = offGrid();
        OverlayEditorController ctl(original);
        std::optional<ImageScheduleConfig> handed;
        ctl.onSave = [&](const ImageScheduleConfig& c, const SettingsSave&) { handed = c; };
        ctl.showWindow();
        QVERIFY(ctl.nowPlayingTab()->npDelimiterPopup()->currentIndex() == -1 &&
                ctl.nowPlayingTab()->npFontPopup()->currentIndex() == -1);
        QCOMPARE(ctl.nowPlayingTab()->crawlerFontPopup()->currentIndex(), -1);
        QCOMPARE(ctl.nowPlayingTab()->npFontSizeField()->text(), "24.7");
        QCOMPARE(ctl.nowPlayingTab()->crawlerFontSizeField()->text(), "22.5");
        ctl.closeEditor();
        QVERIFY2(handed && *handed == original, firstDifference(handed.value_or(ImageScheduleConfig{}), original));
        QCOMPARE(encodeSettings(savedFile().value()), encodeSettings(original));

        ImageScheduleConfig outside = original;
        outside.nowPlaying.textX = 5000, outside.crawler.speed = 0.1, outside.visualization.barCount = 100;
        ctl.config = outside;
        openAndClose(ctl);
        QVERIFY(handed->nowPlaying.textX == 1280 && handed->crawler.speed == 0.5 &&
                handed->visualization.barCount == 40);

        // The opacities are shown in percent; a stored fraction must not pick up a rounding error on the way.
        ImageScheduleConfig fine = original;
        fine.nowPlaying.bgAlpha = 0.029, fine.visualization.opacity = 0.123, fine.crawler.barAlpha = 0.007;
        ctl.config = fine;
        openAndClose(ctl);
        QVERIFY2(*handed == fine, firstDifference(*handed, fine));
    }

    void typedFontSizes()
    {
        ImageScheduleConfig base;
        base.nowPlaying.fontSize = 30, base.crawler.fontSize = 30;
        OverlayEditorController ctl(base);
        std::optional<ImageScheduleConfig> handed;
        ctl.onSave = [&](const ImageScheduleConfig& c, const SettingsSave&) { handed = c; };
        const auto typeAndClose = [&](const QString& text) {
            ctl.config = base;
            ctl.showWindow();
            QFile::remove(settingsFile());
            handed.reset();
            for (QLineEdit* field :
                 {ctl.nowPlayingTab()->npFontSizeField(), ctl.nowPlayingTab()->crawlerFontSizeField()}) {
                field->clear();
                QTest::keyClicks(field, text);
                QTest::keyClick(field, Qt::Key_Return);
            }
            QVERIFY(ctl.isSavePending());
            ctl.closeEditor();
            QVERIFY(handed && savedFile() == handed);
        };
        for (const auto& [text, size] :
             {std::pair{"24.5", 24.5}, {"+24", 24.0}, {"2.4e1", 24.0}, {"0", 0.0}, {"-5", -5.0}}) {
            typeAndClose(text);
            QVERIFY2(handed->nowPlaying.fontSize == size && handed->crawler.fontSize == size, text);
        }
        for (const char* text : {" 24", "abc", "", "nan", "inf", "0x18", "1e999"}) {
            typeAndClose(text);
            QVERIFY2(handed->nowPlaying.fontSize == 30 && handed->crawler.fontSize == 22, text);
        }

        ctl.showWindow();
        setByUser(ctl.nowPlayingTab()->vizBarCountSlider(), 15.7);
        QCOMPARE(ctl.nowPlayingTab()->vizBarCountLabel()->text(), "15");
        ctl.closeEditor();
        QCOMPARE(handed->visualization.barCount, std::int64_t{15});
    }

    void labelsAndMockSpectrum()
    {
        OverlayEditorController ctl{ImageScheduleConfig{}};
        int saves = 0;
        ctl.onSave = [&](const ImageScheduleConfig&, const SettingsSave&) { ++saves; };
        ctl.showWindow();
        for (const auto& [slider, value, label, text] :
             {std::tuple{ctl.nowPlayingTab()->npBgAlphaSlider(), 37.9, ctl.nowPlayingTab()->npBgAlphaLabel(), "37%"},
              {ctl.nowPlayingTab()->vizBarCountSlider(), 24.99, ctl.nowPlayingTab()->vizBarCountLabel(), "24"},
              {ctl.nowPlayingTab()->vizSensSlider(), 1.5, ctl.nowPlayingTab()->vizSensLabel(), "1.5\u00d7"},
              {ctl.nowPlayingTab()->crawlerSpeedSlider(), 2.0, ctl.nowPlayingTab()->crawlerSpeedLabel(), "2.0"}}) {
            setByUser(slider, value);
            QCOMPARE(label->text(), QString::fromUtf8(text));
        }

        // The animation's next tick, given by hand at once: a busy machine
        // may run several of its timer's before a poll could see the first.
        const auto animating = [](QTimer* t) { return t->isActive() && t->interval() == 83; };
        const auto tickNow = [&] {
            const auto timers = ctl.findChildren<QTimer*>();
            const auto ticker = std::find_if(timers.begin(), timers.end(), animating);
            QVERIFY(ticker != timers.end());
            (*ticker)->stop();
            QVERIFY(QMetaObject::invokeMethod(*ticker, "timeout"));
            (*ticker)->start();
        };
        setByUser(ctl.nowPlayingTab()->vizBarCountSlider(), 15);
        ctl.nowPlayingTab()->vizEnableCheck()->click();
        QVERIFY(ctl.isAnimating());
        tickNow();
        QCOMPARE(ctl.phase(), 0.18f);
        const float expected[] = {0.3118f, 0.6638f, 0.7005f, 0.5455f, 0.4321f, 0.3589f, 0.1535f, 0,
                                  0,       0,       0.3028f, 0.5902f, 0.6118f, 0.5451f, 0.5353f};
        QCOMPARE(ctl.levels().size(), std::size(expected));
        for (std::size_t i = 0; i < std::size(expected); ++i)
            QVERIFY2(std::abs(ctl.levels()[i] - expected[i]) < 0.00005f, QByteArray::number(ctl.levels()[i]));

        ctl.config.visualization.enabled = true;
        for (int i = 0; i < 3; ++i) ctl.showWindow();
        const auto timers = ctl.findChildren<QTimer*>();
        const auto ticking = std::count_if(timers.begin(), timers.end(), animating);
        QVERIFY(ctl.isAnimating() && ticking == 1);

        ctl.nowPlayingTab()->vizEnableCheck()->click();
        QVERIFY(!ctl.isAnimating());
        const float stopped = ctl.phase();
        QTest::qWait(100);
        ctl.nowPlayingTab()->vizEnableCheck()->click();
        tickNow();
        QCOMPARE(ctl.phase(), stopped + 0.18f);

        QTRY_VERIFY(!ctl.isSavePending());
        const int savesBefore = saves;
        QVERIFY(QFile::remove(settingsFile()));
        QTest::qWait(500);
        QVERIFY(ctl.phase() > stopped + 0.5f && !QFile::exists(settingsFile()));
        QCOMPARE(saves, savesBefore);
        ctl.closeEditor();
        QVERIFY(!ctl.isAnimating());
    }

    // The wheel over a slider or pop-up in either tab's pane scrolls the
    // pane, as over the rest of it, and moves no value.
    void wheelOverControlsScrollsThePane()
    {
        ImageScheduleConfig config;
        for (std::int64_t row = 0; row < 8; ++row) config.entries.emplace_back(row % 7 + 1, 6, 0, 9, 0, "/img/a.png");
        OverlayEditorController ctl{config};
        ctl.showWindow();
        auto* tabs = ctl.window->findChild<QTabWidget*>();
        int controls = 0;
        for (int tab = 0; tab < tabs->count(); ++tab) {
            tabs->setCurrentIndex(tab);
            const QList<QScrollArea*> panes = tabs->widget(tab)->findChildren<QScrollArea*>();
            QCOMPARE(panes.size(), 1);
            QScrollBar* bar = panes[0]->verticalScrollBar();
            QVERIFY2(bar->maximum() > 120, qPrintable(tabs->tabText(tab) + " " + QString::number(bar->maximum())));
            for (QWidget* control : panes[0]->widget()->findChildren<QWidget*>()) {
                const auto shown = [control] {
                    const auto* popup = qobject_cast<QComboBox*>(control);
                    const auto* slider = qobject_cast<QAbstractSlider*>(control);
                    return popup ? popup->currentIndex() : slider ? slider->value() : -2;
                };
                const int before = shown(), middle = bar->maximum() / 2;
                if (before == -2) continue;
                ++controls;
                bar->setValue(middle);
                test::turnWheel(*control, 1);
                const bool down = bar->value() > middle;
                test::turnWheel(*control, -1);
                QVERIFY2(down && bar->value() == middle && shown() == before, control->metaObject()->className());
            }
        }
        QCOMPARE(controls, 22 + 4 + 8);  // the overlays' sliders and pop-ups, the rows' days
        QVERIFY(!ctl.isSavePending());
        ctl.closeEditor();
    }

    // Centred on a screen shorter than itself, the window keeps its top
    // edge, and so its title bar, on the screen.
    void windowTopStaysOnTheScreen()
    {
        OverlayEditorController ctl{ImageScheduleConfig{}};
        ctl.showWindow();
        const QRect free = ctl.window->screen()->availableGeometry(), frame = ctl.window->frameGeometry();
        QVERIFY2(
            free.height() < frame.height() && frame.top() >= free.top() &&
                std::abs(frame.center().x() - free.center().x()) <= 1,
            qPrintable(QString("%1,%2 on %3x%4").arg(frame.x()).arg(frame.y()).arg(free.width()).arg(free.height())));
        ctl.closeEditor();
    }

    // Quitting is final for the process: this runs last.
    void closeBoxAndQuitSaveFirst()
    {
        OverlayEditorController ctl{ImageScheduleConfig{}}, other{ImageScheduleConfig{}};
        int saves = 0, otherSaves = 0;
        ctl.onSave = [&](const ImageScheduleConfig&, const SettingsSave&) { ++saves; };
        other.onSave = [&](const ImageScheduleConfig&, const SettingsSave&) { ++otherSaves; };
        ctl.showWindow();
        QTest::keyClicks(ctl.nowPlayingTab()->npFilePathField(), "/srv/radio/song.txt");
        ctl.window->close();
        QVERIFY(saves == 1 && !ctl.window->isVisible());
        QCOMPARE(savedFile().value().nowPlaying.filePath, "/srv/radio/song.txt");

        openAndClose(other);
        ctl.showWindow();
        drag(ctl.nowPlayingTab()->npVertSlider(), 5000);
        QVERIFY(ctl.isSavePending() && QFile::remove(settingsFile()));
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        QVERIFY(saves == 2 && otherSaves == 1 && !ctl.window->isVisible() && !ctl.isSavePending());
        QCOMPARE(savedFile().value().nowPlaying.textY, 360.0);
    }
};

QTEST_MAIN(OverlayEditorTest)
#include "overlay_editor_test.moc"
