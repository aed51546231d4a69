// The dashboard window as built: where everything sits on the face, the key
// texts, fonts and colours, the station name line, the two-line now-playing
// text and the look before any source has reported.

#include "app/app_delegate.h"
#include "app/qt_main_executor.h"
#include "support/private_home.h"
#include "ui/console/console_bezel_view.h"
#include "ui/console/console_button.h"
#include "ui/console/console_face_view.h"
#include "ui/console/keyable_borderless_window.h"
#include "ui/console/led_indicator_view.h"
#include "ui/console/vu_meter_view.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using ondaline::app::QtMainExecutor;
using ondaline::app::TestAppDelegate;

namespace {

QLabel* labelWithText(QWidget& parent, const QString& text)
{
    for (QLabel* label : parent.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->text() == text) return label;
    }
    return nullptr;
}

QColor textColor(const QLabel& label) { return label.palette().color(QPalette::WindowText); }

// The lowest row of `label` with any ink on it, or −1 when it shows nothing.
int lowestInkedRow(QLabel& label)
{
    QImage image(label.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    label.render(&image, {}, {}, QWidget::DrawChildren);  // the text alone, no background
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) return y;
        }
    }
    return -1;
}

}  // namespace

class DashboardWindow : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    std::shared_ptr<QtMainExecutor> executor_;
    std::unique_ptr<TestAppDelegate> controller_;

private slots:
    void initTestCase()
    {
        // Never this machine's station or settings.
        QVERIFY(home_.isValid());
        ondaline::test::usePrivateHome(home_.path());
        executor_ = std::make_shared<QtMainExecutor>();
        controller_ = std::make_unique<TestAppDelegate>(executor_);
        controller_->buildDashboard();
    }

    void cleanupTestCase()
    {
        controller_.reset();
        executor_->close();
    }

    void everyFrameOnTheFace()
    {
        auto& c = *controller_;
        QCOMPARE(c.window->size(), QSize(520, 640));
        QCOMPARE(c.dashboard().bezelView()->frame(), QRectF(0, 0, 520, 640));
        QCOMPARE(c.dashboard().faceView()->frame(), QRectF(14, 14, 492, 612));
        QCOMPARE(c.dashboard().faceView()->parentWidget(), c.dashboard().bezelView());

        QWidget& face = *c.dashboard().faceView();
        QLabel* maker = labelWithText(face, "Quillmere Systems");
        QLabel* title = labelWithText(face, "Ondaline");
        QLabel* subtitle = labelWithText(face, "STREAMING ENGINE");
        QVERIFY(maker && title && subtitle);
        QCOMPARE(maker->geometry(), QRect(28, 52, 436, 18));
        QCOMPARE(title->geometry(), QRect(0, 84, 492, 64));
        QCOMPARE(subtitle->geometry(), QRect(0, 152, 492, 16));
        QCOMPARE(c.dashboard().vuMeterView()->frame(), QRectF(65.2, 199.8, 361.6, 86.4));
        QCOMPARE(c.dashboard().ledView()->frame(), QRectF(239, 315, 14, 14));
        QCOMPARE(c.dashboard().stationNameLabel()->geometry(), QRect(0, 359, 492, 16));
        QCOMPARE(c.dashboard().nowPlayingLabel()->geometry(), QRect(28, 388, 436, 48));
        QCOMPARE(c.dashboard().connectButton()->frame(), QRectF(89, 508, 150, 36));
        QCOMPARE(c.dashboard().settingsButton()->frame(), QRectF(253, 508, 150, 36));
        QCOMPARE(c.dashboard().statusLabel()->geometry(), QRect(0, 564, 492, 16));
        QCOMPARE(c.dashboard().helpButton()->geometry(), QRect(462, 4, 22, 22));

        // The gold rule is the one plain child one point high.
        QWidget* rule = nullptr;
        for (QWidget* child : face.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->height() == 1) rule = child;
        }
        QVERIFY(rule);
        QCOMPARE(rule->geometry(), QRect(28, 463, 436, 1));
        QCOMPARE(rule->palette().color(QPalette::Window), TestAppDelegate::goldColor(0.15));

        // Everything named above is on the face itself.
        for (QWidget* view : std::initializer_list<QWidget*>{
                 c.dashboard().vuMeterView(), c.dashboard().ledView(), c.dashboard().stationNameLabel(),
                 c.dashboard().nowPlayingLabel(), c.dashboard().connectButton(), c.dashboard().settingsButton(),
                 c.dashboard().statusLabel(), c.dashboard().helpButton()}) {
            QCOMPARE(view->parentWidget(), &face);
        }
    }

    void textsFontsAndColours()
    {
        auto& c = *controller_;
        QLabel* title = labelWithText(*c.dashboard().faceView(), "Ondaline");
        QLabel* subtitle = labelWithText(*c.dashboard().faceView(), "STREAMING ENGINE");
        QVERIFY(title && subtitle);
        QCOMPARE(title->font().family(), QString("Inter"));
        QCOMPARE(title->font().pixelSize(), 54);
        QCOMPARE(title->font().weight(), QFont::Bold);
        QCOMPARE(textColor(*title), TestAppDelegate::goldColor());
        QCOMPARE(subtitle->font().letterSpacing(), 5.0);
        QCOMPARE(subtitle->font().letterSpacingType(), QFont::AbsoluteSpacing);
        QCOMPARE(textColor(*subtitle), TestAppDelegate::goldColor(0.6));
        QCOMPARE(textColor(*c.dashboard().nowPlayingLabel()), QColor(204, 204, 204));
        QCOMPARE(c.dashboard().nowPlayingLabel()->textFormat(), Qt::PlainText);  // a song title is never markup

        QCOMPARE(c.dashboard().settingsButton()->title(), QString("⚙ Settings"));
        QVERIFY(!c.dashboard().settingsButton()->isGold());
        QCOMPARE(c.dashboard().helpButton()->text(), QString("?"));
        QCOMPARE(c.dashboard().helpButton()->toolTip(), QString("Ondaline Help"));
    }

    void stationNameShowsInCapitals()
    {
        auto& c = *controller_;
        QCOMPARE(c.dashboard().stationNameLabel()->text(), QString("MY STATION"));  // the record's default
        QCOMPARE(c.dashboard().stationNameLabel()->font().letterSpacing(), 4.0);
        QCOMPARE(textColor(*c.dashboard().stationNameLabel()), TestAppDelegate::goldColor(0.6));

        c.scheduleConfig.stationName = "radio Nord-Ost";
        c.updateStationNameLabel();
        QCOMPARE(c.dashboard().stationNameLabel()->text(), QString("RADIO NORD-OST"));
        QCOMPARE(c.scheduleConfig.stationName, std::string("radio Nord-Ost"));

        c.scheduleConfig.stationName = "straße fünf";
        c.updateStationNameLabel();
        QCOMPARE(c.dashboard().stationNameLabel()->text(), QString("STRASSE FÜNF"));
        QCOMPARE(c.scheduleConfig.stationName, std::string("straße fünf"));

        c.scheduleConfig.stationName.clear();
        c.updateStationNameLabel();
        QCOMPARE(c.dashboard().stationNameLabel()->text(), QString());
        QCOMPARE(c.dashboard().stationNameLabel()->geometry(), QRect(0, 359, 492, 16));
    }

    void nowPlayingKeepsToTwoLines()
    {
        auto& c = *controller_;
        QLabel& label = *c.dashboard().nowPlayingLabel();
        const double lineHeight = QFontMetricsF(label.font()).height();

        label.setText("Short Title");
        const int oneLine = lowestInkedRow(label);
        QVERIFY(oneLine >= 0 && oneLine < lineHeight);

        label.setText("The Long Winding Orchestra — A Very Long Song Title That Goes On And On Well Past Two Lines Of "
                      "This Label");
        const int cut = lowestInkedRow(label);
        QCOMPARE(label.geometry(), QRect(28, 388, 436, 48));
        QVERIFY2(cut > lineHeight, "wraps onto a second line");
        QVERIFY2(cut < 2 * lineHeight + 1, "nothing of a third line shows");

        // One word wider than the label breaks rather than running off the side.
        label.setText(QString(80, QChar('W')));
        QVERIFY(lowestInkedRow(label) > lineHeight);
        label.clear();
    }

    void lookBeforeAnySourceReports()
    {
        auto& c = *controller_;
        QVERIFY(!c.dashboard().ledView()->isLit());
        QCOMPARE(c.dashboard().statusLabel()->text(), QString("Connecting to source…"));
        QCOMPARE(textColor(*c.dashboard().statusLabel()), QColor(255, 255, 255, 64));
        QCOMPARE(c.dashboard().connectButton()->title(), QString("Start Streaming"));
        QVERIFY(c.dashboard().connectButton()->isGold());
        QVERIFY(c.dashboard().connectButton()->action());
        QVERIFY(c.dashboard().settingsButton()->action());
        QVERIFY(c.window->isVisible());
        QVERIFY(c.window->windowFlags() & Qt::FramelessWindowHint);
    }
};

QTEST_MAIN(DashboardWindow)
#include "dashboard_window_test.moc"
