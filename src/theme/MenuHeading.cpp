#include "MenuHeading.h"

#include <QLabel>
#include <QMenu>
#include <QWidgetAction>

#include "ThemeManager.h"

QAction* vxMenuHeading(QMenu* menu, const QString& text)
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("menuHeading"));
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("QLabel{color:%1;background:transparent;font-size:11px;font-weight:700;"
                                        "padding:5px 12px 4px 12px;}")
                             .arg(c.textSecondary.name()));
    auto* action = new QWidgetAction(menu);
    action->setText(text);
    action->setDefaultWidget(label);
    // Disabled: the keyboard and the mouse pass over it, as over a section.
    action->setEnabled(false);
    menu->addAction(action);
    return action;
}
