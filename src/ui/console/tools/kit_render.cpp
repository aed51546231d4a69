// Draws one console view on its own, to a PNG of the view's own size, or
// shows it in a frameless window to be clicked and typed at.
//
//   ondaline-kit-render VIEW WxH OUT.png [options]
//   ondaline-kit-render VIEW WxH --window [options]
//
// VIEW: bezel, face, drawer-bezel, drawer-face, lamp, vu, button.
// Options: --flat --lit --gold --green --hover --pressed --title TEXT
// --levels L,R (meter dB targets; the needles move for 2 s before the
// picture is taken) --background RRGGBB (filled first; default transparent).

#include "ui/console/console_bezel_view.h"
#include "ui/console/console_button.h"
#include "ui/console/console_face_view.h"
#include "ui/console/drawer_bezel_view.h"
#include "ui/console/drawer_face_view.h"
#include "ui/console/keyable_borderless_window.h"
#include "ui/console/led_indicator_view.h"
#include "ui/console/vu_meter_view.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

using namespace ondaline::ui;

namespace {

struct Options {
    std::string view;
    int width = 0, height = 0;
    std::string out;
    bool window = false, flat = false, lit = false, gold = false, green = false, hover = false, pressed = false;
    QString title;
    std::optional<std::pair<float, float>> levels;
    std::optional<QColor> background;
};

int usage()
{
    std::cerr << "usage: ondaline-kit-render VIEW WxH (OUT.png | --window) [--flat] [--lit] [--gold] [--green]\n"
                 "         [--hover] [--pressed] [--title TEXT] [--levels L,R] [--background RRGGBB]\n"
                 "       VIEW: bezel, face, drawer-bezel, drawer-face, lamp, vu, button\n";
    return 2;
}

std::optional<Options> parse(int argc, char** argv)
{
    if (argc < 4) return std::nullopt;
    Options o;
    o.view = argv[1];
    if (std::sscanf(argv[2], "%dx%d", &o.width, &o.height) != 2 || o.width <= 0 || o.height <= 0) return std::nullopt;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--window") o.window = true;
        else if (arg == "--flat") o.flat = true;
        else if (arg == "--lit") o.lit = true;
        else if (arg == "--gold") o.gold = true;
        else if (arg == "--green") o.green = true;
        else if (arg == "--hover") o.hover = true;
        else if (arg == "--pressed") o.pressed = true;
        else if (arg == "--title" && hasValue) o.title = QString::fromUtf8(argv[++i]);
        else if (arg == "--levels" && hasValue) {
            float l = 0, r = 0;
            if (std::sscanf(argv[++i], "%f,%f", &l, &r) != 2) return std::nullopt;
            o.levels = {l, r};
        } else if (arg == "--background" && hasValue) {
            const QColor colour(QString("#") + argv[++i]);
            if (!colour.isValid()) return std::nullopt;
            o.background = colour;
        } else if (!arg.starts_with("--") && o.out.empty()) {
            o.out = arg;
        } else {
            return std::nullopt;
        }
    }
    if (o.out.empty() == !o.window) return std::nullopt;  // one of the two
    return o;
}

// The view of that name with the options applied, in `parent`.
ConsoleView* makeView(const Options& o, QWidget* parent)
{
    ConsoleView* view = nullptr;
    if (o.view == "bezel") {
        auto* bezel = new ConsoleBezelView(parent);
        bezel->setRightCornersFlat(o.flat);
        view = bezel;
    } else if (o.view == "face") {
        view = new ConsoleFaceView(parent);
    } else if (o.view == "drawer-bezel") {
        view = new DrawerBezelView(parent);
    } else if (o.view == "drawer-face") {
        view = new DrawerFaceView(parent);
    } else if (o.view == "lamp") {
        auto* lamp = new LEDIndicatorView(parent);
        lamp->setLit(o.lit);
        view = lamp;
    } else if (o.view == "vu") {
        auto* meter = new VUMeterView(parent);
        if (o.levels) {
            meter->setTargetLevelL(o.levels->first);
            meter->setTargetLevelR(o.levels->second);
            meter->startAnimating();
        }
        view = meter;
    } else if (o.view == "button") {
        auto* button = new ConsoleButton(parent);
        button->setTitle(o.title);
        button->setGold(o.gold);
        button->setGreen(o.green);
        button->setAction([](ConsoleButton&) { std::cout << "action" << std::endl; });
        view = button;
    }
    if (view) view->setFrame(QRectF(0, 0, o.width, o.height));
    return view;
}

// Hover and press come from events, as they would from the pointer.
void pointAt(ConsoleButton& button, const Options& o)
{
    const QPointF centre = button.mapFromParent(QPointF(o.width / 2.0, o.height / 2.0));
    if (o.hover) {
        QEnterEvent enter(centre, button.mapToGlobal(centre), button.mapToGlobal(centre));
        QApplication::sendEvent(&button, &enter);
    }
    if (o.pressed) {
        QMouseEvent press(QEvent::MouseButtonPress, centre, button.mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(&button, &press);
    }
}

int renderToFile(const Options& o)
{
    KeyableBorderlessWindow window(Qt::FramelessWindowHint);
    window.resize(o.width, o.height);
    ConsoleView* view = makeView(o, &window);
    if (!view) return usage();
    window.show();
    window.activateWindow();
    QApplication::processEvents();
    if (auto* button = qobject_cast<ConsoleButton*>(view)) pointAt(*button, o);

    const auto draw = [&] {
        QImage image(o.width, o.height, QImage::Format_ARGB32_Premultiplied);
        image.fill(o.background.value_or(Qt::transparent));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        view->render(painter);
        painter.end();
        if (!image.save(QString::fromStdString(o.out), "PNG")) {
            std::cerr << "ondaline-kit-render: cannot write " << o.out << "\n";
            QApplication::exit(1);
            return;
        }
        QApplication::exit(0);
    };
    QTimer::singleShot(o.levels ? 2000 : 0, draw);
    return QApplication::exec();
}

int showWindow(const Options& o)
{
    constexpr int fieldHeight = 30;
    KeyableBorderlessWindow window(Qt::FramelessWindowHint);
    window.setGeometry(0, 0, o.width, o.height + fieldHeight);
    ConsoleView* view = makeView(o, &window);
    if (!view) return usage();
    auto* field = new QLineEdit(&window);
    field->setGeometry(0, o.height, o.width, fieldHeight);
    QObject::connect(field, &QLineEdit::textEdited,
                     [](const QString& text) { std::cout << "text: " << text.toStdString() << std::endl; });
    window.show();
    window.move(0, 0);
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv)
{
    const auto options = parse(argc, argv);
    if (!options) return usage();
    if (!options->window) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return options->window ? showWindow(*options) : renderToFile(*options);
}
