// The appearance page: the now-playing font and size, and the way into the
// overlay and schedule editor, whose saves the dashboard takes over.

#include "app/app_delegate.h"
#include "app/drawer_controls.h"

#include "app/drawer_column.h"
#include "app/settings_choices.h"

#include "engine/ondaline.h"
#include "models/station_path.h"
#include "ui/console/console_button.h"
#include "ui/console/console_paint.h"
#include "ui/console/flipped_view.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/now_playing_fonts.h"
#include "ui/editor/overlay_editor_controller.h"

#include <QComboBox>
#include <QLabel>

#include <cmath>

namespace ondaline::app {

namespace {

}  // namespace

QWidget* TestAppDelegate::buildAppearanceDrawerContent()
{
    const double pageW = drawerW - bezelPad;
    const double W = pageW - 36;
    auto* page = new ui::FlippedView;
    DrawerColumn column(*page, W);
    const auto row = [&](auto* view, double height, double spaceAfter) {
        column.row(view, height);
        column.space(spaceAfter);
    };
    const auto label = [&](const QString& text) {
        return makeDrawerLabel(text, 10, QFont::Medium, ui::white(1.0, 0.45), 1.5);
    };
    // A choice of the user's is remembered, so that only a chosen value is
    // written back: merely opening the page changes nothing stored.
    const auto markChosen = [](QComboBox* popup) {
        QObject::connect(popup, &QComboBox::activated, popup, [popup] { popup->setProperty("chosen", true); });
    };

    row(makeDrawerButton(QString::fromUtf8("← Settings"), [this] { backToSettingsDrawer(); }), 26, 12);
    row(makeDrawerLabel(QStringLiteral("APPEARANCE"), 11, QFont::Medium, goldColor(0.7), 3), 16, 16);
    row(label(QStringLiteral("NOW PLAYING FONT")), 14, 5);
    const QStringList fontNames = editor::nowPlayingFonts();
    QComboBox* fonts = makeDrawerPopup(fontNames);
    if (const int i = fontNames.indexOf(QString::fromStdString(scheduleConfig.nowPlaying.fontName)); i >= 0)
        fonts->setCurrentIndex(i);
    markChosen(fonts);
    drNPFontPopup = fonts;
    row(fonts, 26, 10);
    row(label(QStringLiteral("FONT SIZE")), 14, 5);
    QComboBox* sizes = makeDrawerPopup({QStringLiteral("16 pt"), QStringLiteral("20 pt"), QStringLiteral("24 pt"),
                                        QStringLiteral("28 pt"), QStringLiteral("32 pt"), QStringLiteral("36 pt")});
    const double stored = std::trunc(scheduleConfig.nowPlaying.fontSize);  // NaN and huge values match nothing
    for (std::size_t i = 0; i < kNowPlayingFontSizes.size(); ++i)
        if (stored == kNowPlayingFontSizes[i]) sizes->setCurrentIndex(static_cast<int>(i));
    markChosen(sizes);
    drNPFontSizePopup = sizes;
    row(sizes, 26, 14);
    row(makeDrawerDivider(W), 1, 14);
    row(makeDrawerButton(QString::fromUtf8("Edit Overlay Layout…"), [this] { openOverlayEditor(); }), 34, 8);
    QLabel* hint =
        makeDrawerLabel(QStringLiteral("Opens the full overlay editor with live preview and position controls."), 10,
                        QFont::Normal, ui::white(1.0, 0.25), 0);
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    row(hint, 28, 14);
    row(makeDrawerDivider(W), 1, 14);
    row(label(QStringLiteral("IMAGE SCHEDULE")), 14, 8);
    row(makeDrawerButton(QString::fromUtf8("Edit Schedule…"), [this] { openOverlayEditor(); }), 34, 20);
    page->resize(static_cast<int>(pageW), static_cast<int>(column.y() + 20));
    return page;
}

void TestAppDelegate::openOverlayEditor()
{
    if (!overlayEditor) {
        overlayEditor = std::make_unique<editor::OverlayEditorController>(scheduleConfig);
        overlayEditor->onSave = [self = QPointer<TestAppDelegate>(this)](const ImageScheduleConfig& edited,
                                                                         const SettingsSave& saved) {
            if (!self) return;
            // Its failure is said by the save that follows here; an earlier
            // file it kept aside is said now.
            self->reportKeptAside(saved);
            self->overlayEditorDidSave(edited);
        };
    }
    overlayEditor->config = scheduleConfig;
    const bool firstOpening = !overlayEditor->window;
    overlayEditor->showWindow();
    if (firstOpening) attachMenu(*overlayEditor->window);
}

void TestAppDelegate::overlayEditorDidSave(const ImageScheduleConfig& edited)
{
    scheduleConfig.nowPlaying = edited.nowPlaying;
    scheduleConfig.defaultImagePath = edited.defaultImagePath;
    scheduleConfig.hourOffset = edited.hourOffset;
    scheduleConfig.entries = edited.entries;
    scheduleConfig.visualization = edited.visualization;
    scheduleConfig.crawler = edited.crawler;
    saveSettings();
    sendOverlaysToEngine(scheduleConfig);
    applyScheduledImage();
    pollSongFile(true);
}

}  // namespace ondaline::app
