#pragma once

// The editor's Images tab: the default image, the hour offset and the
// weekly rows, one card per row in a scrolling list.

#include "models/image_schedule_config.h"
#include "ui/editor/schedule_row.h"
#include "ui/editor/tab_link.h"

#include <string>
#include <vector>

class QLineEdit;
class QPushButton;
class QScrollArea;
class QWidget;

namespace ondaline::editor {

class ImagesTab {
public:
    // Builds the controls into `page`, the tab's 660 x 740 content.
    ImagesTab(QWidget& page, TabLink link);

    ImagesTab(const ImagesTab&) = delete;
    ImagesTab& operator=(const ImagesTab&) = delete;

    // Default image, hour offset and one card per entry, from `config`.
    void load(const ImageScheduleConfig& config);
    // The same three, as the controls give them, into `config`.
    void save(ImageScheduleConfig& config) const;

    std::string defaultImagePath() const;

    QLineEdit* defaultImageField() const { return defaultImageField_; }
    QLineEdit* hourOffsetField() const { return hourOffsetField_; }
    QWidget* scheduleContainer() const { return scheduleContainer_; }  // the list's document, top-left origin
    const std::vector<ScheduleRow>& rows() const { return rows_; }     // screen order, top to bottom

private:
    // Appends a card for `entry`; neither lays out nor saves.
    void addRowForEntry(const ImageScheduleEntry& entry);
    void layoutRows();
    void addRow();
    // The row whose button `sender` is; a button of no row does nothing.
    void removeRow(const QPushButton* sender);
    void browseRowImage(const QPushButton* sender);
    void browseDefaultImage();

    TabLink link_;
    QLineEdit* defaultImageField_ = nullptr;
    QLineEdit* hourOffsetField_ = nullptr;
    QScrollArea* scheduleScrollView_ = nullptr;
    QWidget* scheduleContainer_ = nullptr;
    std::vector<ScheduleRow> rows_;
};

}  // namespace ondaline::editor
