#include "app/appearance_page.h"

#include "app/drawer_column.h"
#include "app/drawer_controls.h"
#include "app/gold_color.h"
#include "app/settings_choices.h"

#include "models/image_schedule_config.h"
#include "ui/console/console_button.h"
#include "ui/console/console_paint.h"
#include "ui/console/flipped_view.h"
#include "ui/editor/now_playing_fonts.h"

#include <QComboBox>
#include <QLabel>

#include <cmath>

namespace ondaline::app {

namespace {

// Only a choice of the user's counts, not the page's first showing.
void markChosen(QComboBox* popup)
{
    QObject::connect(popup, &QComboBox::activated, popup, [popup] { popup->setProperty("chosen", true); });
}
bool chosen(const QComboBox* popup) { return popup && popup->property("chosen").toBool(); }

}  // namespace

AppearancePage::AppearancePage(Actions actions) : actions_(std::move(actions)) {}

QWidget* AppearancePage::build(const ImageScheduleConfig& record, double width)
{
    const double W = width - 36;
    auto* page = new ui::FlippedView;
    DrawerColumn column(*page, W);
    const auto row = [&](auto* view, double height, double spaceAfter) {
        column.row(view, height);
        column.space(spaceAfter);
    };
    const auto label = [&](const QString& text) {
        return makeDrawerLabel(text, 10, QFont::Medium, ui::white(1.0, 0.45), 1.5);
    };

    row(makeDrawerButton(QString::fromUtf8("← Settings"), actions_.backToSettings), 26, 12);
    row(makeDrawerLabel(QStringLiteral("APPEARANCE"), 11, QFont::Medium, goldColor(0.7), 3), 16, 16);
    row(label(QStringLiteral("NOW PLAYING FONT")), 14, 5);
    const QStringList fontNames = editor::nowPlayingFonts();
    QComboBox* fonts = makeDrawerPopup(fontNames);
    if (const int i = fontNames.indexOf(QString::fromStdString(record.nowPlaying.fontName)); i >= 0)
        fonts->setCurrentIndex(i);
    markChosen(fonts);
    fontPopup_ = fonts;
    row(fonts, 26, 10);
    row(label(QStringLiteral("FONT SIZE")), 14, 5);
    QComboBox* sizes = makeDrawerPopup({QStringLiteral("16 pt"), QStringLiteral("20 pt"), QStringLiteral("24 pt"),
                                        QStringLiteral("28 pt"), QStringLiteral("32 pt"), QStringLiteral("36 pt")});
    const double stored = std::trunc(record.nowPlaying.fontSize);  // NaN and huge values match nothing
    for (std::size_t i = 0; i < kNowPlayingFontSizes.size(); ++i)
        if (stored == kNowPlayingFontSizes[i]) sizes->setCurrentIndex(static_cast<int>(i));
    markChosen(sizes);
    fontSizePopup_ = sizes;
    row(sizes, 26, 14);
    row(makeDrawerDivider(W), 1, 14);
    row(makeDrawerButton(QString::fromUtf8("Edit Overlay Layout…"), actions_.editOverlayLayout), 34, 8);
    QLabel* hint =
        makeDrawerLabel(QStringLiteral("Opens the full overlay editor with live preview and position controls."), 10,
                        QFont::Normal, ui::white(1.0, 0.25), 0);
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    row(hint, 28, 14);
    row(makeDrawerDivider(W), 1, 14);
    row(label(QStringLiteral("IMAGE SCHEDULE")), 14, 8);
    row(makeDrawerButton(QString::fromUtf8("Edit Schedule…"), actions_.editSchedule), 34, 20);
    page->resize(static_cast<int>(width), static_cast<int>(column.y() + 20));
    return page;
}

void AppearancePage::read(ImageScheduleConfig& record) const
{
    if (chosen(fontPopup_) && fontPopup_->currentIndex() >= 0)
        record.nowPlaying.fontName = fontPopup_->currentText().toStdString();
    if (chosen(fontSizePopup_)) {
        const int i = fontSizePopup_->currentIndex();
        if (i >= 0 && static_cast<std::size_t>(i) < kNowPlayingFontSizes.size())
            record.nowPlaying.fontSize = kNowPlayingFontSizes[static_cast<std::size_t>(i)];
    }
}

QComboBox* AppearancePage::drNPFontPopup() const { return fontPopup_; }
QComboBox* AppearancePage::drNPFontSizePopup() const { return fontSizePopup_; }

}  // namespace ondaline::app
