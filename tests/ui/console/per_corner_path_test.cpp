// Corner paths element by element, and what the shared paint helpers put on
// the pixels.

#include "ui/console/console_paint.h"
#include "ui/console/per_corner_path.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include <cmath>

using namespace ondaline::ui;

namespace {

struct Element {
    QPainterPath::ElementType type;
    double x, y;
};

std::vector<Element> elements(const QPainterPath& path)
{
    std::vector<Element> out;
    for (int i = 0; i < path.elementCount(); ++i) {
        const auto e = path.elementAt(i);
        out.push_back({e.type, e.x, e.y});
    }
    return out;
}

bool same(const std::vector<Element>& actual, const std::vector<Element>& expected)
{
    if (actual.size() != expected.size()) return false;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (actual[i].type != expected[i].type || std::fabs(actual[i].x - expected[i].x) > 1e-9 ||
            std::fabs(actual[i].y - expected[i].y) > 1e-9) {
            return false;
        }
    }
    return true;
}

constexpr auto Move = QPainterPath::MoveToElement;
constexpr auto Line = QPainterPath::LineToElement;
constexpr auto Curve = QPainterPath::CurveToElement;
constexpr auto Data = QPainterPath::CurveToDataElement;
constexpr double k = 0.5522847498307936;

// A red square with a black shadow 10 up, on white.
class ShadowedSquare : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        drawWithShadow(painter, {0, 10}, 4, QColor(0, 0, 0), QRectF(20, 20, 20, 20),
                       [](QPainter& p) { p.fillRect(QRectF(20, 20, 20, 20), QColor(255, 0, 0)); });
    }
};

}  // namespace

class CornerPaths : public QObject {
    Q_OBJECT
private slots:
    void squareCornersCarryZeroLengthSegments()
    {
        const auto path = makePerCornerPath({10, 20, 100, 50}, 0, 0, 0, 0);
        QVERIFY(same(elements(path), {{Move, 10, 20},
                                      {Line, 110, 20},
                                      {Line, 110, 20},
                                      {Line, 110, 70},
                                      {Line, 110, 70},
                                      {Line, 10, 70},
                                      {Line, 10, 70},
                                      {Line, 10, 20},
                                      {Line, 10, 20}}));  // back at the start: closed
    }

    void roundedCornersAreOneCubicEach()
    {
        // Square left side, rounded right: the drawer's outline.
        const auto path = makePerCornerPath({0, 0, 100, 60}, 0, 22, 22, 0);
        const auto e = elements(path);
        QVERIFY(same({e.begin(), e.begin() + 6}, {{Move, 0, 0},
                                                  {Line, 78, 0},
                                                  {Curve, 78 + 22 * k, 0},
                                                  {Data, 100, 22 - 22 * k},
                                                  {Data, 100, 22},
                                                  {Line, 100, 38}}));
        QCOMPARE(e[6].type, Curve);
        QCOMPARE(QPointF(e[8].x, e[8].y), QPointF(78, 60));
        QCOMPARE(QPointF(e[9].x, e[9].y), QPointF(0, 60));    // bottom edge
        QCOMPARE(QPointF(e[10].x, e[10].y), QPointF(0, 60));  // square bottom-left
        QCOMPARE(path.boundingRect(), QRectF(0, 0, 100, 60));
    }

    void negativeAndNonFiniteRadii()
    {
        // A negative radius squares the corner but still moves the edge ends.
        auto e = elements(makePerCornerPath({0, 0, 100, 60}, -5, 0, 0, 0));
        QCOMPARE(QPointF(e[0].x, e[0].y), QPointF(-5, 0));
        QCOMPARE(QPointF(e.back().x, e.back().y), QPointF(-5, 0));
        // NaN and infinity count as 0: a plain rectangle, no NaN points.
        const double nan = std::nan(""), inf = INFINITY;
        const auto path = makePerCornerPath({0, 0, 100, 60}, nan, inf, -inf, nan);
        for (const auto& element : elements(path)) QVERIFY(std::isfinite(element.x) && std::isfinite(element.y));
        QVERIFY(same(elements(path), elements(makePerCornerPath({0, 0, 100, 60}, 0, 0, 0, 0))));
        QCOMPARE(path.boundingRect(), QRectF(0, 0, 100, 60));
    }

    void angledGradientsRunFromTheirStartEdge()
    {
        QImage image(100, 50, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        QPainterPath box;
        box.addRect(0, 0, 100, 50);
        // −90° in y-down coordinates: location 0 (black) on the bottom edge.
        fillWithAngledGradient(painter, box, {{0, Qt::black}, {1, Qt::white}}, -90);
        painter.end();
        QVERIFY(qRed(image.pixel(50, 49)) < 8);
        QVERIFY(qRed(image.pixel(50, 0)) > 247);
        QVERIFY(std::abs(qRed(image.pixel(50, 25)) - 128) < 6);
        QCOMPARE(qRed(image.pixel(0, 25)), qRed(image.pixel(99, 25)));

        // −55°: location 0 in the bottom-left corner, 1 in the top-right.
        image.fill(Qt::transparent);
        painter.begin(&image);
        fillWithAngledGradient(painter, box, {{0, Qt::black}, {1, Qt::white}}, -55);
        painter.end();
        QVERIFY(qRed(image.pixel(0, 49)) < 8);
        QVERIFY(qRed(image.pixel(99, 0)) > 247);
    }

    void shadowsAreBlurredBeneathAndOffsetUpOnScreen()
    {
        // A view 40 px into its window: the shadow must follow the view's
        // own coordinates, not be moved by the view's place a second time.
        QWidget window;
        window.resize(100, 60);
        ShadowedSquare view(&window);
        view.setGeometry(40, 0, 60, 60);
        const QImage image = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.pixel(70, 30), qRgb(255, 0, 0));  // the shape on top
        const auto shade = [&](int x, int y) { return qRed(image.pixel(x, y)); };
        QVERIFY(shade(70, 15) < 60);                            // shadow 10 up, dark
        QVERIFY(shade(70, 44) > 200);                           // and not down
        QVERIFY(std::abs(shade(56, 15) - shade(83, 15)) <= 2);  // centred under the shape
        const int edge = shade(70, 10);                         // the blurred edge: about half
        QVERIFY2(edge > 90 && edge < 165, std::to_string(edge).c_str());
    }
};

QTEST_MAIN(CornerPaths)
#include "per_corner_path_test.moc"
