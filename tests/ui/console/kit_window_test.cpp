// The kit in a real frameless window on a virtual display, driven by the
// pointer and the keyboard as a person would (scripts/screenshot, xdotool).

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    QString output;
    QImage screen;
};

// The button shown with --window, then `actions` (scripts/screenshot's
// --click and --type arguments) and a screenshot.
Run runButtonWindow(const QStringList& actions, const QString& pngPath)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments = actions;
    arguments << pngPath << "--" << ONDALINE_KIT_RENDER << "button"
              << "150x36"
              << "--window"
              << "--gold"
              << "--title"
              << "Start";
    process.start(QStringLiteral(ONDALINE_SOURCE_DIR "/scripts/screenshot"), arguments);
    process.waitForFinished(60000);
    return {QString::fromUtf8(process.readAll()), QImage(pngPath).convertToFormat(QImage::Format_RGB32)};
}

}  // namespace

class KitWindow : public QObject {
    Q_OBJECT
private slots:
    void clicksTypingAndHoverReachTheFramelessWindow()
    {
        QTemporaryDir dir;
        // Typing goes to the line edit under the button; the click on the
        // button fires its action; the pointer stays on it.
        const Run used = runButtonWindow({"--type", "on air", "--click", "75,18"}, dir.filePath("used.png"));
        QVERIFY2(used.output.contains("text: on air\n"), qPrintable(used.output));
        QVERIFY2(used.output.contains("action\n"), qPrintable(used.output));
        QVERIFY(!used.screen.isNull());

        // The pointer elsewhere: the same button at rest.
        const Run rest = runButtonWindow({"--click", "75,50"}, dir.filePath("rest.png"));
        QVERIFY2(!rest.output.contains("action"), qPrintable(rest.output));

        // Row 34 of the gold body (inset 0.5, so 35 tall) lies 1/35 from its
        // bottom edge, where the gradient starts: red 0.88 → 0.78 and green
        // 0.72 → 0.59 over the first half, each 0.08 higher while hovered.
        const double along = (1.0 / 35) / 0.5;
        const auto expect = [&](QRgb pixel, double offset) {
            const double red = 0.88 + offset - 0.10 * along, green = 0.72 + offset - 0.13 * along;
            return std::abs(qRed(pixel) - red * 255) <= 4 && std::abs(qGreen(pixel) - green * 255) <= 4;
        };
        const QRgb resting = rest.screen.pixel(75, 34), hovered = used.screen.pixel(75, 34);
        QVERIFY2(expect(resting, 0), qPrintable(QString::number(resting, 16)));
        QVERIFY2(expect(hovered, 0.08), qPrintable(QString::number(hovered, 16)));
    }
};

QTEST_GUILESS_MAIN(KitWindow)
#include "kit_window_test.moc"
