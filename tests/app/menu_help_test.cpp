// The menu's keys from the dashboard and the help window, its context menu,
// and the help window: its fallback page for failed loads, the pages it
// shows as sent, and its zoom keys; root's window with the program's page.

#include "app/activity_page.h"
#include "app/built_in_help_page.h"
#include "app/help_window.h"
#include "app/web_help_page.h"
#include "base/activity_log.h"
#include "launched_controller.h"
#include "support/needs.h"
#include "ui/console/keyable_borderless_window.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QParallelAnimationGroup>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWindow>

#include <unistd.h>

using namespace ondaline;
using namespace ondaline::app;

namespace {

// The help window's web page, as the library builds it.
WebHelpPage& helpOf(TestAppDelegate& app) { return static_cast<WebHelpPage&>(app.helpWindow->page()); }

// The rows from the top of `image` to the bottom of the heading's red
// letters, and how many rows they span; {-1, 0} where there are none.
std::pair<int, int> headingRows(const QImage& image)
{
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == QColor(0xc0, 0x39, 0x2b)) {
                if (first < 0) first = y;
                last = y;
                break;
            }
    return {first, first < 0 ? 0 : last - first + 1};
}

// What the page's script gives, waited for.
QVariant evaluate(QWebEngineView& view, const QString& script)
{
    QVariant result;
    bool done = false;
    view.page()->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    for (int waited = 0; !done && waited < 10000; waited += 20) QTest::qWait(20);
    return result;
}

// A web server on a loopback port: "/slow" never answers, everything else
// gets a 404 page of its own.
struct LoopbackServer : QTcpServer {
    LoopbackServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                if (socket->readAll().contains("GET /slow")) return;
                const QByteArray body =
                    "<html><head><title>Missing</title></head><body><h1>Not here</h1></body></html>";
                socket->write(
                    "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
    }
    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path));
    }
};

QString heading(QWebEngineView& view)
{
    return evaluate(view, "document.querySelector('h1') ? document.querySelector('h1').textContent : ''").toString();
}

}  // namespace

class MenuHelpTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(test::usePrivateStation(home_.path())); }
    void init()
    {
        app_ = test::launchController(main_, [](TestAppDelegate& app) {
            app.helpURL = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(test::closedPort()));
            // The web engine's page, whoever runs the test (see main), but
            // where root's own is the test.
            if (QTest::currentTestFunction() != QByteArray("helpAsRootIsTheHelpWindowWithThePagesOwnText"))
                app.helpWithoutWebEngine = false;
        });
    }
    void cleanup() { app_.reset(); }

    void theMenuTreeAndItsKeys()
    {
        QStringList tree;
        for (QAction* top : app_->mainMenu->actions()) {
            tree << top->text() + ":";
            for (QAction* item : top->menu()->actions())
                if (!item->isSeparator()) tree << item->text() + " " + item->shortcut().toString();
        }
        QCOMPARE(tree.join(" | "), QString::fromUtf8("Ondaline: | Settings… Ctrl+, | Quit Ondaline Ctrl+Q | Edit: | "
                                                     "Cut Ctrl+X | Copy Ctrl+C | Paste Ctrl+V | Select All Ctrl+A | "
                                                     "Window: | Close Ctrl+W | Help: | Ondaline Help Ctrl+?"));
    }

    void settingsAndCloseKeys()
    {
        TestAppDelegate& app = *app_;
        QWindow* dashboard = app.window->windowHandle();
        QTest::keyClick(dashboard, Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(app.isDrawerOpen());
        QTest::keyClick(dashboard, Qt::Key_W, Qt::ControlModifier);  // closes the drawer, not the window
        QTRY_VERIFY(!app.isDrawerOpen());
        QVERIFY(app.window->isVisible());

        app.openActivityDrawer();
        QTRY_VERIFY(app.isDrawerOpen());
        QTest::keyClick(dashboard, Qt::Key_Comma, Qt::ControlModifier);  // activity → settings after the slide
        QTRY_VERIFY(app.isDrawerOpen() && app.activeDrawer() == DrawerPage::settings);
        QTest::keyClick(dashboard, Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(!app.isDrawerOpen() && !app.drawer().isSliding());

        QTest::keyClick(dashboard, Qt::Key_Comma, Qt::ControlModifier);  // still sliding open: the window goes
        QTest::keyClick(dashboard, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!app.window->isVisible());
    }

    void editKeysActOnTheFocusedWidget()
    {
        TestAppDelegate& app = *app_;
        app.toggleSettingsDrawer();
        QTRY_VERIFY(app.isDrawerOpen());
        QLineEdit& key = *app.settingsPage().drStreamKeyField();
        key.setFocus();
        QTest::keyClicks(&key, "secret");
        QWindow* dashboard = app.window->windowHandle();
        QTest::keyClick(dashboard, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(dashboard, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), "secret");
        QCOMPARE(key.text(), "");

        app.openActivityDrawer();
        QTRY_VERIFY(app.isDrawerOpen() && app.activityPage().activityTextView());
        app.activityPage().activityTextView()->setFocus();
        QTest::keyClick(dashboard, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(dashboard, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(ActivityLog::shared().allText()));
    }

    void failedLoadsBringTheFallbackAndHttpErrorsShowAsSent()
    {
        TestAppDelegate& app = *app_;
        LoopbackServer server;
        const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(test::closedPort());
        for (const QString& address : {QStringLiteral("https://help.invalid/documentation/ondaline/"), refused}) {
            app.helpURL = QUrl(address);
            if (app.helpWindow) app.helpWindow->close();
            app.openOndalineHelp();
            QWebEngineView& view = *helpOf(app).helpWebView;
            QTRY_COMPARE_WITH_TIMEOUT(heading(view), "Help is currently unavailable", 20000);
            QCOMPARE(evaluate(view, "document.title").toString(), "Ondaline Help");
            QCOMPARE(evaluate(view, "document.querySelector('code').textContent").toString(), QLatin1String(kHelpHost));
            QVERIFY(evaluate(view, "document.querySelector('.err').textContent").toString().startsWith("net::ERR_"));
            QCOMPARE(evaluate(view, "getComputedStyle(document.querySelector('.err')).fontSize").toString(), "16px");
            QCOMPARE(evaluate(view, "getComputedStyle(document.querySelector('h1')).fontSize").toString(), "26px");
            QCOMPARE(evaluate(view, "document.links.length").toInt(), 0);
        }
        // Copy from the page by the menu's keys.
        QWebEngineView& view = *helpOf(app).helpWebView;
        view.setFocus();
        QTest::keyClick(app.helpWindow->windowHandle(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(app.helpWindow->windowHandle(), Qt::Key_C, Qt::ControlModifier);
        QTRY_VERIFY(QApplication::clipboard()->text().contains("Help is currently unavailable"));

        // A server's error page shows as sent; a load replaced by another is
        // no failure; one that stalls times out.
        HelpWindow& help = *app.helpWindow;
        help.load(server.url("/missing"));
        QTRY_COMPARE_WITH_TIMEOUT(heading(view), "Not here", 20000);
        help.load(server.url("/slow"));
        QTest::qWait(300);
        help.load(server.url("/second"));
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(view, "location.pathname").toString(), "/second", 20000);
        QTest::qWait(500);
        QCOMPARE(heading(view), "Not here");
        help.load(server.url("/slow"), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(heading(view), "Help is currently unavailable", 20000);
        QCOMPARE(evaluate(view, "document.querySelector('.err').textContent").toString(), "The request timed out.");

        // An error text is text, whatever it holds.
        QVERIFY(helpFallbackPage("<strong jscontent=\"failedUrl\"></strong> & co")
                    .contains("&lt;strong jscontent=&quot;failedUrl&quot;&gt;&lt;/strong&gt; &amp; co"));
    }

    // Run as root, help is the same window, reused, with the page that says
    // help is unavailable drawn by the program: its four lines, the last
    // saying why and where the documentation is, to copy; its zoom keys
    // scale it. No web view is made.
    void helpAsRootIsTheHelpWindowWithThePagesOwnText()
    {
        ONDALINE_QT_NEEDS(::geteuid() == 0, "the program's decision for root needs root");
        TestAppDelegate& app = *app_;
        app.helpURL = helpPageURL();
        QTest::keyClick(app.window->windowHandle(), Qt::Key_Question, Qt::ControlModifier);
        QVERIFY(app.helpWindow && app.helpWindow->isOnScreen());
        HelpWindow* help = app.helpWindow.get();
        auto* page = dynamic_cast<BuiltInHelpPage*>(&help->page());
        QVERIFY(page && help->findChildren<QWebEngineView*>().isEmpty());
        QCOMPARE(help->windowTitle(), "Ondaline Help");
        QCOMPARE(help->size(), QSize(820, 640));
        QCOMPARE(help->minimumSize(), QSize(500, 400));
        QCOMPARE(help->pos(), QGuiApplication::primaryScreen()->availableGeometry().center() - QPoint(410, 320));

        QApplication::setActiveWindow(help);
        page->text()->setFocus();
        QClipboard& clipboard = *QApplication::clipboard();
        clipboard.clear();
        QTest::keyClick(help->windowHandle(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(help->windowHandle(), Qt::Key_C, Qt::ControlModifier);
        QTRY_VERIFY(!clipboard.text().isEmpty());
        QStringList lines = clipboard.text().replace(QChar(0xa0), ' ').split('\n');
        for (QString& line : lines) line = line.simplified();
        QCOMPARE(lines, QStringList({"Help is currently unavailable",
                                     "Ondaline couldn't load the help documentation from www.quillmere.com .",
                                     "This usually means your internet connection is offline, or the Quillmere "
                                     "Systems website is temporarily unreachable. Please check your connection and "
                                     "try again.",
                                     QString::fromUtf8("Run as root, Ondaline shows no web pages: its web engine "
                                                       "would run without its sandbox. The documentation is at "
                                                       "https://www.quillmere.com/documentation/ondaline/ — open it "
                                                       "in your own browser.")}));
        QCOMPARE(page->text()->toHtml().count("<a "), 0);
        const QString before = page->text()->toPlainText();
        QTest::keyClick(help->windowHandle(), Qt::Key_V, Qt::ControlModifier);  // reads only
        QCOMPARE(page->text()->toPlainText(), before);

        // The heading's letters at each zoom, measured as drawn.
        QTextCursor unselected = page->text()->textCursor();
        unselected.clearSelection();
        page->text()->setTextCursor(unselected);
        const auto [top, rows] = headingRows(page->grab().toImage());
        QVERIFY(rows > 10);
        for (int i = 0; i < 5; ++i) QTest::keyClick(help->windowHandle(), Qt::Key_Equal, Qt::ControlModifier);
        QVERIFY(std::abs(help->zoomLevel() - 1.5) < 1e-9);
        const auto [topZoomed, rowsZoomed] = headingRows(page->grab().toImage());
        QVERIFY2(std::abs(rowsZoomed - 1.5 * rows) <= 2, qPrintable(QString("%1 %2").arg(rows).arg(rowsZoomed)));
        QVERIFY(std::abs(topZoomed - 1.5 * top) <= 2);
        for (int i = 0; i < 30; ++i) QTest::keyClick(help->windowHandle(), Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(help->zoomLevel(), 0.5);
        QVERIFY(std::abs(headingRows(page->grab().toImage()).second - rows / 2.0) <= 2);
        QTest::keyClick(help->windowHandle(), Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(help->zoomLevel(), 1.0);
        QCOMPARE(headingRows(page->grab().toImage()), std::make_pair(top, rows));

        // Asked again while shown: the same window and zoom; Ctrl+W closes
        // the dashboard, not the help.
        QTest::keyClick(help->windowHandle(), Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(help->windowHandle(), Qt::Key_Question, Qt::ControlModifier);
        QVERIFY(app.helpWindow.get() == help);
        QVERIFY(std::abs(help->zoomLevel() - 1.1) < 1e-9);
        QTest::keyClick(help->windowHandle(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!app.window->isVisible() && help->isVisible());
    }

    // Last: it ends the event loop.
    void helpKeysAndQuitWithTheDashboardClosed()
    {
        TestAppDelegate& app = *app_;
        QTest::keyClick(app.window->windowHandle(), Qt::Key_Question, Qt::ControlModifier);
        QVERIFY(app.helpWindow && app.helpWindow->isOnScreen());
        HelpWindow* help = app.helpWindow.get();
        QApplication::setActiveWindow(help);
        QWindow* helpHandle = help->windowHandle();

        // Zoom in plain double steps, bounded, and back to 1.
        double expected = 1.0;
        for (int i = 0; i < 25; ++i) {
            QTest::keyClick(helpHandle, i % 2 ? Qt::Key_Plus : Qt::Key_Equal, Qt::ControlModifier);
            expected = std::min(expected + 0.1, 3.0);
            QCOMPARE(help->zoomLevel(), expected);
        }
        QCOMPARE(help->zoomLevel(), 3.0);
        for (int i = 0; i < 30; ++i) QTest::keyClick(helpHandle, Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(help->zoomLevel(), 0.5);
        QVERIFY(std::abs(helpOf(app).helpWebView->zoomFactor() - 0.5) < 1e-6);
        QTRY_VERIFY(std::abs(evaluate(*helpOf(app).helpWebView, "window.devicePixelRatio").toDouble() - 0.5) < 1e-6);
        QTest::keyClick(helpHandle, Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(help->zoomLevel(), 1.0);
        QTest::keyClick(helpHandle, Qt::Key_Equal, Qt::ControlModifier);
        const double zoom = help->zoomLevel();

        // Asked again while shown: the same window, page and zoom.
        QTest::keyClick(helpHandle, Qt::Key_Question, Qt::ControlModifier);
        QVERIFY(app.helpWindow.get() == help);
        QCOMPARE(help->zoomLevel(), zoom);

        // The dashboard closes, the help stays; closing again does nothing.
        QTest::keyClick(helpHandle, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!app.window->isVisible() && help->isVisible());
        QTest::keyClick(helpHandle, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(help->isVisible());

        QTimer::singleShot(0, help, [helpHandle] { QTest::keyClick(helpHandle, Qt::Key_Q, Qt::ControlModifier); });
        QCOMPARE(QApplication::exec(), 0);
    }

private:
    QTemporaryDir home_;
    std::shared_ptr<QtMainExecutor> main_ = std::make_shared<QtMainExecutor>();
    std::unique_ptr<TestAppDelegate> app_;
};

int main(int argc, char** argv)
{
    // The program never runs the web engine as root; its tests, run by
    // root, do so without its sandbox: its renderer will not start as root
    // inside it.
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    MenuHelpTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "menu_help_test.moc"
