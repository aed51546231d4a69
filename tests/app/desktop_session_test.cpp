// The desktop helper itself: a program that ends without a window makes a
// failure message that says what it printed, how it ended and where.

#include "support/desktop_session.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ondaline::test;

class DesktopSessionTest : public QObject {
    Q_OBJECT
private slots:
    void programThatEndsAtOnceIsDescribed()
    {
        QTemporaryDir home;
        QFile script(home.path() + "/ends-at-once");
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"no window today\"\necho \"DISPLAY=$DISPLAY\" >&2\nexit 3\n");
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));

        Desktop desktop(script.fileName(), home.path());
        QVERIFY(desktop.started());
        QVERIFY(!desktop.waitForWindow());
        const QString described = desktop.describe();
        QVERIFY2(described.startsWith(script.fileName() + " on display " + desktop.display() +
                                      ", exited with status 3"),
                 qPrintable(described));
        QVERIFY2(described.contains("no window today") && described.contains("DISPLAY=" + desktop.display()),
                 qPrintable(described));
    }
};

QTEST_GUILESS_MAIN(DesktopSessionTest)
#include "desktop_session_test.moc"
