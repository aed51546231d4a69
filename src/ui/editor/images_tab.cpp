#include "ui/editor/images_tab.h"

#include "ui/editor/editor_window.h"
#include "ui/editor/tab_parts.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>

#include <algorithm>
#include <utility>

namespace ondaline::editor {

namespace {

constexpr double kTabHeight = 740;
constexpr int kCardHeight = 90;
constexpr int kRowPitch = 98;  // a card and the gap below it

// The MIME types the image panels offer.
QStringList imageFileTypes()
{
    return {QStringLiteral("image/png"), QStringLiteral("image/jpeg"), QStringLiteral("image/tiff")};
}

}  // namespace

ImagesTab::ImagesTab(QWidget& page, TabLink link) : link_(std::move(link))
{
    const auto place = [&page](QWidget* widget, double x, double y, double width, double height) {
        widget->setParent(&page);
        widget->setGeometry(fromBottomLeft(x, y, width, height, kTabHeight));
    };
    // A button whose press runs `action`.
    const auto button = [&](const QString& title, double x, double y, double width, double height, auto action) {
        auto* item = new QPushButton(title);
        item->setAutoDefault(false);
        place(item, x, y, width, height);
        QObject::connect(item, &QPushButton::clicked, item, action);
    };

    place(makeLabel(QStringLiteral("Default Image:"), true), 16, 710, 120, 18);
    defaultImageField_ = new QLineEdit;
    defaultImageField_->setReadOnly(true);
    defaultImageField_->setPlaceholderText(QStringLiteral("No default image (black screen)"));
    place(defaultImageField_, 16, 684, 548, 24);
    button(QStringLiteral("Browse\u2026"), 572, 682, 80, 28, [this] { browseDefaultImage(); });

    place(makeLabel(QStringLiteral("Hour Offset:"), true), 16, 648, 90, 18);
    hourOffsetField_ = new QLineEdit(QString::number(ImageScheduleConfig{}.hourOffset));
    hourOffsetField_->setAlignment(Qt::AlignCenter);
    place(hourOffsetField_, 110, 646, 50, 24);
    QLabel* hint = makeLabel(QStringLiteral("(e.g. -1 = one hour earlier)"));
    setTextColor(*hint, QColor::fromRgbF(1, 1, 1, 0.55f));
    place(hint, 166, 648, 200, 18);

    addRule(page, fromBottomLeft(16, 612, 628, 1, kTabHeight));

    place(makeLabel(QStringLiteral("Schedule"), true), 16, 602, 100, 18);
    button(QStringLiteral("+ Add"), 598, 600, 60, 24, [this] { addRow(); });

    const ScrollingPane list = addScrollingPane(page, fromBottomLeft(16, 10, 628, 566, kTabHeight), {612, 0});
    scheduleScrollView_ = list.pane;
    scheduleContainer_ = list.document;
}

void ImagesTab::load(const ImageScheduleConfig& config)
{
    showPath(*defaultImageField_, QString::fromStdString(config.defaultImagePath));
    hourOffsetField_->setText(QString::number(config.hourOffset));
    for (const ScheduleRow& row : rows_) row.discard();
    rows_.clear();
    for (const ImageScheduleEntry& entry : config.entries) addRowForEntry(entry);
    layoutRows();
}

void ImagesTab::save(ImageScheduleConfig& config) const
{
    config.defaultImagePath = defaultImagePath();
    config.hourOffset = integerIn(*hourOffsetField_);
    std::vector<ImageScheduleEntry> entries;
    entries.reserve(rows_.size());
    for (const ScheduleRow& row : rows_) entries.push_back(row.entry());
    config.entries = std::move(entries);
}

std::string ImagesTab::defaultImagePath() const { return defaultImageField_->text().toStdString(); }

void ImagesTab::addRowForEntry(const ImageScheduleEntry& entry)
{
    const ScheduleRow row = ScheduleRow::make(entry, scheduleScrollView_->width() - 16);
    // Each button finds its row again by its own identity when pressed.
    QPushButton* const browse = row.browseBtn;
    QPushButton* const remove = row.removeBtn;
    QObject::connect(browse, &QPushButton::clicked, browse, [this, browse] { browseRowImage(browse); });
    QObject::connect(remove, &QPushButton::clicked, remove, [this, remove] { removeRow(remove); });

    row.card->setParent(scheduleContainer_);
    row.card->show();
    rows_.push_back(row);
}

void ImagesTab::layoutRows()
{
    const int width = scheduleScrollView_->width() - 16;
    const int content = static_cast<int>(rows_.size()) * kRowPitch;
    scheduleContainer_->resize(width, std::max(content, scheduleScrollView_->height()));
    for (std::size_t i = 0; i < rows_.size(); ++i)
        rows_[i].card->setGeometry(0, static_cast<int>(i) * kRowPitch, width, kCardHeight);
}

void ImagesTab::addRow()
{
    addRowForEntry(ImageScheduleEntry(2, 19, 0, 21, 0, ""));  // Monday 19:00 to 21:00, no image
    layoutRows();
    link_.changed(Redraw::none);
}

void ImagesTab::removeRow(const QPushButton* sender)
{
    const auto row = std::ranges::find(rows_, sender, &ScheduleRow::removeBtn);
    if (row == rows_.end()) return;
    const ScheduleRow removed = *row;
    rows_.erase(row);
    removed.discard();
    layoutRows();
    link_.changed(Redraw::none);
}

void ImagesTab::browseRowImage(const QPushButton* sender)
{
    if (std::ranges::find(rows_, sender, &ScheduleRow::browseBtn) == rows_.end()) return;
    // The panel runs an event loop: timers may remove or rebuild rows meanwhile.
    const QPointer<const QPushButton> button(sender);
    const std::optional<QString> file = link_.chooseFile(QStringLiteral("Select Show Image"), imageFileTypes());
    if (!file || !button) return;
    const auto row = std::ranges::find(rows_, button.data(), &ScheduleRow::browseBtn);
    if (row == rows_.end()) return;
    row->showImage(*file);
    link_.changed(Redraw::none);
}

void ImagesTab::browseDefaultImage()
{
    const std::optional<QString> file = link_.chooseFile(QStringLiteral("Select Default Image"), imageFileTypes());
    if (!file) return;
    showPath(*defaultImageField_, *file);
    link_.changed(Redraw::preview);
}

}  // namespace ondaline::editor
