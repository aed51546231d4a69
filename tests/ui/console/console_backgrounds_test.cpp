// The console's and the drawer's background views: fills, corners and gloss
// on the pixels, repaints, and which presses go on to the window.

#include "ui/console/console_bezel_view.h"
#include "ui/console/console_face_view.h"
#include "ui/console/drawer_bezel_view.h"
#include "ui/console/drawer_face_view.h"
#include "ui/console/flipped_view.h"
#include "ui/console/keyable_borderless_window.h"

#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

using namespace ondaline::ui;

namespace {

using Stops = std::vector<std::pair<double, double>>;  // location, component
const Stops bezelWhite = {{0.00, 0.36},  {0.04, 0.30}, {0.10, 0.24}, {0.22, 0.18}, {0.45, 0.14},
                          {0.55, 0.135}, {0.75, 0.16}, {0.90, 0.22}, {1.00, 0.30}};
const Stops faceBlue = {{0.00, 0.157}, {0.25, 0.135}, {0.60, 0.122}, {1.00, 0.116}};

// An 8-bit level of `stops` at location t.
double at(const Stops& stops, double t)
{
    for (std::size_t i = 1; i < stops.size(); ++i) {
        if (t <= stops[i].first) {
            const auto [t0, v0] = stops[i - 1];
            const auto [t1, v1] = stops[i];
            return 255 * (v0 + (v1 - v0) * (std::max(t, t0) - t0) / (t1 - t0));
        }
    }
    return 255 * stops.back().second;
}

// Where pixel (x, y) of a 300 × 200 view lies along a gradient at −55°
// (y down): 0 where the direction enters the box, 1 where it leaves.
double bezelLocation(int x, int y)
{
    const double theta = -55 * std::numbers::pi / 180, dx = std::cos(theta), dy = std::sin(theta);
    return ((x + 0.5 - 150) * dx + (y + 0.5 - 100) * dy) / (300 * std::fabs(dx) + 200 * std::fabs(dy)) + 0.5;
}

double lightened(double level, double alpha) { return level + (255 - level) * alpha; }

QImage grab(ConsoleView& view, QRectF frame)
{
    view.setFrame(frame);
    return view.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

#define EXPECT_LEVEL(actual, expected) \
    QVERIFY2(std::fabs((actual) - (expected)) <= 2.0, qPrintable(QStringLiteral("%1 vs %2").arg(actual).arg(expected)))

class PressCatcher : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

}  // namespace

class ConsoleBackgrounds : public QObject {
    Q_OBJECT
private slots:
    void bezelsRunTheirMetalUpRightWithASheenOnTop()
    {
        ConsoleBezelView console;
        DrawerBezelView drawer;
        const QImage images[] = {grab(console, {0, 0, 300, 200}), grab(drawer, {0, 0, 300, 200})};
        for (const QImage& image : images) {
            // Away from the sheen and the lines; location 0 at the bottom left.
            for (const QPoint p : {QPoint(294, 45), QPoint(160, 86), QPoint(96, 177), QPoint(40, 150)}) {
                EXPECT_LEVEL(qRed(image.pixel(p)), at(bezelWhite, bezelLocation(p.x(), p.y())));
            }
        }
        // The sheen fades down to 0.4·H from 0.07 of white (the drawer's from 0.06).
        const double body = at(bezelWhite, bezelLocation(150, 3)), down = 3.5 / 80;
        EXPECT_LEVEL(qRed(images[0].pixel(150, 3)), lightened(body, at({{0, 0.07}, {0.5, 0.02}, {1, 0}}, down) / 255));
        EXPECT_LEVEL(qRed(images[1].pixel(150, 3)), lightened(body, at({{0, 0.06}, {0.5, 0.02}, {1, 0}}, down) / 255));
    }

    void cornersAreSquareWhereTheDrawerJoins()
    {
        ConsoleBezelView bezel;
        const QImage rounded = grab(bezel, {0, 0, 300, 200});
        QVERIFY(!bezel.rightCornersFlat());
        bezel.setRightCornersFlat(true);
        const QImage flat = grab(bezel, {0, 0, 300, 200});
        QCOMPARE(qAlpha(rounded.pixel(299, 0)) + qAlpha(rounded.pixel(299, 199)), 0);
        QCOMPARE(qAlpha(flat.pixel(299, 0)) + qAlpha(flat.pixel(299, 199)), 2 * 255);
        QCOMPARE(qAlpha(flat.pixel(0, 0)) + qAlpha(flat.pixel(0, 199)), 0);     // the left keeps its corners
        QVERIFY(qRed(flat.pixel(288, 11)) + 5 < qRed(rounded.pixel(288, 11)));  // so does the groove
        QCOMPARE(flat.pixel(20, 100), rounded.pixel(20, 100));

        // The drawer's pieces: square on the left, rounded on the right.
        DrawerBezelView drawerBezel;
        DrawerFaceView drawerFace;
        for (const QImage& image : {grab(drawerBezel, {0, 0, 300, 200}), grab(drawerFace, {0, 0, 200, 100})}) {
            const int right = image.width() - 1, bottom = image.height() - 1;
            QCOMPARE(qAlpha(image.pixel(0, 0)) + qAlpha(image.pixel(0, bottom)), 2 * 255);
            QCOMPARE(qAlpha(image.pixel(right, 0)) + qAlpha(image.pixel(right, bottom)), 0);
        }
    }

    void facesDarkenDownwardsAndOnlyTheConsoleGlosses()
    {
        ConsoleFaceView console;
        DrawerFaceView drawer;
        const QImage face = grab(console, {0, 0, 200, 100}), drawerFace = grab(drawer, {0, 0, 200, 100});
        for (const QImage& image : {face, drawerFace}) {  // location 0 on the bottom edge
            EXPECT_LEVEL(qBlue(image.pixel(180, 20)), at(faceBlue, 1 - 20.5 / 100));
            EXPECT_LEVEL(qBlue(image.pixel(180, 80)), at(faceBlue, 1 - 80.5 / 100));
            EXPECT_LEVEL(qRed(image.pixel(180, 80)),
                         at({{0, 0.133}, {0.25, 0.112}, {0.6, 0.102}, {1, 0.098}}, 1 - 80.5 / 100));
        }
        // The gloss runs from the top-left corner towards (0.45·W, 0.55·H),
        // and leaves nothing outside the rounded face.
        const double base = at(faceBlue, 1 - 20.5 / 100), along = 20.5 * (90 + 55) / (90.0 * 90 + 55.0 * 55);
        EXPECT_LEVEL(qBlue(face.pixel(20, 20)),
                     lightened(base, at({{0, 0.18}, {0.3, 0.1}, {0.7, 0.03}, {1, 0}}, along) / 255));
        EXPECT_LEVEL(qBlue(drawerFace.pixel(20, 20)), base);
        QCOMPARE(qAlpha(face.pixel(0, 0)), 0);
    }

    void settingTheFlagRepaintsEvenUnchanged()
    {
        ConsoleBezelView bezel;
        bezel.setFrame({0, 0, 120, 80});
        PaintCounter counter;
        bezel.installEventFilter(&counter);
        bezel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bezel));
        for (const bool flat : {false, false, true}) {
            QTRY_VERIFY(counter.paints > 0);
            counter.paints = 0;
            bezel.setRightCornersFlat(flat);
        }
        QTRY_VERIFY(counter.paints > 0);
    }

    void pressesOnFramesGoOnAndPagesKeepThem()
    {
        PressCatcher parent;
        const std::pair<QWidget*, int> views[] = {{new ConsoleBezelView(&parent), 1},
                                                  {new ConsoleFaceView(&parent), 1},
                                                  {new DrawerBezelView(&parent), 1},
                                                  {new DrawerFaceView(&parent), 0},
                                                  {new FlippedView(&parent), 0}};
        for (const auto& [view, passes] : views) {
            view->setGeometry(0, 0, 80, 100);
            view->raise();
            const int before = parent.presses;
            QTest::mouseClick(view, Qt::LeftButton, {}, {40, 50});
            QCOMPARE(parent.presses, before + passes);
        }
    }

    void theWindowIsActiveAndDragsByItsBackground()
    {
        KeyableBorderlessWindow window(Qt::FramelessWindowHint);
        QVERIFY(window.isWindow() && window.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        auto* bezel = new ConsoleBezelView(&window);
        bezel->setFrame({0, 0, 200, 50});
        auto* page = new FlippedView(&window);
        page->setGeometry(0, 50, 200, 50);
        window.setGeometry(100, 100, 200, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        // No window manager offscreen: the window follows the mouse itself,
        // until the release.
        QTest::mousePress(bezel, Qt::LeftButton, {}, {10, 10});
        QTest::mouseMove(bezel, {40, 30});
        QTest::mouseRelease(bezel, Qt::LeftButton, {}, {40, 30});
        QTest::mouseMove(bezel, {60, 40});
        QCOMPARE(window.pos(), QPoint(130, 120));

        // A press that a page keeps does not move it.
        QTest::mousePress(page, Qt::LeftButton, {}, {10, 10});
        QTest::mouseMove(page, {40, 30});
        QTest::mouseRelease(page, Qt::LeftButton, {}, {40, 30});
        QCOMPARE(window.pos(), QPoint(130, 120));
    }
};

QTEST_MAIN(ConsoleBackgrounds)
#include "console_backgrounds_test.moc"
