// The toolbar row: the menu buttons, the hidden playback-rule toggles, the
// now-playing strip, the pane-layout buttons and the master volume.
#include "MainWindow.h"

#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "AppSettings.h"
#include "SettingsKeys.h"
#include "ThemeFollow.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace {

QFrame* divider(QWidget* parent)
{
    auto* f = new QFrame(parent);
    f->setFrameShape(QFrame::VLine);
    f->setFixedWidth(1);
    followTheme(
        f, [f](const ThemeColors& c) { f->setStyleSheet(QStringLiteral("background:%1;color:%1;").arg(c.border.name())); });
    return f;
}

} // namespace

QWidget* MainWindow::buildToolbar()
{
    const ThemeColors& c = ThemeManager::instance()->colors();

    // The three playback rules live in hidden checkable buttons.
    for (QPushButton** toggle : {&autoStopToggle, &restartToggle, &crossTabStopToggle}) {
        *toggle = new QPushButton(this);
        (*toggle)->setCheckable(true);
        (*toggle)->setChecked(true);
        (*toggle)->hide();
    }

    toolBar = new QWidget(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setFixedHeight(sc(46));
    auto* row = new QHBoxLayout(toolBar);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(0);

    buildMenuButtons(row);
    row->addSpacing(10);
    row->addWidget(divider(toolBar));
    row->addSpacing(10);

    npBar = new QWidget(toolBar);
    npBar->setObjectName(QStringLiteral("npBar"));
    npBar->setFixedHeight(sc(30));
    npBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    npBar->setAttribute(Qt::WA_StyledBackground, true);
    auto* np = new QHBoxLayout(npBar);
    np->setContentsMargins(10, 0, 10, 0);
    np->setSpacing(6);
    npDot = new QLabel(QStringLiteral("●"), npBar);
    npDot->setObjectName(QStringLiteral("npDot"));
    npDot->setFixedWidth(sc(10));
    npDot->setStyleSheet(QStringLiteral("color:%1;font-size:9px;").arg(c.accent.name()));
    npTitle = new QLabel(QStringLiteral("No Track"), npBar);
    npTitle->setObjectName(QStringLiteral("npTitle"));
    npTitle->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    npTime = new QLabel(npBar);
    npTime->setObjectName(QStringLiteral("npTime"));
    np->addWidget(npDot);
    np->addWidget(npTitle, 1);
    np->addWidget(npTime);
    row->addWidget(npBar, 1);

    row->addSpacing(10);
    row->addWidget(divider(toolBar));
    row->addSpacing(8);

    stackDualPanes = SettingsKeys::readBool(SettingsKeys::LayoutStackDualPanes, true);
    struct LayoutChoice
    {
        int mode;
        const char* tip;
    };
    static const LayoutChoice kChoices[] = {
        {1, "Single view"}, {2, "Dual view"}, {4, "Quad view (2×2)"}};
    QFont layFont(QStringLiteral("Arial"), 10);
    layFont.setWeight(QFont::Bold);
    for (const LayoutChoice& choice : kChoices) {
        auto* b = new QPushButton(QString::number(choice.mode), toolBar);
        b->setObjectName(QStringLiteral("layBtn"));
        b->setToolTip(QString::fromUtf8(choice.tip));
        b->setFont(layFont);
        b->setFixedSize(sc(30), sc(28));
        b->setCheckable(true);
        b->setChecked(layoutMode == choice.mode);
        const int mode = choice.mode;
        connect(b, &QPushButton::clicked, this, [this, mode] { setGridLayout(mode); });
        row->addWidget(b);
        row->addSpacing(2);
        layoutButtons.append(b);
    }
    stackButton = new QPushButton(QStringLiteral("⬓"), toolBar);
    stackButton->setObjectName(QStringLiteral("layBtn"));
    stackButton->setFixedSize(sc(30), sc(28));
    stackButton->setCheckable(true);
    stackButton->setToolTip(QStringLiteral("Stack the 2 panes into rows (instead of side-by-side)"));
    stackButton->setChecked(stackDualPanes);
    stackButton->setVisible(layoutMode == 2);
    connect(stackButton, &QPushButton::toggled, this, [this](bool on) {
        stackDualPanes = on;
        AppSettings s;
        s.setValue(QStringLiteral("layout/stackDualPanes"), on);
        rebuildPaneLayout();
    });
    row->addWidget(stackButton);

    row->addSpacing(10);
    row->addWidget(divider(toolBar));
    row->addSpacing(10);
    row->addWidget(divider(toolBar));
    row->addSpacing(10);

    auto* volGroup = new QWidget(toolBar);
    volGroup->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    auto* vol = new QHBoxLayout(volGroup);
    vol->setContentsMargins(0, 0, 0, 0);
    vol->setSpacing(5);
    auto* volLabel = new QLabel(QStringLiteral("VOL"), volGroup);
    followTheme(volLabel, [volLabel](const ThemeColors& c) {
        volLabel->setStyleSheet(QStringLiteral("color:%1;font-size:10px;font-weight:700;background:transparent;")
                                    .arg(c.textSecondary.name()));
    });
    volSlider = new QSlider(Qt::Horizontal, volGroup);
    volSlider->setObjectName(QStringLiteral("volSlider"));
    volSlider->setRange(0, 100);
    volSlider->setValue(85);
    volSlider->setFixedWidth(sc(80));
    vol->addWidget(volLabel);
    vol->addWidget(volSlider);
    row->addWidget(volGroup);
    row->addSpacing(4);
    volPercentLabel = new QLabel(QStringLiteral("85%"), toolBar);
    QLabel* percent = volPercentLabel;
    followTheme(percent, [percent](const ThemeColors& c) {
        percent->setStyleSheet(
            QStringLiteral("color:%1;font-size:10px;font-weight:600;min-width:30px;background:transparent;")
                .arg(c.textSecondary.name()));
    });
    row->addWidget(volPercentLabel);
    connect(volSlider, &QSlider::valueChanged, this, &MainWindow::onVolumeChanged);
    volSlider->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(volSlider, &QWidget::customContextMenuRequested, this, &MainWindow::showVolumeMenu);

    return toolBar;
}

void MainWindow::updateMenuBarCollapse(int width)
{
    // The menu buttons show their narrow texts below a width.
    if (menuBarButtons.isEmpty())
        return;
    const bool collapsed = width < sc(820);
    if (collapsed == menuBarCollapsed)
        return;
    menuBarCollapsed = collapsed;
    for (int i = 0; i < menuBarButtons.size(); ++i) {
        menuBarButtons[i]->setText(collapsed ? menuBarIcons[i] : menuBarLabels[i]);
        fitMenuBarButton(menuBarButtons[i]);
    }
}

// The record indicator sits in the toolbar row right after the now-playing
// strip, which gives it room while it shows: it covers no control.
void MainWindow::placeRecIndicator()
{
    auto* row = toolBar ? qobject_cast<QHBoxLayout*>(toolBar->layout()) : nullptr;
    if (!row || !recIndicator || !npBar)
        return;
    row->insertWidget(row->indexOf(npBar) + 1, recIndicator);
}
