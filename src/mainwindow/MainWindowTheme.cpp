// The accent colour the user chose, kept across the start-up theme step.
#include "MainWindow.h"

#include <QColor>

#include "SettingsKeys.h"
#include "ThemeManager.h"

bool MainWindow::reapplyStoredAccent()
{
    const QString text = SettingsKeys::readString(SettingsKeys::AppearanceAccent, QString());
    if (text.isEmpty() || !QColor::isValidColorName(text))
        return false;
    ThemeManager::instance()->setAccent(QColor::fromString(text));
    return true;
}
