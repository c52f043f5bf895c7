#pragma once
#include <QSettings>

// Every settings access goes through this: organisation "Tarvello",
// application "Rododu". A default-constructed QSettings would use the
// application name "Tarvello Rododu" and so a different file.
class AppSettings : public QSettings
{
public:
    AppSettings() : QSettings(QStringLiteral("Tarvello"), QStringLiteral("Rododu")) {}
};
