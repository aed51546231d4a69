#pragma once

#include <QStringList>

namespace ondaline::editor {

// The fonts offered for the now-playing text, by PostScript name, in the
// order the editor and the dashboard's appearance page both list them.
inline QStringList nowPlayingFonts()
{
    return {QStringLiteral("Helvetica-Bold"), QStringLiteral("Helvetica"),     QStringLiteral("Arial-BoldMT"),
            QStringLiteral("Arial"),          QStringLiteral("Georgia-Bold"),  QStringLiteral("Georgia"),
            QStringLiteral("Verdana-Bold"),   QStringLiteral("Verdana"),       QStringLiteral("Futura-Medium"),
            QStringLiteral("Futura-Bold"),    QStringLiteral("GillSans-Bold"), QStringLiteral("GillSans"),
            QStringLiteral("Menlo-Bold"),     QStringLiteral("Menlo-Regular")};
}

}  // namespace ondaline::editor
