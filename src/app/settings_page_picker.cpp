// The application picker's picks: at once from its open list; after the
// user has stopped stepping through it with its list closed, so that the
// applications passed over are never captured.

#include "app/settings_page.h"

#include <QComboBox>
#include <QEvent>

namespace ondaline::app {

// Sees the picker's own events, which come while its list is closed (the
// open list has events of its own), before the picker acts on them.
bool SettingsPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != appPickerEvents_) return false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::Wheel:
        // The picker changes its item, if at all, while this event is
        // handled; a step that changes nothing leaves no mark.
        stepping_ = true;
        QMetaObject::invokeMethod(
            this, [this] { stepping_ = false; }, Qt::QueuedConnection);
        break;
    case QEvent::FocusOut:
        // Left, or gone with its page: stopped stepping. Not from within
        // the picker's own ending.
        if (steppedPick_) pickerSettleTimer_.start(0);
        break;
    default:
        break;
    }
    return false;
}

void SettingsPage::applicationActivated()
{
    std::optional<sources::AudioSource> picked = application();
    if (stepping_) {
        // The first line stepped to takes back the step before.
        steppedPick_ = std::move(picked);
        if (steppedPick_) pickerSettleTimer_.start(pickerSettle);
        else pickerSettleTimer_.stop();
        return;
    }
    pickerSettleTimer_.stop();
    steppedPick_.reset();
    if (picked) {
        actions_.applicationChosen(*picked);
        markOfferedItems();  // picked: no longer only offered
    }
}

void SettingsPage::takeSteppedPick()
{
    if (auto picked = std::exchange(steppedPick_, std::nullopt)) {
        actions_.applicationChosen(*picked);
        markOfferedItems();
    }
}

}  // namespace ondaline::app
