// The status lamp's pixels (y-up lens, highlight, glow profile) and the
// console button's shading, title, clicks and hover.

#include "ui/console/console_button.h"
#include "ui/console/led_indicator_view.h"

#include <QEnterEvent>
#include <QPointer>
#include <QTest>

#include <cmath>

using namespace ondaline::ui;

namespace {

struct Rgba {
    double r, g, b, a;
};

// The view painted in a translucent parent, read in the view's bounds
// coordinates, un-premultiplied, 0…1.
struct Picture {
    QImage image;
    QPoint origin;
    Picture(QWidget& parent, ConsoleView& view)
        : image(parent.grab().toImage().convertToFormat(QImage::Format_ARGB32)),
          origin(view.frame().topLeft().toPoint())
    {
    }
    Rgba at(int x, int y) const
    {
        const QColor c = image.pixelColor(origin + QPoint(x, y));
        return {c.redF(), c.greenF(), c.blueF(), c.alphaF()};
    }
};

bool near(Rgba actual, Rgba expected, double tolerance)
{
    return std::fabs(actual.r - expected.r) <= tolerance && std::fabs(actual.g - expected.g) <= tolerance &&
           std::fabs(actual.b - expected.b) <= tolerance;
}

// The glow's alpha at a point: 0.5 × the lens disc (radius 8 at (10, 10))
// blurred with a Gaussian of σ = 5, integrated on a fine grid.
double expectedGlow(double px, double py)
{
    constexpr double sigma = 5, step = 0.25;
    double sum = 0;
    for (double y = 2 + step / 2; y < 18; y += step) {
        for (double x = 2 + step / 2; x < 18; x += step) {
            if (std::hypot(x - 10, y - 10) <= 8)
                sum += std::exp(-(std::pow(px - x, 2) + std::pow(py - y, 2)) / (2 * sigma * sigma));
        }
    }
    return 0.5 * sum * step * step / (2 * M_PI * sigma * sigma);
}

QPoint widgetPoint(ConsoleView& view, QPointF boundsPoint) { return (boundsPoint - view.toBounds({0, 0})).toPoint(); }

void hover(ConsoleButton& button, bool in)
{
    const QPointF local = widgetPoint(button, {50, 15});
    QEnterEvent enter(local, local, button.mapToGlobal(local));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, in ? static_cast<QEvent*>(&enter) : &leave);
}

template <typename View>
struct Counting : View {
    int draws = 0;
    void draw(QPainter& painter) override
    {
        ++draws;
        View::draw(painter);
    }
};

}  // namespace

class LampAndButton : public QObject {
    Q_OBJECT
private slots:
    void lampDrawsYUpAndGlows()
    {
        QWidget parent;
        parent.setAttribute(Qt::WA_TranslucentBackground);
        parent.resize(200, 100);
        LEDIndicatorView lamp(&parent);
        lamp.setFrame({120, 40, 20, 20});
        lamp.setLit(true);
        const Picture lit(parent, lamp);

        // The highlight (y-up rect 8, 3, 4, 3) lies near the bottom on screen.
        QVERIFY(lit.at(10, 15).r > lit.at(10, 4).r + 0.2);
        QVERIFY(lit.at(10, 15).r > lit.at(6, 15).r + 0.2);
        // The brightest pixel, about the location-0 colour, is 1 left of and
        // 1 below the centre on screen (pixel centres lie 0.7 from that point).
        QPoint brightest;
        for (int y = 4; y < 16; ++y) {
            for (int x = 4; x < 16; ++x) {
                if (lit.at(x, y).r > lit.at(brightest.x(), brightest.y()).r) brightest = {x, y};
            }
        }
        QVERIFY(QRect(8, 10, 2, 2).contains(brightest));
        QVERIFY(near(lit.at(brightest.x(), brightest.y()), {0.56, 1.0, 0.56, 1}, 0.08));
        // Outside the lens, green glow of a Gaussian profile, past the bounds on
        // both sides wherever the lamp sits.
        for (int x : {-5, 19, 21, 24}) QVERIFY(std::fabs(lit.at(x, 10).a - expectedGlow(x + 0.5, 10.5)) < 0.008);
        QVERIFY(near(lit.at(19, 10), {0.27, 0.87, 0.27, 0}, 0.03));

        lamp.setLit(false);
        const Picture unlit(parent, lamp);
        QCOMPARE(unlit.at(19, 10).a, 0.0);
        QCOMPARE(unlit.at(-3, 10).a, 0.0);
        QVERIFY(near(unlit.at(9, 10), {0.15, 0.28, 0.15, 1}, 0.03));
        QVERIFY(unlit.at(10, 15).r > unlit.at(10, 4).r + 0.05);

        // 30 × 20: the glow's base fills the 26 × 16 ellipse, beside the lens
        // of radius 8.
        lamp.setFrame({120, 40, 30, 20});
        lamp.setLit(true);
        const Picture wide(parent, lamp);
        QVERIFY(near(wide.at(4, 10), {0.27, 0.87, 0.27, 1}, 0.01) &&
                near(wide.at(25, 10), {0.27, 0.87, 0.27, 1}, 0.01));
        QCOMPARE(wide.at(4, 10).a, 1.0);
    }

    void bodyShadesByStyleHoverAndPress()
    {
        struct Style {
            bool gold, green;
            Rgba bottom, top;  // locations 0 and 1 at rest
        };
        const Rgba greenBottom{0.27, 0.73, 0.27, 1}, greenTop{0.13, 0.53, 0.13, 1};
        const Style styles[] = {{false, false, {0.23, 0.23, 0.23, 1}, {0.15, 0.15, 0.15, 1}},
                                {true, false, {0.88, 0.72, 0.25, 1}, {0.66, 0.47, 0.13, 1}},
                                {false, true, greenBottom, greenTop},
                                {true, true, greenBottom, greenTop}};
        QWidget window;
        window.setAttribute(Qt::WA_TranslucentBackground);
        window.resize(300, 100);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const auto& style : styles) {
            ConsoleButton button(&window);
            button.setFrame({20, 20, 150, 36});
            button.setGold(style.gold);
            button.setGreen(style.green);
            button.show();
            const bool goldOnly = style.gold && !style.green;  // gold keeps its blue
            const auto check = [&](double o) {
                const auto shift = [&](Rgba c) { return Rgba{c.r + o, c.g + o, goldOnly ? c.b : c.b + o, 1}; };
                const Picture picture(window, button);
                // −90° in y-down coordinates: location 0 on the bottom edge.
                return near(picture.at(75, 34), shift(style.bottom), 0.016) &&
                       near(picture.at(75, 1), shift(style.top), 0.016);
            };
            QVERIFY(check(0));
            hover(button, true);
            QVERIFY(button.isHovered() && check(0.08));
            QTest::mousePress(&button, Qt::LeftButton, {}, widgetPoint(button, {75, 18}));
            QVERIFY(button.isPressed() && check(-0.05));  // the hover brightening is dropped
            hover(button, false);
            QVERIFY(check(-0.05));
            QTest::mouseRelease(&button, Qt::LeftButton, {}, widgetPoint(button, {75, 18}));
            QVERIFY(check(0));
        }
    }

    void titleIsCentredUncutInItsStyleColour()
    {
        QWidget parent;
        parent.setAttribute(Qt::WA_TranslucentBackground);
        parent.resize(400, 100);
        ConsoleButton button(&parent);
        button.setFrame({150, 30, 40, 30});
        button.setTitle(QStringLiteral("WWWWWWWWWW"));
        struct Case {
            bool gold, green;
            double level;
        };
        for (const Case c :
             {Case{false, false, 0.7}, Case{true, false, 0.1}, Case{false, true, 1}, Case{true, true, 1}}) {
            button.setGold(c.gold);
            button.setGreen(c.green);
            const Picture picture(parent, button);
            // Ink past both edges, as far left as right, in the title colour
            // where it lies on nothing but the margin.
            int left = 1000, right = -1000;
            QPoint solid(-100, 0);
            for (int y = -20; y < 50; ++y) {
                for (int x = -140; x < 180; ++x) {
                    if (picture.at(x, y).a < 0.2) continue;
                    left = std::min(left, x), right = std::max(right, x);
                    if (x < -1 && picture.at(x, y).a > picture.at(solid.x(), solid.y()).a) solid = {x, y};
                }
            }
            QVERIFY(left < -10 && right > 50 && std::abs(left + right - 39) <= 2);
            QVERIFY(near(picture.at(solid.x(), solid.y()), {c.level, c.level, c.level, 1}, 0.02));
        }
        // The overhanging title takes no press, and the rest of the margin
        // leaves what lies under it to the pointer.
        const auto under = [&](QPointF p) { return parent.childAt(widgetPoint(button, p) + button.pos()); };
        QCOMPARE(under({-20, 15}), &button);
        QTest::mousePress(&button, Qt::LeftButton, {}, widgetPoint(button, {-20, 15}));
        QVERIFY(!button.isPressed());
        QCOMPARE(under({-20, -10}), nullptr);
        QCOMPARE(under({60, 40}), nullptr);
        QCOMPARE(under({39, 29}), &button);
    }

    void clicksRunTheActionOnlyWhenReleasedOnTheButton()
    {
        QWidget parent;
        ConsoleButton button(&parent);
        button.setFrame({10, 10, 100, 30});
        std::vector<ConsoleButton*> senders;
        button.setAction([&](ConsoleButton& sender) { senders.push_back(&sender); });
        const auto click = [&](QPointF release, Qt::MouseButton which = Qt::LeftButton) {
            QTest::mousePress(&button, which, {}, widgetPoint(button, {50, 15}));
            QTest::mouseRelease(&button, which, {}, widgetPoint(button, release));
            return !button.isPressed();
        };
        QVERIFY(click({99, 29}));
        QCOMPARE(senders, std::vector<ConsoleButton*>{&button});
        // Outside, on the right or bottom edge, or with the right button:
        // only the pressed look clears.
        QVERIFY(click({50, 45}) && click({100, 15}) && click({50, 30}) && click({-1, 15}));
        QVERIFY(click({50, 15}, Qt::RightButton));
        QCOMPARE(senders.size(), std::size_t(1));
        button.setAction({});
        QVERIFY(click({50, 15}));
    }

    void anActionMayDeleteItsButton()
    {
        QWidget window;
        window.resize(200, 100);
        QPointer<ConsoleButton> button = new ConsoleButton(&window);
        button->setFrame({10, 10, 100, 30});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        button->setAction([](ConsoleButton& self) { delete &self; });
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(60, 25));
        QVERIFY(button.isNull());
    }

    void hoverCountsOnlyInTheActiveWindow()
    {
        QWidget first, second;
        ConsoleButton button(&first);
        button.setFrame({10, 10, 100, 30});
        first.show();
        first.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&first));
        hover(button, true);
        QVERIFY(button.isHovered());
        hover(button, false);
        QVERIFY(!button.isHovered());

        second.show();
        second.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&second));
        hover(button, true);
        QVERIFY(!button.isHovered());
    }

    void settersRepaintEvenWithTheSameValue()
    {
        QWidget window;
        window.resize(300, 100);
        auto* lamp = new Counting<LEDIndicatorView>;
        auto* button = new Counting<ConsoleButton>;
        lamp->setParent(&window);
        button->setParent(&window);
        lamp->setFrame({10, 10, 20, 20});
        button->setFrame({50, 10, 100, 30});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const std::pair<std::function<void()>, int*> sameAgain[] = {
            {[&] { lamp->setLit(false); }, &lamp->draws},
            {[&] { button->setTitle(QString()); }, &button->draws},
            {[&] { button->setGold(false); }, &button->draws},
            {[&] { button->setGreen(false); }, &button->draws},
        };
        for (const auto& [set, draws] : sameAgain) {
            QTest::qWait(20);
            *draws = 0;
            set();
            QTRY_VERIFY(*draws > 0);
        }
    }
};

QTEST_MAIN(LampAndButton)
#include "lamp_button_test.moc"
