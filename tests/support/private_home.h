#pragma once

#include <QByteArray>
#include <QString>

namespace ondaline::test {

// HOME and XDG_CONFIG_HOME below `home`: a controller made after this reads
// and writes none of this machine's station or settings.
inline void usePrivateHome(const QString& home)
{
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + "/config").toUtf8());
}

}  // namespace ondaline::test
