#pragma once

// One card of the Images tab's schedule list, and the path fields and
// typed numbers the tab shares with it.

#include "models/image_schedule_entry.h"

#include <QString>

#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ondaline::editor {

// One card of the schedule list. Its values live only in its controls,
// except a stored day that names no weekday: the day pop-up then selects
// nothing, and that day is written back until the user picks one.
struct ScheduleRow {
    QWidget* card;
    QLabel* thumbnail;
    QComboBox* dayPopup;
    QLineEdit* startHourField;
    QLineEdit* startMinField;
    QLineEdit* endHourField;
    QLineEdit* endMinField;
    QLineEdit* imageField;
    QPushButton* browseBtn;
    QPushButton* removeBtn;
    std::int64_t unlistedDay;

    // A card `width` wide showing `entry`, with no parent yet; the wheel
    // over its day pop-up scrolls the pane it is put in. Its buttons are not
    // connected.
    static ScheduleRow make(const ImageScheduleEntry& entry, int width);

    // The entry the card's controls give.
    ImageScheduleEntry entry() const;
    // Shows `path` and its image; a file that does not decode as one
    // leaves the thumbnail as it was.
    void showImage(const QString& path) const;
    // Takes the card off the list. It goes later: one of its buttons may be
    // the one whose press is being handled.
    void discard() const;
};

// Sets a read-only path field so that a long path shows its end.
void showPath(QLineEdit& field, const QString& path);

// The whole text as an integer, else 0; nothing is trimmed.
std::int64_t integerIn(const QLineEdit& field);

}  // namespace ondaline::editor
