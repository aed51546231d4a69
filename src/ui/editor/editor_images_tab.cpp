// The Images tab: the default image, the hour offset and the weekly rows.

#include "ui/editor/overlay_editor_controller.h"

namespace ondaline::editor {

void OverlayEditorController::buildImagesTab(QWidget& tab) { (void)tab; }

void OverlayEditorController::saveImagesConfigFromUI()
{
    // The schedule has no controls yet: the copy keeps its default image,
    // hour offset and entries as they are.
}

}  // namespace ondaline::editor
