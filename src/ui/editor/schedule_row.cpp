#include "ui/editor/schedule_row.h"

#include "ui/editor/editor_window.h"
#include "ui/editor/number_text.h"
#include "ui/editor/tab_parts.h"

#include "platform/file_rights/named_file.h"
#include "ui/console/wheel_scrolls_page.h"

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

#include <optional>

namespace ondaline::editor {

namespace {

constexpr std::size_t kImageFileLimit = 64 * 1024 * 1024;  // as the stream reads its pictures

constexpr double kCardHeight = 90;
constexpr QSize kThumbnailSize{72, 40};

QColor grey(float white) { return QColor::fromRgbF(white, white, white); }

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

QString twoDigits(std::int64_t value) { return QString::asprintf("%02lld", static_cast<long long>(value)); }

// The image in `path` reduced into the thumbnail's bounds, aspect kept;
// none when the file does not decode.
std::optional<QPixmap> thumbnailOf(const QString& path)
{
    if (path.isEmpty()) return std::nullopt;
    // A FIFO picked as an image must not freeze the editor, and another
    // user's link is not followed.
    const auto bytes = platform::readNamedFile(QFile::encodeName(path).toStdString(), {}, kImageFileLimit).contents;
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

ScheduleRow ScheduleRow::make(const ImageScheduleEntry& entry, int width)
{
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
    place(row.thumbnail, 12, 25, kThumbnailSize.width(), kThumbnailSize.height());

    row.dayPopup = new QComboBox;
    for (std::string_view name : ImageScheduleEntry::dayNames)
        row.dayPopup->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    const bool listedDay = entry.dayOfWeek >= 1 && entry.dayOfWeek <= 7;
    row.dayPopup->setCurrentIndex(listedDay ? static_cast<int>(entry.dayOfWeek - 1) : -1);
    row.unlistedDay = entry.dayOfWeek;
    place(row.dayPopup, 98, 52, 130, 26);
    ui::wheelScrollsPage(*row.dayPopup);

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
    row.browseBtn = button(QStringLiteral("Browse"), width - 84, 10, 72, 26);
    row.showImage(QString::fromStdString(entry.imagePath));
    return row;
}

ImageScheduleEntry ScheduleRow::entry() const
{
    const int day = dayPopup->currentIndex();
    return {day >= 0 ? day + 1 : unlistedDay, integerIn(*startHourField), integerIn(*startMinField),
            integerIn(*endHourField),         integerIn(*endMinField),    imageField->text().toStdString()};
}

void ScheduleRow::showImage(const QString& path) const
{
    showPath(*imageField, path);
    if (const auto image = thumbnailOf(path)) thumbnail->setPixmap(*image);
}

void ScheduleRow::discard() const
{
    // Gone from the tab, the card's buttons no longer reach it.
    browseBtn->disconnect();
    removeBtn->disconnect();
    card->hide();
    card->setParent(nullptr);
    card->deleteLater();
}

void showPath(QLineEdit& field, const QString& path)
{
    field.setText(path);
    field.setToolTip(path);
    field.end(false);
}

std::int64_t integerIn(const QLineEdit& field) { return parseInteger(field.text().toStdString()).value_or(0); }

}  // namespace ondaline::editor
