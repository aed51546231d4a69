// The help window of the built program on a virtual display: with no way to
// the documentation it shows its own page, the web engine's start leaves the
// log alone, and quitting with it open ends the program cleanly. Its web
// engine is loaded only then, and without the library that holds it help
// says it cannot be shown.

#include "support/desktop_session.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace ondaline::test;

namespace {

const QPoint helpButton(14 + 462 + 11, 14 + 4 + 11);

bool webEngineMapped(qint64 pid)
{
    QFile maps(QString("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngineCore");
}

}  // namespace

class HelpEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void theFallbackPageShowsAndQuitEndsCleanly()
    {
        QTemporaryDir home;
        writeStation(home.path(), "{}");
        Desktop desktop(ONDALINE_PROGRAM, home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        QVERIFY2(!webEngineMapped(desktop.pid()), "the web engine was loaded before help was opened");
        desktop.click(helpButton);

        // The window is centred on the 1280 x 800 screen at 820 x 640.
        const auto fallbackShown = [&] {
            const QImage screen = desktop.screen();
            const bool ground = screen.pixelColor(240, 700) == QColor(0xf5, 0xf5, 0xf5);
            int heading = 0;  // the red of the heading's letters
            for (int y = 140; y < 200; ++y)
                for (int x = 300; x < 800; ++x) heading += screen.pixelColor(x, y) == QColor(0xc0, 0x39, 0x2b);
            return ground && heading > 100;
        };
        QTRY_VERIFY_WITH_TIMEOUT(fallbackShown(), 30000);
        QVERIFY(webEngineMapped(desktop.pid()));
        // The web engine's start-up report stays out of the log.
        QVERIFY2(!desktop.output().contains("qt.webenginecontext"), qPrintable(desktop.output()));

        desktop.key("ctrl+q");
        QCOMPARE(desktop.waitForExit(15000), 0);
        QVERIFY2(!desktop.output().contains("still not deleted"), qPrintable(desktop.output()));
    }

    // The program alone, as if the library beside it had not been installed.
    void helpWithoutItsLibrarySaysSoAndTheProgramGoesOn()
    {
        QTemporaryDir home;
        writeStation(home.path(), "{}");
        const QString program = home.path() + "/ondaline";
        QVERIFY(QFile::copy(ONDALINE_PROGRAM, program));
        Desktop desktop(program, home.path());
        QVERIFY(desktop.started());
        QVERIFY2(desktop.waitForWindow(), qPrintable(desktop.describe()));
        desktop.click(helpButton);
        const QString said = QString::fromUtf8("Ondaline: ⚠ Help cannot be shown — ");
        QTRY_VERIFY2_WITH_TIMEOUT(desktop.output().contains(said), qPrintable(desktop.describe()), 20000);
        const QString why = desktop.output().section(said, 1).section('\n', 0, 0);
        QVERIFY2(why.contains("libondaline_help.so"), qPrintable(why));
        QCOMPARE(desktop.quit(), 0);
    }
};

QTEST_GUILESS_MAIN(HelpEndToEnd)
#include "help_e2e_test.moc"
