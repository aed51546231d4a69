#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace ondaline::test {

// HOME and XDG_CONFIG_HOME below `home`, and a station of its own: the
// pointer file names "<home>/station". A controller made after this reads
// and writes none of this machine's station or settings, even where the
// test names no station itself (the default is the machine's /Station).
inline void usePrivateHome(const QString& home)
{
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + "/config").toUtf8());
    QFile pointer(home + "/.ondaline_station");
    const QByteArray station = (home + "/station").toUtf8();
    if (!QDir().mkpath(home + "/station") || !pointer.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        pointer.write(station) != station.size())
        qFatal("no station of its own in %s", qPrintable(home));
}

}  // namespace ondaline::test
