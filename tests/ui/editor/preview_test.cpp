// The editor's preview against the stream's renderer: the same frame for the
// same settings, and the preview's own inputs (sample text, mock levels with
// 0.3 past their end, a standing crawler sentence) where they differ.

#include "media/frame_renderer.h"
#include "support/private_home.h"
#include "ui/editor/double_slider.h"
#include "ui/editor/now_playing_tab.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <optional>

using namespace ondaline;
using namespace ondaline::editor;
using media::FrameRenderer;

namespace {

constexpr int W = 1280, H = 720;

QImage asImage(const FrameRenderer::Frame& frame)
{
    return QImage(frame->data(), W, H, W * 4, QImage::Format_ARGB32_Premultiplied).copy();
}

// Pixels that differ, outside the rectangles given in the bottom-left space.
int differences(const QImage& a, const QImage& b, const std::vector<QRect>& outside = {})
{
    int count = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const bool skipped = std::any_of(outside.begin(), outside.end(),
                                             [&](const QRect& r) { return r.contains(x, y); });
            if (!skipped && a.pixel(x, H - 1 - y) != b.pixel(x, H - 1 - y)) ++count;
        }
    }
    return count;
}

// The pixel at (x, y), the origin at the bottom left.
QRgb at(const QImage& frame, int x, int y) { return frame.pixel(x, H - 1 - y); }

void setByUser(DoubleSlider* slider, double value) { slider->setValue(value), slider->action(); }

void typeSample(OverlayEditorController& ctl, const QString& text)
{
    ctl.nowPlayingTab()->npSampleField()->setText(text);
    emit ctl.nowPlayingTab()->npSampleField()->editingFinished();
}

// What the stream draws from the record a save of the controls gives.
QImage streamFrame(OverlayEditorController& ctl, const std::string& image, const std::string& songText,
                   const std::vector<float>& levels, std::optional<double> fontSize = {},
                   const std::string& crawlerFile = {})
{
    ctl.nowPlayingTab()->save(ctl.config);
    FrameRenderer renderer(W, H);
    if (!image.empty() && !renderer.loadBackground(image)) qWarning("background did not load");
    media::OverlayInputs in{songText, ctl.config.nowPlaying, ctl.config.visualization, ctl.config.crawler, levels};
    if (fontSize) in.nowPlaying.fontSize = *fontSize;
    if (crawlerFile.empty()) return asImage(renderer.render(in));
    // A scroll of all but 8 pixels brings the text's start to 8 pixels inside the bar.
    renderer.pollCrawlerFile(crawlerFile, 0);
    in.crawler.speed = in.crawler.barWidth - 8;
    renderer.render(in);
    return asImage(renderer.render(in));
}

// The bottom rows of the runs of rows that hold ink in columns [x0, x1).
std::vector<int> inkRunBottoms(const QImage& frame, int x0, int x1)
{
    std::vector<int> bottoms;
    bool inside = false;
    for (int y = 0; y < H; ++y) {
        bool ink = false;
        for (int x = x0; x < x1 && !ink; ++x) ink = qGreen(at(frame, x, y)) > 40;
        if (ink && !inside) bottoms.push_back(y);
        inside = ink;
    }
    return bottoms;
}

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT
    QTemporaryDir home;
    QString tallImage, garbageImage;
    QImage black{W, H, QImage::Format_ARGB32_Premultiplied};

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home.path());
        black.fill(Qt::black);
        QVERIFY(home.isValid() && QDir().mkpath(home.path() + "/Station"));
        QFile dot(home.path() + "/.ondaline_station");
        QVERIFY(dot.open(QIODevice::WriteOnly) && dot.write((home.path() + "/Station").toUtf8()) > 0);
        dot.close();
        // Tall, where the frame is wide, with a gradient so that a stretch shows.
        QImage tall(300, 500, QImage::Format_RGB32);
        for (int y = 0; y < tall.height(); ++y) {
            for (int x = 0; x < tall.width(); ++x) tall.setPixel(x, y, qRgb(x * 255 / 299, y * 255 / 499, 90));
        }
        tallImage = home.path() + "/tall.png";
        QVERIFY(tall.save(tallImage));
        garbageImage = home.path() + "/garbage.png";
        QFile garbage(garbageImage);
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write("not a picture at all") > 0);
    }

    void previewEqualsTheStreamForTheSameSettings()
    {
        OverlayEditorController ctl{ImageScheduleConfig{}};
        ImageScheduleConfig& c = ctl.config;
        c.defaultImagePath = tallImage.toStdString();
        c.nowPlaying.delimiter = "|", c.nowPlaying.showBackground = true, c.nowPlaying.bgX = 20, c.nowPlaying.bgY = 10;
        c.nowPlaying.bgWidth = 700.5, c.nowPlaying.bgHeight = 140, c.nowPlaying.bgColorR = 0.8,
        c.nowPlaying.bgAlpha = 0.55;
        c.nowPlaying.fontSize = 30, c.nowPlaying.textColorG = 0.4, c.nowPlaying.textX = 44.5, c.nowPlaying.textY = 30.7;
        c.visualization.enabled = true, c.visualization.barCount = 9, c.visualization.segmentGap = 5;
        c.visualization.colorBottomR = 0.9, c.visualization.colorTopG = 0.1, c.visualization.posX = 600.3;
        ctl.showWindow();
        QTRY_COMPARE(ctl.levels().size(), std::size_t{9});
        typeSample(ctl, "Artist|Title|");
        QCOMPARE(differences(ctl.previewFrame(),
                             streamFrame(ctl, c.defaultImagePath, "Artist - Title - ", ctl.levels())),
                 0);
        QVERIFY(at(ctl.previewFrame(), 1279, 719) != at(ctl.previewFrame(), 0, 719));  // stretched over the frame

        // Multi row with the prefix; an unlisted delimiter and font name are drawn as stored.
        c.nowPlaying.delimiter = "::", c.nowPlaying.multiRow = true, c.nowPlaying.showPrefix = true;
        c.nowPlaying.fontName = "DejaVuSerif-Bold";
        c.visualization.barCount = 33, c.visualization.segmentCount = 7, c.visualization.segmentGap = 0;
        c.visualization.posX = 40, c.visualization.width = 900, c.visualization.opacity = 0.6,
        c.visualization.sensitivity = 3.5;
        ctl.loadConfigToUI();
        QVERIFY(ctl.nowPlayingTab()->npDelimiterPopup()->currentIndex() < 0 &&
                ctl.nowPlayingTab()->npFontPopup()->currentIndex() < 0);
        QTRY_COMPARE(ctl.levels().size(), std::size_t{33});
        typeSample(ctl, "One::Two| x::Three");
        QCOMPARE(differences(ctl.previewFrame(),
                             streamFrame(ctl, tallImage.toStdString(), "One\nTwo| x\nThree", ctl.levels())),
                 0);

        // A size that does not read draws at 24, while the saved size stays.
        ctl.nowPlayingTab()->npFontSizeField()->setText("3O");
        emit ctl.nowPlayingTab()->npFontSizeField()->editingFinished();
        QCOMPARE(differences(ctl.previewFrame(),
                             streamFrame(ctl, c.defaultImagePath, "One\nTwo| x\nThree", ctl.levels(), 24)),
                 0);
        QCOMPARE(c.nowPlaying.fontSize, 30.0);

        // More bars than levels: the missing ones stand at 0.3, the rest is the stream's.
        const std::vector<float> levels = ctl.levels();
        setByUser(ctl.nowPlayingTab()->vizBarCountSlider(), 40);
        const QImage preview = ctl.previewFrame();
        std::vector<float> padded = levels;
        padded.resize(40, 0.3f);
        const double pitch = (900 - 39 * 2.0) / 40 + 2;
        const QRect missingBars(static_cast<int>(40 + 33 * pitch), 100, W, 300);
        const QImage stream = streamFrame(ctl, c.defaultImagePath, "One\nTwo| x\nThree", levels, 24);
        QCOMPARE(differences(preview, stream, {missingBars}), 0);
        QVERIFY(differences(preview, stream) > 1000);
        QCOMPARE(differences(preview, streamFrame(ctl, c.defaultImagePath, "One\nTwo| x\nThree", padded, 24)), 0);
        ctl.closeEditor();
    }

    void crawlerStandsEightPixelsInsideItsBar()
    {
        OverlayEditorController ctl{ImageScheduleConfig{}};
        CrawlerConfig& cr = ctl.config.crawler;
        cr.enabled = true, cr.uppercase = true, cr.barX = 100, cr.barWidth = 1000, cr.barY = 300;
        cr.barColorR = 0, cr.barColorG = 0, cr.barColorB = 1, cr.barAlpha = 1, cr.fontSize = 40;
        cr.textColorR = 0, cr.textColorG = 1, cr.textColorB = 0;
        ctl.showWindow();
        typeSample(ctl, "");
        const QImage preview = ctl.previewFrame();
        // The stream draws its own text ahead of a copy of it; that copy ends left of the bar.
        const std::string crawlerFile = home.path().toStdString() + "/crawler.txt";
        std::ofstream(crawlerFile)
            << "THIS IS SAMPLE CRAWLER TEXT \u25C6 EDIT CRAWLER.TXT TO CHANGE \u25C6 LINES SEPARATED BY DIAMONDS\n";
        QCOMPARE(differences(preview, streamFrame(ctl, "", "", {}, {}, crawlerFile)), 0);

        auto greenIn = [&](int x0, int x1, int y0, int y1) {
            int n = 0;
            for (int x = x0; x < x1; ++x) {
                for (int y = y0; y < y1; ++y) n += qGreen(at(preview, x, y)) > 0 ? 1 : 0;
            }
            return n;
        };
        QCOMPARE(greenIn(100, 108, 300, 336), 0);
        QVERIFY(greenIn(108, 140, 300, 336) > 20);
        QVERIFY(greenIn(1060, 1100, 300, 336) > 20);  // running on to the bar's end
        QCOMPARE(greenIn(0, W, 0, 300) + greenIn(0, W, 336, H) + greenIn(1100, W, 300, 336), 0);

        setByUser(ctl.nowPlayingTab()->crawlerSpeedSlider(), 9.5);
        QCOMPARE(differences(ctl.previewFrame(), preview), 0);
        ctl.closeEditor();
    }

    void workedCasesOnPixels()
    {
        OverlayEditorController ctl{ImageScheduleConfig{}};
        ImageScheduleConfig& c = ctl.config;
        c.nowPlaying.delimiter = ",", c.nowPlaying.multiRow = true, c.nowPlaying.showPrefix = true;
        c.nowPlaying.showBackground = true, c.nowPlaying.bgColorR = 1, c.nowPlaying.bgAlpha = 1;
        c.defaultImagePath = garbageImage.toStdString();
        ctl.showWindow();
        typeSample(ctl, "");
        QVERIFY(ctl.previewFrame() == black);  // an empty sample: no text, no block
        typeSample(ctl, "HHH,HHH,HHH");
        // Baselines 100.4, 69.2 and 38: the bottoms of "N", "H" and "H".
        QCOMPARE(inkRunBottoms(ctl.previewFrame(), 290, 302), (std::vector<int>{38, 69, 100}));
        QCOMPARE(qRed(at(ctl.previewFrame(), 5, 5)), 255);
        c.defaultImagePath = "/nonexistent/picture.png", c.nowPlaying.showBackground = false;
        ctl.loadConfigToUI();
        typeSample(ctl, "");
        QVERIFY(ctl.previewFrame() == black);

        // Default bars; until the first tick the 32 mock levels are 0 and light nothing.
        c.visualization.enabled = true, c.visualization.barCount = 5, c.visualization.opacity = 1;
        VisualizationConfig& v = c.visualization;
        v.colorBottomR = v.colorBottomG = v.colorBottomB = v.colorTopR = v.colorTopG = v.colorTopB = 1;
        ctl.loadConfigToUI();
        QVERIFY(ctl.previewFrame() == black);
        QTRY_COMPARE(ctl.levels().size(), std::size_t{5});
        // Raised to 15: bars 5 to 14 have no level yet and stand at 0.3.
        setByUser(ctl.nowPlayingTab()->vizBarCountSlider(), 15);
        auto lit = [&](double x, double y) {
            return qGreen(at(ctl.previewFrame(), static_cast<int>(x), static_cast<int>(y)));
        };
        const double segment = 278.0 / 12;
        auto segmentMiddle = [&](int s) { return 100 + s * (segment + 2) + segment / 2; };
        for (int i = 5; i < 15; ++i) {
            const double left = 40 + 26.8 * i, right = left + 24.8;
            // Whole columns inside the bar are lit, the column past its right edge is gap.
            QCOMPARE(lit(left + 1, segmentMiddle(0)), 255);
            QCOMPARE(lit(std::ceil(right), segmentMiddle(0)), 0);
            QVERIFY(std::abs(lit(left, segmentMiddle(0)) - 255 * (std::floor(left) + 1 - left)) < 3);
            QVERIFY(lit(left + 12, segmentMiddle(4)) == 255 && lit(left + 12, segmentMiddle(5)) == 0);
        }
        // 0.3 at sensitivity 2.5 is 0.5 at 1.5: nine segments.
        setByUser(ctl.nowPlayingTab()->vizSensSlider(), 2.5);
        QVERIFY(lit(40 + 26.8 * 7 + 12, segmentMiddle(8)) == 255 && lit(40 + 26.8 * 7 + 12, segmentMiddle(9)) == 0);
        // 40 bars in 50 pixels have no width: nothing at all.
        setByUser(ctl.nowPlayingTab()->vizWidthSlider(), 50);
        setByUser(ctl.nowPlayingTab()->vizBarCountSlider(), 40);
        QVERIFY(ctl.previewFrame() == black);

        // A real drag redraws at once, and so does each tick.
        setByUser(ctl.nowPlayingTab()->vizBarCountSlider(), 8);
        QImage before = ctl.previewFrame();
        static_cast<QSlider*>(ctl.nowPlayingTab()->vizHorizSlider())->setValue(5000);
        QVERIFY(differences(ctl.previewFrame(), before) > 0);
        for (int tick = 0; tick < 2; ++tick) {
            before = ctl.previewFrame();
            const float phase = ctl.phase();
            QTRY_VERIFY(ctl.phase() != phase);
            QVERIFY(differences(ctl.previewFrame(), before) > 0);
        }
        // Shown whole in the view, its aspect kept.
        const QPixmap shown = ctl.nowPlayingTab()->npPreviewImageView()->pixmap();
        QVERIFY(shown.width() <= 600 && shown.height() <= 338 &&
                std::abs(shown.width() * 720 - shown.height() * 1280) < 1280);
        ctl.closeEditor();
    }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
