#pragma once

#include <QCoreApplication>
#include <QSettings>

// The user's settings of the program (recent files, window layout), in the platform's usual place
// for them (~/.config/Argilium/Argilium.conf here). The file is named after the running
// application, so that test programs, which bear their own names, never share the program's.
inline QSettings userSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Argilium"),
        QCoreApplication::applicationName());
}
