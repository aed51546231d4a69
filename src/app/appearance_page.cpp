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
#include "ui/editor/number_text.h"

#include <QComboBox>
#include <QLabel>

#include <cmath>

namespace ondaline::app {

namespace {

// Only a choice of the user's counts, not what the page shows by itself;
// it counts until it is read.
void markChosen(QComboBox* popup, const std::function<void()>& reported)
{
    QObject::connect(popup, &QComboBox::activated, popup, [popup, reported] {
        popup->setProperty("chosen", true);
        if (reported) reported();
    });
}
bool takeChoice(QComboBox* popup)
{
    if (!popup || !popup->property("chosen").toBool()) return false;
    popup->setProperty("chosen", false);
    return true;
}

constexpr int kListedSizes = static_cast<int>(kNowPlayingFontSizes.size());

QString sizeTitle(double points) { return QString::fromStdString(editor::shortestNumberText(points)) + " pt"; }

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
    QComboBox* fonts = makeDrawerPopup(editor::nowPlayingFonts());
    markChosen(fonts, actions_.fontChosen);
    fontPopup_ = fonts;
    row(fonts, 26, 10);
    row(label(QStringLiteral("FONT SIZE")), 14, 5);
    QComboBox* sizes = makeDrawerPopup({});
    for (const double points : kNowPlayingFontSizes) sizes->addItem(sizeTitle(points), points);
    markChosen(sizes, actions_.fontChosen);
    fontSizePopup_ = sizes;
    show(record);
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

void AppearancePage::show(const ImageScheduleConfig& record)
{
    if (fontPopup_) {
        const int i = fontPopup_->findText(QString::fromStdString(record.nowPlaying.fontName), Qt::MatchExactly);
        if (i >= 0) fontPopup_->setCurrentIndex(i);
    }
    if (!fontSizePopup_) return;
    while (fontSizePopup_->count() > kListedSizes) fontSizePopup_->removeItem(kListedSizes);
    const double stored = record.nowPlaying.fontSize;
    const double whole = std::trunc(stored);  // 24.7 is listed as "24 pt"
    for (int i = 0; i < kListedSizes; ++i) {
        if (whole == kNowPlayingFontSizes[static_cast<std::size_t>(i)]) {
            fontSizePopup_->setCurrentIndex(i);
            return;
        }
    }
    if (!std::isfinite(stored)) {
        fontSizePopup_->setCurrentIndex(-1);  // no number to show
        return;
    }
    fontSizePopup_->addItem(sizeTitle(stored), stored);
    fontSizePopup_->setCurrentIndex(kListedSizes);
}

void AppearancePage::read(ImageScheduleConfig& record)
{
    if (takeChoice(fontPopup_) && fontPopup_->currentIndex() >= 0)
        record.nowPlaying.fontName = fontPopup_->currentText().toStdString();
    if (takeChoice(fontSizePopup_) && fontSizePopup_->currentIndex() >= 0)
        record.nowPlaying.fontSize = fontSizePopup_->currentData().toDouble();
}

QComboBox* AppearancePage::drNPFontPopup() const { return fontPopup_; }
QComboBox* AppearancePage::drNPFontSizePopup() const { return fontSizePopup_; }

}  // namespace ondaline::app
