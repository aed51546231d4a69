// The help window of the built program on a virtual display: with no way to
// the documentation it shows its own page, the web engine's start leaves the
// log alone, and quitting with it open ends the program cleanly.

#include "support/desktop_session.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace ondaline::test;

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
        desktop.click({14 + 462 + 11, 14 + 4 + 11});  // the "?" button

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
        // The web engine's start-up report stays out of the log.
        QVERIFY2(!desktop.output().contains("qt.webenginecontext"), qPrintable(desktop.output()));

        desktop.key("ctrl+q");
        QCOMPARE(desktop.waitForExit(15000), 0);
        QVERIFY2(!desktop.output().contains("still not deleted"), qPrintable(desktop.output()));
    }
};

QTEST_GUILESS_MAIN(HelpEndToEnd)
#include "help_e2e_test.moc"
