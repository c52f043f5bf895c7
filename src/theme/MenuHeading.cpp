#include "MenuHeading.h"

#include <QLabel>
#include <QMenu>
#include <QWidgetAction>

#include "ThemeFollow.h"
#include "ThemeManager.h"

QAction* vxMenuHeading(QMenu* menu, const QString& text)
{
    auto* label = new QLabel(text);
    label->setObjectName(QStringLiteral("menuHeading"));
    label->setTextFormat(Qt::PlainText);
    // The secondary text colour, made to read on either menu ground (the
    // small menus' surface, the toolbar menus' hover surface); a menu kept
    // open across a theme change follows it.
    followTheme(label, [label](const ThemeColors& c) {
        const QColor ink = ThemeManager::readableOn(c.textSecondary, {c.surface, c.surfaceHover});
        label->setStyleSheet(QStringLiteral("QLabel{color:%1;background:transparent;font-size:11px;font-weight:700;"
                                            "padding:5px 12px 4px 12px;}")
                                 .arg(ink.name()));
    });
    auto* action = new QWidgetAction(menu);
    action->setText(text);
    action->setDefaultWidget(label);
    // Disabled: the keyboard and the mouse pass over it, as over a section.
    action->setEnabled(false);
    menu->addAction(action);
    return action;
}
