#pragma once

// The drawer's appearance page: the now-playing font and size, and the ways
// into the overlay and schedule editor. A choice of the user's is reported
// at once and read back once, so that only a chosen value is written back:
// merely opening the page, or showing a value changed elsewhere, changes
// nothing stored.

#include <QPointer>

#include <functional>

class QComboBox;
class QWidget;

namespace ondaline {
struct ImageScheduleConfig;
}

namespace ondaline::app {

class AppearancePage {
public:
    struct Actions {
        std::function<void()> backToSettings;     // "← Settings"
        std::function<void()> editOverlayLayout;  // "Edit Overlay Layout…"
        std::function<void()> editSchedule;       // "Edit Schedule…"
        std::function<void()> fontChosen;         // in the font or the size pop-up
    };
    explicit AppearancePage(Actions actions);

    // A new page, `width` wide, showing `record`'s now-playing font and size.
    QWidget* build(const ImageScheduleConfig& record, double width);
    // The pop-ups of the page, if it lives, show `record`'s font and size,
    // which counts as no choice. The font where its pop-up lists it; a size
    // the list lacks as what it is ("26 pt"), an item of its own.
    void show(const ImageScheduleConfig& record);
    // The font and size the user chose since the last reading into
    // `record`; a value not chosen stays as it is.
    void read(ImageScheduleConfig& record);

    // The pop-ups of the page last built, while it lives.
    QComboBox* drNPFontPopup() const;
    QComboBox* drNPFontSizePopup() const;

private:
    Actions actions_;
    QPointer<QComboBox> fontPopup_;
    QPointer<QComboBox> fontSizePopup_;
};

}  // namespace ondaline::app
