// The preview: the stream's own drawing of the overlays, from the controls.

#include "ui/editor/overlay_editor_controller.h"

namespace ondaline::editor {

void OverlayEditorController::updatePreview() {}

}  // namespace ondaline::editor
