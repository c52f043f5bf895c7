// The accent colour the user chose, kept across the start-up theme step.
#include "MainWindow.h"

#include <QColor>

#include "AppSettings.h"
#include "ThemeManager.h"

bool MainWindow::reapplyStoredAccent()
{
    AppSettings s;
    const QString text = s.value(QStringLiteral("appearance/accent")).toString();
    if (text.isEmpty() || !QColor::isValidColorName(text))
        return false;
    ThemeManager::instance()->setAccent(QColor::fromString(text));
    return true;
}
