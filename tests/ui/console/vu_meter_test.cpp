// The VU meter: level to scale, needle swing, where the face is looked for
// and what the search logs, and what lands on the pixels.

#include "base/activity_log.h"
#include "ui/console/vu_face_search.h"
#include "ui/console/vu_meter_dynamics.h"
#include "ui/console/vu_meter_view.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using namespace ondaline;
using namespace ondaline::ui;

namespace {

const std::string face = "/" + std::string(vuFaceFileName);

// The log's lines from `first` on, without their time stamps.
std::vector<std::string> logLines(std::size_t first)
{
    std::vector<std::string> lines;
    const QStringList all = QString::fromStdString(ActivityLog::shared().allText()).split('\n');
    for (qsizetype i = qsizetype(first); i < all.size(); ++i) lines.push_back(all[i].section("] ", 1).toStdString());
    return lines;
}

std::size_t logSize() { return std::size_t(QString::fromStdString(ActivityLog::shared().allText()).count('\n') + 1); }

QImage canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage rendered(VUMeterView& view, int w, int h)
{
    view.setFrame(QRectF(0, 0, w, h));
    QImage image = canvas(w, h);
    QPainter painter(&image);
    view.render(painter);
    return image;
}

// The darkest red channel around a point: a 1.2-wide needle spreads over two pixels.
int darkestNear(const QImage& image, QPointF p)
{
    int darkest = 255;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            darkest = std::min(darkest, qRed(image.pixel(int(p.x()) + dx, int(p.y()) + dy)));
    return darkest;
}

// A point at `frac` of the arc, `radius` from the pivot of the meter in `rect`.
QPointF onArc(const QRectF& rect, double frac, double radius)
{
    const double a = vuNeedleAngle(frac);
    return {rect.x() + rect.width() * 0.5 + std::sin(a) * radius,
            rect.y() + rect.height() * 0.87 - std::cos(a) * radius};
}

bool near(QRgb pixel, int r, int g, int b, int tolerance = 2)
{
    return std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance &&
           std::abs(qBlue(pixel) - b) <= tolerance;
}

}  // namespace

class VUMeter : public QObject {
    Q_OBJECT
private slots:
    void levelsReadOnTheScale()
    {
        const std::vector<std::pair<float, double>> worked{{-40, 0},      {-10, 0},
                                                           {-7.5f, 0.09}, {-5, 0.18},
                                                           {-3, 0.28},    {0, 0.44},
                                                           {1, 0.48},     {3, 0.52 + 0.16 / 3},
                                                           {6, 0.74},     {8.5f, 0.90},
                                                           {10, 1},       {12, 1},
                                                           {-182, 0},     {std::numeric_limits<float>::quiet_NaN(), 0}};
        for (const auto& [db, frac] : worked)
            QVERIFY2(std::fabs(dBToFraction(db) - frac) < 1e-6, qPrintable(QString::number(db)));
    }

    void springSwingsAndStopsAtThePins()
    {
        VUNeedle up;
        for (double expected : {0.15, 0.36, 0.5715, 0.7521, 0.888615, 0.980406, 1.03383, 1.05, 1.0425, 1.032}) {
            stepNeedle(up, 1.0);
            QVERIFY(std::fabs(up.position - expected) < 1e-5);
            if (expected == 1.05) QCOMPARE(up.velocity, 0.0);
        }
        VUNeedle down{1.0, 0};
        for (double expected : {0.85, 0.64, 0.4285, 0.2479, 0.111385, 0.019594, -0.02, -0.017, -0.0128}) {
            stepNeedle(down, 0.0);
            QVERIFY(std::fabs(down.position - expected) < 1e-5);
            if (expected == -0.02) QCOMPARE(down.velocity, 0.0);
        }
    }

    void candidatesInSearchOrder()
    {
        VUFacePlaces places{"/srv/a/b/c", std::nullopt, "./ondaline", std::nullopt, "/Station", "/home/u"};
        const std::vector<std::string> fromDot{"/srv/a/b/c" + face, "/srv/a/b/c" + face,
                                               "/srv" + face,       "/Station/Misc/System/Streamer" + face,
                                               "/home/u" + face,    "/home/u/Desktop" + face};
        QVERIFY(vuFaceCandidates(places) == fromDot);
        places.argv0 = "ondaline";  // no folder at all: the working directory too
        QVERIFY(vuFaceCandidates(places) == fromDot);

        places = {"/w", "/src/ondaline", "/opt/x/y/bin/ondaline", "../lib/real/ondaline", "/S", "/h/"};
        QVERIFY(vuFaceCandidates(places) ==
                (std::vector<std::string>{"/w" + face, "/src/ondaline" + face, "/opt/x/y/bin" + face, "/opt" + face,
                                          "../lib/real" + face, "/S/Misc/System/Streamer" + face, "/h" + face,
                                          "/h/Desktop" + face}));
    }

    void searchLogsEachCandidateUntilAFaceLoads()
    {
        QTemporaryDir empty, garbage, good;
        QVERIFY(QFile::copy(ONDALINE_VU_FACE, good.filePath(vuFaceFileName)));
        QFile junk(garbage.filePath(vuFaceFileName));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("not an image") > 0);
        junk.close();
        const auto path = [](const QTemporaryDir& dir) { return dir.filePath(vuFaceFileName).toStdString(); };

        auto first = logSize();
        QCOMPARE(loadVUFace({path(empty), path(good), path(garbage)}).size(), QSize(728, 400));
        QVERIFY(logLines(first) ==
                (std::vector<std::string>{"VUMeter: Checking " + path(empty) + " — exists: false",
                                          "VUMeter: Checking " + path(good) + " — exists: true",
                                          "VUMeter: ✅ Loaded meter face from " + path(good) + " (728×400)"}));
        first = logSize();
        QVERIFY(!loadVUFace({path(garbage), path(good)}).isNull());
        QVERIFY(logLines(first).at(0) == "VUMeter: Checking " + path(garbage) + " — exists: true");
        QVERIFY(logLines(first).at(1) == "VUMeter: Checking " + path(good) + " — exists: true");
    }

    void generatedFaceMarksTheScaleWhereTheNeedleReads()
    {
        const QImage image(ONDALINE_VU_FACE);
        QCOMPARE(image.size(), QSize(728, 400));
        const QRectF rect(0, 0, 728, 400);
        for (std::size_t i = 0; i < vuScaleTicks.size(); ++i) {
            QVERIFY(darkestNear(image, onArc(rect, vuScaleTicks[i].frac, 0.585 * 400)) < 200);  // the tick
            if (i + 1 < vuScaleTicks.size()) {
                const double between = (vuScaleTicks[i].frac + vuScaleTicks[i + 1].frac) / 2;
                QVERIFY(near(image.pixel(onArc(rect, between, 0.585 * 400).toPoint()), 235, 230, 214, 3));  // cream
            }
        }
    }

    void wideViewWithoutAFaceDrawsTheFallback()
    {
        const auto rects = vuMeterRects(QSizeF(504, 160));
        QCOMPARE(rects[0].topLeft(), QPointF(8, (160 - 240 / 1.82) / 2));  // y ≈ 14.07
        QVERIFY(rects[0].width() == 240 && std::fabs(rects[0].height() - 131.868) < 1e-3);
        QVERIFY(rects[1].x() == 256 && rects[1].right() == 496);

        QTemporaryDir a, b;
        const auto first = logSize();
        VUMeterView view({a.filePath(vuFaceFileName).toStdString(), b.filePath(vuFaceFileName).toStdString()});
        QCOMPARE(logLines(first).back(), std::string("VUMeter: ❌ Meter face image not found!"));
        const QImage image = rendered(view, 504, 160);
        QVERIFY(near(image.pixel(3, 80), 18, 18, 18));      // background, white 0.07
        QVERIFY(near(image.pixel(10, 80), 64, 64, 64));     // rim, white 0.25
        QVERIFY(near(image.pixel(258, 80), 64, 64, 64));    // the right meter's rim
        QVERIFY(near(image.pixel(40, 40), 235, 230, 214));  // cream (0.92, 0.90, 0.84)
        QVERIFY(near(image.pixel(onArc(rects[0], 0.9, 0.54 * 131.87).toPoint()), 235, 230, 214));  // no scale
    }

    void theFoundFaceIsDrawn()
    {
        VUMeterView view({std::string(ONDALINE_VU_FACE)});
        const QImage image = rendered(view, 504, 160);
        const QRgb redArc = image.pixel(onArc(vuMeterRects({504, 160})[1], 0.9, 0.54 * 131.87).toPoint());
        QVERIFY(qRed(redArc) > 150 && qGreen(redArc) < 100);
    }

    void needleSweepsNinetyDegrees()
    {
        const QRectF rect(0, 0, 240, 131.87);
        auto needleAt = [&](double frac) {
            QImage image = canvas(240, 132);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            drawVUMeter(painter, rect, frac, QImage());
            return image;
        };
        const QImage middle = needleAt(0.5), left = needleAt(0.0);
        for (double r : {30.0, 50.0, 75.0}) {
            QVERIFY(darkestNear(middle, onArc(rect, 0.5, r)) < 120);  // straight up
            QVERIFY(darkestNear(middle, onArc(rect, 0.0, r)) > 200);
            QVERIFY(darkestNear(left, onArc(rect, 0.0, r)) < 120);  // −45°
            QVERIFY(darkestNear(left, onArc(rect, 0.5, r)) > 200);
        }
        QCOMPARE(needleAt(1.05), needleAt(1.0));  // past the pins, the needle rests at the ends
        QCOMPARE(needleAt(-0.02), left);
    }

    void animationMovesEachNeedleToItsTarget()
    {
        VUMeterView view(std::vector<std::string>{});
        view.setTargetLevelL(12);
        view.startAnimating();
        view.startAnimating();
        QCOMPARE(view.findChildren<QTimer*>().size(), 1);
        QCOMPARE(view.findChildren<QTimer*>().front()->timerType(), Qt::PreciseTimer);
        const auto rects = vuMeterRects({504, 160});
        QTRY_VERIFY(darkestNear(rendered(view, 504, 160), onArc(rects[0], 1.0, 60)) < 120);
        const QImage image = rendered(view, 504, 160);
        QVERIFY(darkestNear(image, onArc(rects[1], 0.0, 60)) < 120);  // the right one still rests

        // Both needles at rest, the ticks pause; a target the needle already
        // shows wakes nothing, a new one wakes them and the needle follows.
        QTimer* ticks = view.findChildren<QTimer*>().front();
        QTRY_VERIFY(!ticks->isActive());
        view.setTargetLevelL(12.5f);
        QVERIFY(!ticks->isActive());
        view.setTargetLevelR(0);
        QVERIFY(ticks->isActive());
        QTRY_VERIFY(darkestNear(rendered(view, 504, 160), onArc(rects[1], dBToFraction(0), 60)) < 120);
        QTRY_VERIFY(!ticks->isActive());
        view.stopAnimating();
        view.setTargetLevelL(-10);
        QVERIFY(!view.findChildren<QTimer*>().front()->isActive());  // stopped stays stopped
    }
};

QTEST_MAIN(VUMeter)
#include "vu_meter_test.moc"
