// The Images tab: the default image, the hour offset and the weekly rows,
// one card per row in a scrolling list.

#include "ui/editor/overlay_editor_controller.h"

#include "ui/console/flipped_view.h"
#include "ui/editor/editor_window.h"
#include "ui/editor/number_text.h"

#include "platform/files.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

namespace ondaline::editor {

namespace {

constexpr std::size_t kImageFileLimit = 64 * 1024 * 1024;  // as the stream reads its pictures

constexpr double kTabHeight = 740;
constexpr double kCardHeight = 90;
constexpr int kRowPitch = 98;  // a card and the gap below it
constexpr QSize kThumbnailSize{72, 40};

QColor grey(float white, float alpha = 1) { return QColor::fromRgbF(white, white, white, alpha); }

void setTextColor(QWidget& widget, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    widget.setPalette(palette);
}

// A card's ground: white 0.16 with round corners.
class Card final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(grey(0.16f));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

// The row's image, already reduced, centred on a dark rounded ground with a
// thin rim.
class Thumbnail final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath outline;
        outline.addRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), 4, 4);
        painter.fillPath(outline, grey(0.1f));
        if (const QPixmap image = pixmap(); !image.isNull()) {
            painter.save();
            painter.setClipPath(outline);
            painter.drawPixmap((width() - image.width()) / 2, (height() - image.height()) / 2, image);
            painter.restore();
        }
        painter.strokePath(outline, QPen(grey(0.25f), 0.5));
    }
};

// The whole text as an integer, else 0; nothing is trimmed.
std::int64_t integerIn(const QLineEdit* field)
{
    return field ? parseInteger(field->text().toStdString()).value_or(0) : 0;
}

QString twoDigits(std::int64_t value) { return QString::asprintf("%02lld", static_cast<long long>(value)); }

// Sets a read-only path field so that a long path shows its end.
void showPath(QLineEdit& field, const QString& path)
{
    field.setText(path);
    field.setToolTip(path);
    field.end(false);
}

// Takes a card off the list. It goes later: one of its buttons may be the
// one whose press is being handled.
void discard(QWidget& card)
{
    card.hide();
    card.setParent(nullptr);
    card.deleteLater();
}

// The image in `path` reduced into the thumbnail's bounds, aspect kept;
// none when the file does not decode.
std::optional<QPixmap> thumbnailOf(const QString& path)
{
    if (path.isEmpty()) return std::nullopt;
    // Read through the guarded reader: a FIFO picked as an image must not
    // freeze the editor.
    const auto bytes = platform::readFile(QFile::encodeName(path).toStdString(), kImageFileLimit);
    QImage image;
    if (!bytes || !image.loadFromData(reinterpret_cast<const uchar*>(bytes->data()), static_cast<int>(bytes->size())) ||
        image.isNull())
        return std::nullopt;
    // Scaled in full colour, as the stream's renderer scales: a palette
    // image scaled in its own format would be dithered to black and white.
    return QPixmap::fromImage(image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                  .scaled(kThumbnailSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

}  // namespace

void OverlayEditorController::buildImagesTab(QWidget& tab)
{
    const auto place = [&tab](QWidget* widget, double x, double y, double width, double height) {
        widget->setParent(&tab);
        widget->setGeometry(fromBottomLeft(x, y, width, height, kTabHeight));
    };
    const auto button = [&](const QString& title, double x, double y, double width, double height) {
        auto* item = new QPushButton(title);
        item->setAutoDefault(false);
        place(item, x, y, width, height);
        return item;
    };

    place(makeLabel(QStringLiteral("Default Image:"), true), 16, 710, 120, 18);
    defaultImageField = new QLineEdit;
    defaultImageField->setReadOnly(true);
    defaultImageField->setPlaceholderText(QStringLiteral("No default image (black screen)"));
    place(defaultImageField, 16, 684, 548, 24);
    connect(button(QStringLiteral("Browse\u2026"), 572, 682, 80, 28), &QPushButton::clicked, this,
            [this] { browseDefaultImage(); });

    place(makeLabel(QStringLiteral("Hour Offset:"), true), 16, 648, 90, 18);
    hourOffsetField = new QLineEdit(QStringLiteral("0"));
    hourOffsetField->setAlignment(Qt::AlignCenter);
    place(hourOffsetField, 110, 646, 50, 24);
    QLabel* hint = makeLabel(QStringLiteral("(e.g. -1 = one hour earlier)"));
    setTextColor(*hint, grey(1, 0.55f));
    place(hint, 166, 648, 200, 18);

    auto* separator = new QWidget;
    QPalette palette = separator->palette();
    palette.setColor(QPalette::Window, QColor(255, 255, 255, 28));
    separator->setPalette(palette);
    separator->setAutoFillBackground(true);
    place(separator, 16, 612, 628, 1);

    place(makeLabel(QStringLiteral("Schedule"), true), 16, 602, 100, 18);
    connect(button(QStringLiteral("+ Add"), 598, 600, 60, 24), &QPushButton::clicked, this,
            [this] { addScheduleRow(); });

    scheduleScrollView = new QScrollArea;
    place(scheduleScrollView, 16, 10, 628, 566);
    scheduleScrollView->setFrameShape(QFrame::NoFrame);
    scheduleScrollView->setWidgetResizable(false);
    scheduleScrollView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scheduleScrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scheduleScrollView->setAutoFillBackground(false);
    scheduleScrollView->viewport()->setAutoFillBackground(false);
    scheduleContainer = new ui::FlippedView;
    scheduleContainer->resize(612, 0);
    scheduleScrollView->setWidget(scheduleContainer);
    scheduleContainer->setAutoFillBackground(false);  // setWidget turns it on; the list draws no background
}

void OverlayEditorController::loadImagesConfigToUI()
{
    if (defaultImageField) showPath(*defaultImageField, QString::fromStdString(config.defaultImagePath));
    if (hourOffsetField) hourOffsetField->setText(QString::number(config.hourOffset));
    if (!scheduleContainer) return;
    for (const ScheduleRow& row : scheduleRows) discard(*row.card);
    scheduleRows.clear();
    for (const ImageScheduleEntry& entry : config.entries) addRowForEntry(entry);
    layoutScheduleRows();
}

void OverlayEditorController::addRowForEntry(const ImageScheduleEntry& entry)
{
    const int width = scheduleScrollView->width() - 16;
    auto* card = new Card;
    card->resize(width, static_cast<int>(kCardHeight));
    const auto place = [card](QWidget* widget, double x, double y, double w, double h) {
        widget->setParent(card);
        widget->setGeometry(fromBottomLeft(x, y, w, h, kCardHeight));
        return widget;
    };
    const auto smallFont = [](QWidget& widget) {
        QFont font = widget.font();
        font.setPixelSize(11);
        widget.setFont(font);
    };
    const auto staticLabel = [&](const QString& text, double x, double y, double w, double h, bool small) {
        auto* label = new QLabel(text);
        label->setTextFormat(Qt::PlainText);
        if (small) smallFont(*label);
        setTextColor(*label, grey(0.55f));
        place(label, x, y, w, h);
    };
    const auto timeField = [&](std::int64_t value, double x) {
        auto* field = new QLineEdit(twoDigits(value));
        field->setAlignment(Qt::AlignCenter);
        place(field, x, 52, 32, 24);
        return field;
    };
    const auto button = [&](const QString& title, double x, double y, double w, double h) {
        auto* item = new QPushButton(title);
        item->setAutoDefault(false);
        place(item, x, y, w, h);
        return item;
    };

    ScheduleRow row{};
    row.card = card;
    row.thumbnail = new Thumbnail;
    if (const auto image = thumbnailOf(QString::fromStdString(entry.imagePath))) row.thumbnail->setPixmap(*image);
    place(row.thumbnail, 12, 25, kThumbnailSize.width(), kThumbnailSize.height());

    row.dayPopup = new QComboBox;
    for (std::string_view name : ImageScheduleEntry::dayNames)
        row.dayPopup->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    const bool listedDay = entry.dayOfWeek >= 1 && entry.dayOfWeek <= 7;
    row.dayPopup->setCurrentIndex(listedDay ? static_cast<int>(entry.dayOfWeek - 1) : -1);
    row.unlistedDay = entry.dayOfWeek;
    place(row.dayPopup, 98, 52, 130, 26);
    row.dayPopup->installEventFilter(new WheelScrollsPane(*scheduleScrollView, *row.dayPopup));

    row.removeBtn = button(QStringLiteral("\u2715"), width - 40, 54, 28, 22);
    smallFont(*row.removeBtn);
    staticLabel(QStringLiteral("Start:"), 238, 56, 36, 16, true);
    row.startHourField = timeField(entry.startHour, 276);
    staticLabel(QStringLiteral(":"), 308, 54, 8, 18, false);
    row.startMinField = timeField(entry.startMinute, 316);
    staticLabel(QStringLiteral("End:"), 358, 56, 28, 16, true);
    row.endHourField = timeField(entry.endHour, 388);
    staticLabel(QStringLiteral(":"), 420, 54, 8, 18, false);
    row.endMinField = timeField(entry.endMinute, 428);

    row.imageField = new QLineEdit;
    row.imageField->setReadOnly(true);
    row.imageField->setPlaceholderText(QStringLiteral("No image selected"));
    place(row.imageField, 98, 12, width - 190, 24);
    showPath(*row.imageField, QString::fromStdString(entry.imagePath));
    row.browseBtn = button(QStringLiteral("Browse"), width - 84, 10, 72, 26);

    // Each button finds its row again by its own identity when pressed.
    QPushButton* const browse = row.browseBtn;
    QPushButton* const remove = row.removeBtn;
    connect(browse, &QPushButton::clicked, this, [this, browse] { browseRowImage(browse); });
    connect(remove, &QPushButton::clicked, this, [this, remove] { removeScheduleRow(remove); });

    card->setParent(scheduleContainer);
    card->show();
    scheduleRows.push_back(row);
}

void OverlayEditorController::layoutScheduleRows()
{
    const int width = scheduleScrollView->width() - 16;
    const int content = static_cast<int>(scheduleRows.size()) * kRowPitch;
    scheduleContainer->resize(width, std::max(content, scheduleScrollView->height()));
    for (std::size_t i = 0; i < scheduleRows.size(); ++i)
        scheduleRows[i].card->setGeometry(0, static_cast<int>(i) * kRowPitch, width, static_cast<int>(kCardHeight));
}

void OverlayEditorController::addScheduleRow()
{
    addRowForEntry(ImageScheduleEntry(2, 19, 0, 21, 0, ""));  // Monday 19:00 to 21:00, no image
    layoutScheduleRows();
    scheduleDebouncedSave();
}

void OverlayEditorController::removeScheduleRow(const QPushButton* sender)
{
    const auto row = std::ranges::find(scheduleRows, sender, &ScheduleRow::removeBtn);
    if (row == scheduleRows.end()) return;
    QWidget& card = *row->card;
    scheduleRows.erase(row);
    discard(card);
    layoutScheduleRows();
    scheduleDebouncedSave();
}

void OverlayEditorController::browseRowImage(const QPushButton* sender)
{
    if (std::ranges::find(scheduleRows, sender, &ScheduleRow::browseBtn) == scheduleRows.end()) return;
    // The panel runs an event loop: timers may remove or rebuild rows meanwhile.
    const QPointer<const QPushButton> button(sender);
    const std::optional<QString> file = chooseFile(QStringLiteral("Select Show Image"), imageFileTypes());
    if (!file || !button) return;
    const auto row = std::ranges::find(scheduleRows, button.data(), &ScheduleRow::browseBtn);
    if (row == scheduleRows.end()) return;
    showPath(*row->imageField, *file);
    if (const auto image = thumbnailOf(*file)) row->thumbnail->setPixmap(*image);  // else the old one stays
    scheduleDebouncedSave();
}

void OverlayEditorController::browseDefaultImage()
{
    const std::optional<QString> file = chooseFile(QStringLiteral("Select Default Image"), imageFileTypes());
    if (!file || !defaultImageField) return;
    showPath(*defaultImageField, *file);
    updatePreview();
    scheduleDebouncedSave();
}

void OverlayEditorController::saveImagesConfigFromUI()
{
    if (defaultImageField) config.defaultImagePath = defaultImageField->text().toStdString();
    if (hourOffsetField) config.hourOffset = integerIn(hourOffsetField);
    if (!scheduleContainer) return;
    std::vector<ImageScheduleEntry> entries;
    entries.reserve(scheduleRows.size());
    for (const ScheduleRow& row : scheduleRows) {
        const int day = row.dayPopup->currentIndex();
        entries.emplace_back(day >= 0 ? day + 1 : row.unlistedDay, integerIn(row.startHourField),
                             integerIn(row.startMinField), integerIn(row.endHourField), integerIn(row.endMinField),
                             row.imageField->text().toStdString());
    }
    config.entries = std::move(entries);
}

}  // namespace ondaline::editor
