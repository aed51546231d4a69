// The dashboard's views. Frames are in the face's top-left coordinates and
// follow the face's width alone.

#include "app/dashboard_view.h"

#include "app/gold_color.h"
#include "app/source_callbacks.h"
#include "app/status_line.h"
#include "platform/text.h"

#include "ui/console/console_bezel_view.h"
#include "ui/console/console_button.h"
#include "ui/console/console_face_view.h"
#include "ui/console/console_paint.h"
#include "ui/console/led_indicator_view.h"
#include "ui/console/vu_meter_view.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>

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

QLabel* makeFaceLabel(QWidget* parent, const QString& text, double size, QFont::Weight weight, const QColor& color)
{
    auto* label = new QLabel(text, parent);
    styleFaceLabel(*label, ui::systemFont(size, weight), color);
    return label;
}

}  // namespace

void DashboardView::build(QWidget& content, Actions actions, const std::string& stationName)
{
    bezel_ = new ui::ConsoleBezelView(&content);
    bezel_->setFrame({0, 0, width, height});
    face_ = new ui::ConsoleFaceView(bezel_);
    face_->setFrame({bezelPad, bezelPad, width - 2 * bezelPad, height - 2 * bezelPad});
    const double W = face_->bounds().width();

    QLabel* maker = makeFaceLabel(face_, QStringLiteral("Quillmere Systems"), 14, QFont::Medium, goldColor(1.0));
    setGeometry(*maker, 28, 52, W - 56, 18);

    QLabel* title = makeFaceLabel(face_, QStringLiteral("Ondaline"), 54, QFont::Bold, goldColor());
    setGeometry(*title, 0, 84, W, 64);
    title->setAlignment(Qt::AlignCenter);

    auto* subtitle = new QLabel(face_);
    QFont subtitleFont = ui::systemFont(13);
    subtitleFont.setLetterSpacing(QFont::AbsoluteSpacing, 5.0);
    styleFaceLabel(*subtitle, subtitleFont, goldColor(0.6));
    subtitle->setAlignment(Qt::AlignCenter);
    setGeometry(*subtitle, 0, 152, W, 16);
    subtitle->setText(QStringLiteral("STREAMING ENGINE"));

    const double meterW = (W - 56 + 16) * 0.8;
    meter_ = new ui::VUMeterView(face_);
    meter_->setFrame({(W - meterW) * 0.5, 199.8, meterW, 86.4});
    meter_->startAnimating();
    // Sources report at least twice a second while they deliver; a meter
    // whose reports stop rests instead of holding its last reading.
    levelsLapse_ = new QTimer(meter_);
    levelsLapse_->setSingleShot(true);
    levelsLapse_->setInterval(levelsLapseMs);
    QObject::connect(levelsLapse_, &QTimer::timeout, meter_, [meter = meter_] {
        meter->setTargetLevelL(meterTarget(0));
        meter->setTargetLevelR(meterTarget(0));
    });

    led_ = new ui::LEDIndicatorView(face_);
    led_->setFrame({(W - 14) * 0.5, 315, 14, 14});

    stationName_ = new QLabel(face_);
    stationName_->setAlignment(Qt::AlignCenter);
    setGeometry(*stationName_, 0, 359, W, 16);
    setStationName(stationName);

    nowPlaying_ = new LineLimitedLabel(2, face_);
    styleFaceLabel(*nowPlaying_, ui::systemFont(17), ui::white(0.8, 1.0));
    setGeometry(*nowPlaying_, 28, 388, W - 56, 48);
    nowPlaying_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    auto* rule = new QWidget(face_);
    setGeometry(*rule, 28, 463, W - 56, 1);
    QPalette rulePalette = rule->palette();
    rulePalette.setColor(QPalette::Window, goldColor(0.15));
    rule->setPalette(rulePalette);
    rule->setAutoFillBackground(true);

    const double pairLeft = (W - 300 - 14) * 0.5;
    connect_ = new ui::ConsoleButton(face_);
    connect_->setFrame({pairLeft, 508, 150, 36});
    connect_->setTitle(QStringLiteral("Start Streaming"));
    connect_->setGold(true);
    connect_->setAction([press = std::move(actions.connect)](ui::ConsoleButton&) {
        if (press) press();
    });

    settings_ = new ui::ConsoleButton(face_);
    settings_->setFrame({pairLeft + 150 + 14, 508, 150, 36});
    settings_->setTitle(QStringLiteral("⚙ Settings"));
    settings_->setGold(false);
    settings_->setAction([press = std::move(actions.settings)](ui::ConsoleButton&) {
        if (press) press();
    });

    status_ = makeFaceLabel(face_, QStringLiteral("Connecting to source…"), 12, QFont::Normal, ui::white(1.0, 0.25));
    setGeometry(*status_, 0, 564, W, 16);
    status_->setAlignment(Qt::AlignCenter);

    help_ = new QPushButton(QStringLiteral("?"), face_);
    help_->setFont(ui::systemFont(13, QFont::Bold));
    help_->setStyleSheet(QString::fromLatin1(kHelpButtonStyle));
    help_->setToolTip(QStringLiteral("Ondaline Help"));
    help_->setFocusPolicy(Qt::NoFocus);  // the space bar belongs to the activity log
    setGeometry(*help_, W - 30, 4, 22, 22);
    if (actions.help) QObject::connect(help_, &QPushButton::clicked, help_, std::move(actions.help));
}

namespace {

// The station's name, titles and file names come from files: their control characters are shown.
QString withControlsShown(const QString& text)
{
    return QString::fromStdString(platform::withControlsShown(text.toStdString()));
}

// `text` as it fits `label` on one line, never cut at its edges as
// centred text too wide would be. An application's `name` in it, between
// quotes, is shortened first, with an ellipsis, so that the state and the
// figures before it stay whole and what is said of the name still shows;
// down to its first letters, after which the end of the line goes. Other
// text loses its middle (a path's folders).
QString fitted(const QLabel& label, QString text, const QString& name)
{
    const QFontMetrics metrics(label.font());
    const int room = label.contentsRect().width();
    if (metrics.horizontalAdvance(text) <= room) return text;
    const QString quoted = QLatin1Char('\'') + name + QLatin1Char('\'');
    const qsizetype at = name.isEmpty() ? -1 : text.indexOf(quoted);
    if (at < 0) return metrics.elidedText(text, Qt::ElideMiddle, room);
    const QString ellipsis(QChar(0x2026));
    const int rest = metrics.horizontalAdvance(QString(text).remove(at + 1, name.size()));
    const int least = metrics.horizontalAdvance(name.left(3) + ellipsis);
    const QString shortened = metrics.elidedText(name, Qt::ElideRight, std::max(least, room - rest));
    text.replace(at + 1, name.size(), shortened.isEmpty() ? name.left(3) + ellipsis : shortened);
    return metrics.elidedText(text, Qt::ElideRight, room);
}

}  // namespace

void DashboardView::setStationName(const std::string& name)
{
    if (!stationName_) return;
    QFont font = ui::systemFont(13);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 4.0);
    styleFaceLabel(*stationName_, font, goldColor(0.6));
    // Full case mapping: "ß" becomes "SS".
    stationName_->setText(QString::fromStdString(platform::withControlsShown(name)).toUpper());
}

void DashboardView::setNowPlaying(const QString& text)
{
    if (nowPlaying_) nowPlaying_->setText(withControlsShown(text));
}

void DashboardView::showStatus(const QString& text, const QColor& color, const QString& name)
{
    if (!status_) return;
    app::showStatus(status_, fitted(*status_, withControlsShown(text), withControlsShown(name)), color);
}

void DashboardView::setStatusText(const QString& text, const QString& name)
{
    if (status_) status_->setText(fitted(*status_, withControlsShown(text), withControlsShown(name)));
}

QColor DashboardView::statusColor() const
{
    return status_ ? status_->palette().color(QPalette::WindowText) : QColor();
}

void DashboardView::setLampLit(bool lit)
{
    if (led_) led_->setLit(lit);
}

void DashboardView::showConnectButton(const QString& title, bool gold, bool green)
{
    app::showConnectButton(connect_, title, gold, green);
}

void DashboardView::showLevels(float left, float right)
{
    if (!meter_) return;
    meter_->setTargetLevelL(meterTarget(left));
    meter_->setTargetLevelR(meterTarget(right));
    levelsLapse_->start();
}

}  // namespace ondaline::app
