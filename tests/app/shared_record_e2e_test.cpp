// The built program's drawer and overlay editor used together, as a station
// switching between the two windows all day uses them: neither puts back
// what was changed in the other since.

#include "support/desktop_session.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace ondaline::test;

namespace {

// A point of the open drawer page: `x` across its 310-px column, `y` down it.
QPoint onPage(int x, int y) { return {538 + x, 14 + y}; }

// The settings page scrolled to its end, and the appearance page.
const QPoint appearanceButton = onPage(153, 497);
const QPoint sizePopup = onPage(153, 177);
const QPoint editOverlayLayout = onPage(153, 235);
const QPoint editSchedule = onPage(153, 356);

// The editor, on the 1280 x 800 screen.
const QPoint prefixCheck(704, 524);
const QPoint sizeField(598, 599);
const QPoint hourOffsetField(435, 108);
const QPoint closeButton(928, 795);

class Station {
public:
    explicit Station(const QString& settingsJSON)
        : file_(writeStation(home_.path(), settingsJSON) + "/Misc/System/Streamer/ondaline_schedule.json"),
          desktop_(ONDALINE_PROGRAM, home_.path())
    {
    }

    Desktop& desktop() { return desktop_; }

    QJsonObject stored() const
    {
        QFile file(file_);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
    double fontSize() const { return stored()["nowPlaying"].toObject()["fontSize"].toDouble(); }

    // Ctrl+, opens the drawer on its settings page, wherever the focus is.
    void openAppearance()
    {
        desktop_.key("ctrl+comma");
        QThread::msleep(1500);
        desktop_.wheel(onPage(153, 387), 15);
        QThread::msleep(300);
        desktop_.click(appearanceButton);
        QThread::msleep(1000);
    }
    // Back to the settings page, then closed: what closing writes is written.
    void closeDrawer()
    {
        desktop_.key("ctrl+comma");
        QThread::msleep(1500);
        desktop_.key("ctrl+comma");
        QThread::msleep(1500);
    }
    // The size pop-up's item `down` below its first, or the one it shows.
    void chooseSize(std::optional<int> down)
    {
        desktop_.click(sizePopup);
        QThread::msleep(500);
        QString keys = down ? "Home" + QString(" Down").repeated(*down) : QString();
        desktop_.key(keys + " Return");
        QThread::msleep(500);
    }

private:
    QTemporaryDir home_;
    const QString file_;
    Desktop desktop_;
};

constexpr char storedSize26[] =
    R"({"audioSource": "local", "nowPlaying": {"fontName": "Helvetica-Bold", "fontSize": 26}})";

}  // namespace

class SharedRecordEndToEnd : public QObject {
    Q_OBJECT
private slots:
    // A font chosen in the drawer while the editor is open, then a change in
    // the editor: the editor's save keeps the drawer's size.
    void editorKeepsTheDrawersSize()
    {
        Station station(storedSize26);
        QVERIFY2(station.desktop().waitForWindow(), qPrintable(station.desktop().describe()));
        station.openAppearance();
        station.desktop().click(editOverlayLayout);
        QThread::msleep(2000);
        station.chooseSize(4);  // 32 pt
        station.closeDrawer();
        QCOMPARE(station.fontSize(), 32.0);
        station.desktop().clickOnScreen(prefixCheck);
        QTRY_VERIFY_WITH_TIMEOUT(station.stored()["nowPlaying"].toObject()["showPrefix"].toBool(), 5000);
        QCOMPARE(station.fontSize(), 32.0);
        QCOMPARE(station.desktop().quit(), 0);
    }

    // A size chosen on the page with the drawer left open, then another
    // typed in the editor: closing the drawer does not put the first back.
    void closingTheDrawerKeepsTheEditorsNewerSize()
    {
        Station station(storedSize26);
        QVERIFY2(station.desktop().waitForWindow(), qPrintable(station.desktop().describe()));
        station.openAppearance();
        station.chooseSize(4);  // 32 pt
        station.desktop().click(editOverlayLayout);
        QThread::msleep(2000);
        station.desktop().clickOnScreen(sizeField, 3);
        station.desktop().type("40");
        station.desktop().key("Return");
        QTRY_COMPARE_WITH_TIMEOUT(station.fontSize(), 40.0, 5000);
        station.closeDrawer();
        QCOMPARE(station.fontSize(), 40.0);
        QCOMPARE(station.desktop().quit(), 0);
    }

    // "Edit Overlay Layout…" pressed with the editor open only brings it to
    // the front: an hour offset typed there is kept.
    void reopeningTheEditorKeepsWhatWasTyped()
    {
        Station station(storedSize26);
        QVERIFY2(station.desktop().waitForWindow(), qPrintable(station.desktop().describe()));
        station.openAppearance();
        station.desktop().click(editSchedule);
        QThread::msleep(2000);
        station.desktop().clickOnScreen(hourOffsetField, 3);
        station.desktop().type("5");
        station.desktop().click(editOverlayLayout);
        QThread::msleep(1000);
        station.desktop().clickOnScreen(closeButton);
        QTRY_COMPARE_WITH_TIMEOUT(station.stored()["hourOffset"].toInt(), 5, 5000);
        QCOMPARE(station.desktop().quit(), 0);
    }

    // 26 pt, which the page does not list, is shown as it is: taking the
    // pop-up's shown item keeps it.
    void unlistedSizeIsShownAsItIs()
    {
        Station station(storedSize26);
        QVERIFY2(station.desktop().waitForWindow(), qPrintable(station.desktop().describe()));
        station.openAppearance();
        station.chooseSize(std::nullopt);
        station.closeDrawer();
        QCOMPARE(station.fontSize(), 26.0);
        QCOMPARE(station.desktop().quit(), 0);
    }
};

QTEST_GUILESS_MAIN(SharedRecordEndToEnd)
#include "shared_record_e2e_test.moc"
