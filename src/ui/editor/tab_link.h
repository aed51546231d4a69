#pragma once

// What a tab of the editor asks of the controller that holds it.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace ondaline::editor {

// What a change the user made on a tab needs besides a save.
enum class Redraw {
    none,     // the preview does not show it
    preview,  // the preview shows it
    all,      // the preview shows it, and the bars' animation follows their check box again
};

struct TabLink {
    // Runs after each change the user makes.
    std::function<void(Redraw)> changed;
    // One existing file picked in a modal panel titled `title` that offers
    // the files of `mimeTypes`; none when cancelled.
    std::function<std::optional<QString>(const QString& title, const QStringList& mimeTypes)> chooseFile;
};

}  // namespace ondaline::editor
