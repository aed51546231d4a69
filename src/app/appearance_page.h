#pragma once

// The drawer's appearance page: the now-playing font and size, and the ways
// into the overlay and schedule editor. A choice of the user's is
// remembered, so that only a chosen value is written back: merely opening
// the page changes nothing stored.

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
    };
    explicit AppearancePage(Actions actions);

    // A new page, `width` wide, showing `record`'s now-playing font and size
    // where its pop-ups have them.
    QWidget* build(const ImageScheduleConfig& record, double width);
    // The font and size the user chose on the page into `record`; a stored
    // one that the page cannot show stays as it is.
    void read(ImageScheduleConfig& record) const;

    // The pop-ups of the page last built, while it lives.
    QComboBox* drNPFontPopup() const;
    QComboBox* drNPFontSizePopup() const;

private:
    Actions actions_;
    QPointer<QComboBox> fontPopup_;
    QPointer<QComboBox> fontSizePopup_;
};

}  // namespace ondaline::app
