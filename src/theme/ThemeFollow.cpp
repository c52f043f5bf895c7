#include "ThemeFollow.h"

void followTheme(QObject* owner, std::function<void(const ThemeColors&)> restyle)
{
    if (!owner || !restyle)
        return;
    ThemeManager* theme = ThemeManager::instance();
    restyle(theme->colors());
    QObject::connect(theme, &ThemeManager::themeChanged, owner,
                     [theme, restyle = std::move(restyle)] { restyle(theme->colors()); });
}
