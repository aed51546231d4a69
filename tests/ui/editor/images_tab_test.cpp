// The editor's Images tab: the cards and their layout, typed times and days
// written back, the file panels (a stand-in picker and the real dialog), and
// the whole record through a load and Close.

#include "models/settings_codec.h"
#include "support/private_home.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/images_tab.h"
#include "ui/editor/now_playing_tab.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>
#include <tuple>

using namespace ondaline;
using namespace ondaline::editor;

namespace {

QByteArray savedBytes()
{
    QFile file(QString::fromStdString(ImageScheduleConfig::configFile()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray encoded(const ImageScheduleConfig& config)
{
    return QByteArray::fromStdString(encodeSettings(config).value());
}

QPushButton* buttonTitled(QWidget* window, const QString& title)
{
    for (QPushButton* button : window->findChildren<QPushButton*>())
        if (button->text() == title) return button;
    return nullptr;
}

QStringList times(const ScheduleRow& row)
{
    return {row.startHourField->text(), row.startMinField->text(), row.endHourField->text(), row.endMinField->text()};
}

QImage preview(const OverlayEditorController& ctl)
{
    return ctl.nowPlayingTab()->npPreviewImageView()->grab().toImage();
}

}  // namespace

class ImagesTabTest : public QObject {
    Q_OBJECT
    QTemporaryDir home;
    QString red, blue, garbage;  // 200 x 100 PNG, 40 x 80 JPEG, text named .png

private slots:
    void initTestCase()
    {
        test::usePrivateHome(home.path());
        QFile dot(home.filePath(".ondaline_station"));
        QVERIFY(dot.open(QIODevice::WriteOnly) && dot.write(home.path().toUtf8()) > 0);
        dot.close();
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        red = home.filePath("red.png"), blue = home.filePath("blue.jpg"), garbage = home.filePath("bad.png");
        for (auto [path, size, colour] : {std::tuple{red, QSize(200, 100), Qt::red}, {blue, QSize(40, 80), Qt::blue}}) {
            QImage image(size, QImage::Format_RGB32);
            image.fill(colour);
            QVERIFY(image.save(path));
        }
        QFile file(garbage);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("Artist\tTitle\n") > 0);
    }

    void cardsFollowTheList()
    {
        ImageScheduleConfig base;
        OverlayEditorController ctl(base);
        ctl.showWindow();
        QVERIFY(ctl.imagesTab()->scheduleContainer()->size() == QSize(612, 566) &&
                ctl.imagesTab()->scheduleContainer()->children().isEmpty());
        buttonTitled(ctl.window.get(), "+ Add")->click();
        const auto added = ctl.imagesTab()->rows().at(0);
        QVERIFY(added.card->geometry() == QRect(0, 0, 612, 90) && added.dayPopup->currentText() == "Monday");
        QCOMPARE(times(added), (QStringList{"19", "00", "21", "00"}));
        QVERIFY(added.imageField->text().isEmpty() && added.thumbnail->pixmap().isNull() && ctl.isSavePending());

        for (int count : {5, 6}) {
            ctl.config.entries.assign(count, ImageScheduleEntry(3, 1, 2, 3, 4, ""));
            ctl.showWindow();
            QCOMPARE(ctl.imagesTab()->scheduleContainer()->findChildren<QComboBox*>().size(), count);
            QCOMPARE(ctl.imagesTab()->scheduleContainer()->height(), count == 5 ? 566 : 588);
            for (int i = 0; i < count; ++i)
                QCOMPARE(ctl.imagesTab()->rows()[i].card->geometry(), QRect(0, 98 * i, 612, 90));
        }

        const ImageScheduleEntry first(1, 6, 0, 7, 0, red.toStdString());
        ctl.config.entries = {first, ImageScheduleEntry(4, 8, 0, 9, 0, ""), ImageScheduleEntry(7, 22, 30, 23, 59, "")};
        ctl.showWindow();
        QCOMPARE(ctl.imagesTab()->rows()[0].thumbnail->pixmap().size(), QSize(72, 36));
        const QPointer<QWidget> middle = ctl.imagesTab()->rows()[1].card, last = ctl.imagesTab()->rows()[2].card;
        ctl.imagesTab()->rows()[1].removeBtn->click();
        QVERIFY(ctl.imagesTab()->rows().size() == 2 && ctl.imagesTab()->rows()[1].card == last && last->y() == 98);
        QTRY_VERIFY(!middle);
        ctl.imagesTab()->rows()[1].removeBtn->click();
        QTRY_VERIFY(ctl.imagesTab()->rows().size() == 1 && !last);
        ctl.closeEditor();
        base.entries = {first};
        QCOMPARE(savedBytes(), encoded(base));
    }

    void aPaletteImagesThumbnailKeepsItsColours()
    {
        // A 1-bit PNG: red on the left, blue on the right.
        QImage image(200, 100, QImage::Format_Mono);
        image.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 200; ++x) image.setPixel(x, y, x < 100 ? 0 : 1);
        const QString path = home.filePath("two-colours.png");
        QVERIFY(image.save(path));
        QCOMPARE(QImage(path).depth(), 1);

        ImageScheduleConfig base;
        base.entries = {ImageScheduleEntry(1, 6, 0, 7, 0, path.toStdString())};
        OverlayEditorController ctl(base);
        ctl.showWindow();
        const QImage thumbnail = ctl.imagesTab()->rows().at(0).thumbnail->pixmap().toImage();
        QCOMPARE(thumbnail.size(), QSize(72, 36));
        QCOMPARE(thumbnail.pixelColor(10, 18), QColor(Qt::red));
        QCOMPARE(thumbnail.pixelColor(60, 18), QColor(Qt::blue));
        ctl.closeEditor();
    }

    void typedValuesAndUnlistedDays()
    {
        ImageScheduleConfig original;
        original.defaultImagePath = "/images/" + std::string(300, 'd') + "/default.png", original.hourOffset = -1;
        original.entries = {ImageScheduleEntry(9, 7, 5, 24, 0, "/images/" + std::string(300, 'x') + "/end.png"),
                            ImageScheduleEntry(0, -1, 123, 99, 75, ""),
                            ImageScheduleEntry(7, 0, 0, 0, 0, red.toStdString())};
        original.stationName = "Radio Test", original.icecastPort = 8443, original.crawler.enabled = true;
        OverlayEditorController ctl(original);
        std::optional<ImageScheduleConfig> handed;
        ctl.onSave = [&](const ImageScheduleConfig& c, const SettingsSave&) { handed = c; };
        ctl.showWindow();
        const auto& rows = ctl.imagesTab()->rows();
        QVERIFY(rows[0].dayPopup->currentIndex() == -1 && rows[1].dayPopup->currentIndex() == -1);
        QCOMPARE(rows[2].dayPopup->currentText(), "Saturday");
        QCOMPARE(times(rows[0]) + times(rows[1]), (QStringList{"07", "05", "24", "00", "-1", "123", "99", "75"}));
        QCOMPARE(rows[0].imageField->cursorPosition(), rows[0].imageField->text().size());  // shows the end
        ctl.closeEditor();
        QVERIFY(handed && *handed == original);
        QCOMPARE(savedBytes(), encoded(original));

        ctl.showWindow();
        for (auto [typed, value] :
             {std::pair{"07", 7}, {"+2", 2}, {"-3", -3}, {"25", 25}, {" 7", 0}, {"7a", 0}, {"1.5", 0}, {"", 0}}) {
            for (QLineEdit* field : {ctl.imagesTab()->hourOffsetField(), rows[1].startHourField, rows[1].endMinField}) {
                field->clear();
                QTest::keyClicks(field, typed);
            }
            ctl.window->close();  // the close box
            const ImageScheduleEntry& entry = handed->entries[1];
            QVERIFY2(handed->hourOffset == value && entry.startHour == value && entry.endMinute == value, typed);
            QVERIFY(handed->entries[0].dayOfWeek == 9 && entry.dayOfWeek == 0);
            ctl.window->show();  // no load: the typed text stays
        }
        rows[1].dayPopup->setCurrentIndex(1);
        emit rows[1].dayPopup->activated(1);
        ctl.closeEditor();
        QVERIFY(handed->entries[0].dayOfWeek == 9 && handed->entries[1].dayOfWeek == 2);
    }

    void filePanels()
    {
        OverlayEditorController ctl{ImageScheduleConfig{}};
        ctl.config.entries = {ImageScheduleEntry(2, 1, 0, 2, 0, ""), ImageScheduleEntry(3, 1, 0, 2, 0, "")};
        QStringList asked;
        std::optional<QString> answer;
        std::function<void()> meanwhile;
        ctl.pickFile = [&](QWidget* parent, const QString& title, const QStringList& types) {
            asked << (parent == ctl.window.get() ? "" : "?") + title + ": " + types.join(' ');
            if (meanwhile) meanwhile();
            return answer;
        };
        ctl.showWindow();
        const auto row = ctl.imagesTab()->rows()[0];
        QPushButton* const browseDefault = buttonTitled(ctl.window.get(), "Browse\u2026");
        const QImage black = preview(ctl);
        row.browseBtn->click(), browseDefault->click(), ctl.nowPlayingTab()->browseSourceFile();
        QCOMPARE(asked, (QStringList{"Select Show Image: image/png image/jpeg image/tiff",
                                     "Select Default Image: image/png image/jpeg image/tiff",
                                     "Select Now Playing File: text/plain"}));
        QVERIFY(row.imageField->text().isEmpty() && ctl.imagesTab()->defaultImageField()->text().isEmpty());
        QVERIFY(ctl.nowPlayingTab()->npFilePathField()->text().isEmpty() && !ctl.isSavePending() &&
                preview(ctl) == black);

        answer = red;
        browseDefault->click();
        const QColor shown = preview(ctl).pixelColor(150, 80);
        QVERIFY2(shown.red() > 200 && shown.green() < 60 && shown.blue() < 60, qPrintable(shown.name()));
        QTRY_VERIFY(!ctl.isSavePending());
        QCOMPARE(ImageScheduleConfig::load().defaultImagePath, red.toStdString());

        answer = blue;
        row.browseBtn->click();
        const qint64 thumbnail = row.thumbnail->pixmap().cacheKey();
        QVERIFY(row.imageField->text() == blue && row.thumbnail->pixmap().size() == QSize(20, 40) &&
                ctl.isSavePending());
        QTRY_VERIFY(!ctl.isSavePending());
        answer = garbage;
        row.browseBtn->click();
        QVERIFY(row.imageField->text() == garbage && row.thumbnail->pixmap().cacheKey() == thumbnail);
        QTRY_VERIFY(!ctl.isSavePending());
        QCOMPARE(ImageScheduleConfig::load().entries[0].imagePath, garbage.toStdString());

        const QImage redPreview = preview(ctl);
        ctl.nowPlayingTab()->browseSourceFile();
        QVERIFY(ctl.nowPlayingTab()->npFilePathField()->text() == garbage && ctl.isSavePending() &&
                preview(ctl) == redPreview);

        // A row removed, or all rebuilt, while the panel is up takes nothing.
        const auto second = ctl.imagesTab()->rows()[1];
        meanwhile = [&] { second.removeBtn->click(); };
        second.browseBtn->click();
        meanwhile = [&] { ctl.showWindow(); };
        ctl.imagesTab()->rows()[0].browseBtn->click();
        QVERIFY(ctl.imagesTab()->rows().size() == 2 && ctl.imagesTab()->rows()[0].imageField->text() == garbage);
        QVERIFY(ctl.imagesTab()->rows()[1].imageField->text().isEmpty());

        // The real panel, answered once it is up.
        ctl.pickFile = nullptr;
        QString title;
        QTimer answerPanel;
        answerPanel.setInterval(20);
        connect(&answerPanel, &QTimer::timeout, this, [&] {
            auto* panel = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!panel) return;
            answerPanel.stop();
            title = panel->windowTitle() + " " + panel->nameFilters().join('|');
            QCOMPARE(panel->fileMode(), QFileDialog::ExistingFile);
            panel->focusWidget()->clearFocus();  // the name field takes no selection while it has the focus
            panel->selectFile(blue);
            static_cast<QDialog*>(panel)->accept();  // as its Open button does
        });
        answerPanel.start();
        ctl.imagesTab()->rows()[1].browseBtn->click();
        QVERIFY2(title.startsWith("Select Show Image ") && title.contains("*.png") && title.contains("*.jpg") &&
                     title.contains("*.tif") && !title.contains('|'),
                 qPrintable(title));
        QVERIFY(ctl.imagesTab()->rows()[1].imageField->text() == blue &&
                !ctl.imagesTab()->rows()[1].thumbnail->pixmap().isNull());
        ctl.closeEditor();
    }
};

QTEST_MAIN(ImagesTabTest)
#include "images_tab_test.moc"
