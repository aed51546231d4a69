// The dashboard window: the console bezel and face with the program's name,
// the VU meter, the status lamp, the station and now-playing lines, the two
// console buttons, the status line and the help button. Frames are in the
// face's top-left coordinates and follow the face's width alone.

#include "app/app_delegate.h"
#include "app/status_line.h"

#include "ui/console/console_bezel_view.h"
#include "ui/console/console_button.h"
#include "ui/console/console_face_view.h"
#include "ui/console/console_paint.h"
#include "ui/console/keyable_borderless_window.h"
#include "ui/console/led_indicator_view.h"
#include "ui/console/vu_meter_view.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTextLayout>

namespace ondaline::app {

namespace {

// A word-wrapped label that shows at most `maxLines` whole lines from its
// top and cuts the rest, so a long text neither grows the label nor shows
// the top of a further line. The text itself stays whole.
class LineLimitedLabel final : public QLabel {
public:
    LineLimitedLabel(int maxLines, QWidget* parent) : QLabel(parent), maxLines_(maxLines) { setWordWrap(true); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QString shown = text();
        shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
        QTextLayout layout(shown, font(), this);
        QTextOption option(alignment() & Qt::AlignHorizontal_Mask);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);

        const QRectF area = contentsRect();
        layout.beginLayout();
        double y = 0;
        for (int i = 0; i < maxLines_; ++i) {
            QTextLine line = layout.createLine();
            if (!line.isValid()) break;
            line.setLineWidth(area.width());
            line.setPosition({0, y});
            y += line.height();
        }
        layout.endLayout();

        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        layout.draw(&painter, area.topLeft());
    }

private:
    int maxLines_;
};

// A plain, transparent, non-interactive text line of the face.
void styleFaceLabel(QLabel& label, const QFont& font, const QColor& color)
{
    label.setTextFormat(Qt::PlainText);  // a song title is never markup
    label.setFont(font);
    setTextColor(label, color);
}

void setGeometry(QWidget& widget, double x, double y, double width, double height)
{
    widget.setGeometry(QRectF(x, y, width, height).toRect());
}

// A small round button in the console's greys; Qt's own push button is square.
constexpr const char* kHelpButtonStyle = R"(
QPushButton {
    color: rgba(255, 255, 255, 220);
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(112, 116, 124), stop:1 rgb(78, 81, 88));
    border: 1px solid rgba(0, 0, 0, 140);
    border-radius: 11px;
    padding: 0;
}
QPushButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(128, 132, 140), stop:1 rgb(92, 95, 102)); }
QPushButton:pressed { background: rgb(64, 66, 72); }
)";

}  // namespace

QLabel* TestAppDelegate::makeFaceLabel(const QString& text, double size, QFont::Weight weight, const QColor& color)
{
    auto* label = new QLabel(text);
    styleFaceLabel(*label, ui::systemFont(size, weight), color);
    return label;
}

void TestAppDelegate::buildDashboard()
{
    window = std::make_unique<ui::KeyableBorderlessWindow>(Qt::FramelessWindowHint);
    window->resize(static_cast<int>(dashW), static_cast<int>(dashH));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QPoint centre = screen->availableGeometry().center();
        window->move(centre - QPoint(static_cast<int>(dashW) / 2, static_cast<int>(dashH) / 2));
    }

    auto* content = new QWidget(window.get());
    setGeometry(*content, 0, 0, dashW, dashH);

    bezelView = new ui::ConsoleBezelView(content);
    bezelView->setFrame({0, 0, dashW, dashH});
    faceView = new ui::ConsoleFaceView(bezelView);
    faceView->setFrame({bezelPad, bezelPad, dashW - 2 * bezelPad, dashH - 2 * bezelPad});
    const double W = faceView->bounds().width();

    QLabel* maker = makeFaceLabel(QStringLiteral("Quillmere Systems"), 14, QFont::Medium, goldColor(1.0));
    maker->setParent(faceView);
    setGeometry(*maker, 28, 52, W - 56, 18);

    QLabel* title = makeFaceLabel(QStringLiteral("Ondaline"), 54, QFont::Bold, goldColor());
    title->setParent(faceView);
    setGeometry(*title, 0, 84, W, 64);
    title->setAlignment(Qt::AlignCenter);

    auto* subtitle = new QLabel(faceView);
    QFont subtitleFont = ui::systemFont(13);
    subtitleFont.setLetterSpacing(QFont::AbsoluteSpacing, 5.0);
    styleFaceLabel(*subtitle, subtitleFont, goldColor(0.6));
    subtitle->setAlignment(Qt::AlignCenter);
    setGeometry(*subtitle, 0, 152, W, 16);
    subtitle->setText(QStringLiteral("STREAMING ENGINE"));

    const double meterW = (W - 56 + 16) * 0.8;
    vuMeterView = new ui::VUMeterView(faceView);
    vuMeterView->setFrame({(W - meterW) * 0.5, 199.8, meterW, 86.4});
    vuMeterView->startAnimating();

    ledView = new ui::LEDIndicatorView(faceView);
    ledView->setFrame({(W - 14) * 0.5, 315, 14, 14});

    stationNameLabel = new QLabel(faceView);
    stationNameLabel->setAlignment(Qt::AlignCenter);
    setGeometry(*stationNameLabel, 0, 359, W, 16);
    updateStationNameLabel();

    nowPlayingLabel = new LineLimitedLabel(2, faceView);
    styleFaceLabel(*nowPlayingLabel, ui::systemFont(17), ui::white(0.8, 1.0));
    setGeometry(*nowPlayingLabel, 28, 388, W - 56, 48);
    nowPlayingLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    auto* rule = new QWidget(faceView);
    setGeometry(*rule, 28, 463, W - 56, 1);
    QPalette rulePalette = rule->palette();
    rulePalette.setColor(QPalette::Window, goldColor(0.15));
    rule->setPalette(rulePalette);
    rule->setAutoFillBackground(true);

    const double pairLeft = (W - 300 - 14) * 0.5;
    connectButton = new ui::ConsoleButton(faceView);
    connectButton->setFrame({pairLeft, 508, 150, 36});
    connectButton->setTitle(QStringLiteral("Start Streaming"));
    connectButton->setGold(true);
    connectButton->setAction([this](ui::ConsoleButton&) { toggleConnect(); });

    settingsButton = new ui::ConsoleButton(faceView);
    settingsButton->setFrame({pairLeft + 150 + 14, 508, 150, 36});
    settingsButton->setTitle(QStringLiteral("⚙ Settings"));
    settingsButton->setGold(false);
    settingsButton->setAction([this](ui::ConsoleButton&) { toggleSettingsDrawer(); });

    statusLabel = makeFaceLabel(QStringLiteral("Connecting to source…"), 12, QFont::Normal, ui::white(1.0, 0.25));
    statusLabel->setParent(faceView);
    setGeometry(*statusLabel, 0, 564, W, 16);
    statusLabel->setAlignment(Qt::AlignCenter);

    helpButton = new QPushButton(QStringLiteral("?"), faceView);
    helpButton->setFont(ui::systemFont(13, QFont::Bold));
    helpButton->setStyleSheet(QString::fromLatin1(kHelpButtonStyle));
    helpButton->setToolTip(QStringLiteral("Ondaline Help"));
    helpButton->setFocusPolicy(Qt::NoFocus);  // the space bar belongs to the activity log
    setGeometry(*helpButton, W - 30, 4, 22, 22);
    QObject::connect(helpButton, &QPushButton::clicked, this, [this] { openOndalineHelp(); });

    buildDrawerShell();

    window->show();
    window->activateWindow();
}

void TestAppDelegate::updateStationNameLabel()
{
    QFont font = ui::systemFont(13);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 4.0);
    styleFaceLabel(*stationNameLabel, font, goldColor(0.6));
    // Full case mapping: "ß" becomes "SS". The record keeps the name as typed.
    stationNameLabel->setText(QString::fromStdString(scheduleConfig.stationName).toUpper());
}

}  // namespace ondaline::app
