// The two side columns of the window: the left panel with its pages (SETS
// here, LIBRARY in MainWindowLibrary.cpp, the ONLINE page's slot) and the
// music panel on the right (its lists in MainWindowMusicLists.cpp).
#include "MainWindow.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "AppSettings.h"
#include "AudioEngine.h"
#include "EventLog.h"
#include "FileCheck.h"
#include "LibraryManager.h"
#include "Modal.h"
#include "MusicItemDelegate.h"
#include "NowPlayingBar.h"
#include "OutputChoices.h"
#include "OutputChooser.h"
#include "ScreenFit.h"
#include "SessionDelegate.h"
#include "SessionManager.h"
#include "SettingsKeys.h"
#include "SidePanelText.h"
#include "ThemeFollow.h"
#include "ThemeManager.h"
#include "VXIcons.h"
#include "WholeTextLabel.h"

namespace {

const QString kHeadphones = QStringLiteral(
    "<path d='M3 14v-3a9 9 0 0 1 18 0v3'/><path d='M21 19a2 2 0 0 1-2 2h-1a2 2 0 0 1-2-2v-3a2 2 0 0 1 2-2h3z"
    "M3 19a2 2 0 0 0 2 2h1a2 2 0 0 0 2-2v-3a2 2 0 0 0-2-2H3z'/>");
const QString kFolder = QStringLiteral(
    "<path d='M4 20h16a2 2 0 0 0 2-2V8a2 2 0 0 0-2-2h-7.9a2 2 0 0 1-1.69-.9L9.6 3.9A2 2 0 0 0 7.93 3H4a2 2 0 0 "
    "0-2 2v13a2 2 0 0 0 2 2z'/>");
const QString kPlus = QStringLiteral("<line x1='12' y1='5' x2='12' y2='19'/><line x1='5' y1='12' x2='19' y2='12'/>");
// The panel's small drawings.
const QString kListPlay = QStringLiteral(
    "<line x1='3' y1='6' x2='15' y2='6'/><line x1='3' y1='12' x2='12' y2='12'/><line x1='3' y1='18' x2='9' "
    "y2='18'/><path d='M15 13l6 3.5-6 3.5z' fill='currentColor'/>");
const QString kUndo = QStringLiteral("<path d='M3 12a9 9 0 1 0 3-6.7'/><polyline points='3 3 3 9 9 9'/>");
const QString kCross = QStringLiteral("<line x1='6' y1='6' x2='18' y2='18'/><line x1='18' y1='6' x2='6' y2='18'/>");
const QString kPlay = QStringLiteral("<path d='M7 4l13 8-13 8z' fill='currentColor'/>");
const QString kListAdd = QStringLiteral(
    "<line x1='3' y1='6' x2='14' y2='6'/><line x1='3' y1='12' x2='10' y2='12'/><line x1='3' y1='18' x2='8' "
    "y2='18'/><circle cx='17' cy='16' r='5' fill='currentColor'/><line x1='17' y1='13.5' x2='17' y2='18.5' "
    "stroke='black'/><line x1='14.5' y1='16' x2='19.5' y2='16' stroke='black'/>");

QIcon tintedIcon(const QString& body, const QColor& colour, int px)
{
    return VXIcons::modern(VXIcons::strokeSvg(body, 2.0), colour, px);
}

// A small icon-only button. Its drawing takes the theme's text colour, which
// reads on the panel in every preset, unless onAccent: a button filled with
// the accent keeps a white drawing.
QPushButton* iconButton(QWidget* parent, const char* objectName, const QString& body, int iconPx, QSize size,
                        bool onAccent = false)
{
    auto* b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(objectName));
    b->setFixedSize(size);
    b->setIconSize(QSize(iconPx, iconPx));
    followTheme(b, [b, body, iconPx, onAccent](const ThemeColors& c) {
        b->setIcon(tintedIcon(body, onAccent ? QColor(Qt::white) : c.text, iconPx));
    });
    return b;
}

// A music list's look. The view paints the alternate rows from the palette
// (the row painter draws no background of its own): the theme's alternate
// surface, not the platform's near-white.
void styleMusicList(QListWidget* list)
{
    followTheme(list, [list](const ThemeColors& c) {
        // The alternate rows' colour goes through the style sheet too: a
        // palette set by hand would be put back to the old one when the
        // style sheet polishes the list again.
        list->setStyleSheet(
            QStringLiteral("QListWidget{  background:transparent;  outline:none;border:none;"
                           "alternate-background-color:")
            + c.surfaceAlt.name()
            + QStringLiteral(";}"
                           "QListWidget::item{  border:none;background:transparent;padding:0;}"
                           "QListWidget::item:alternate{background:")
            + c.surfaceAlt.name() + QStringLiteral(";}QListWidget::item:selected{background:")
            + c.surfaceHover.name() + QStringLiteral(";}QListWidget::item:hover{background:")
            + c.surfaceAlt.name() + QStringLiteral(";}"));
    });
}

} // namespace

// --- Left panel ----------------------------------------------------------------

QWidget* MainWindow::buildLeftPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("leftPanel"));
    panel->setMinimumWidth(155);
    panel->setMaximumWidth(350);
    auto* v = new QVBoxLayout(panel);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    auto* tabs = new QWidget(panel);
    tabs->setObjectName(QStringLiteral("leftTabRow"));
    tabs->setFixedHeight(32);
    auto* row = new QHBoxLayout(tabs);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const QStringList names = {QStringLiteral("SETS"), QStringLiteral("LIBRARY"), QStringLiteral("ONLINE")};
    for (int i = 0; i < names.size(); ++i) {
        auto* b = new QPushButton(names[i], tabs);
        b->setObjectName(QStringLiteral("lpTabBtn"));
        b->setCheckable(true);
        b->setChecked(i == 0);
        b->setFixedHeight(32);
        connect(b, &QPushButton::clicked, this, [this, i] { onSwitchLeftPanel(i); });
        row->addWidget(b);
    }

    leftStack = new QStackedWidget(panel);
    leftPanel = panel;
    buildSetsPage(leftStack);
    buildLibraryPage(leftStack);
    leftStack->addWidget(buildOnlinePage());
    v->addWidget(tabs);
    v->addWidget(leftStack, 1);
    return panel;
}

void MainWindow::onSwitchLeftPanel(int index)
{
    if (!leftStack || !leftPanel)
        return;
    leftStack->setCurrentIndex(index);
    int i = 0;
    for (QPushButton* b : leftPanel->findChildren<QPushButton*>()) {
        if (b->objectName() == QLatin1String("lpTabBtn"))
            b->setChecked(i++ == index);
    }
}

void MainWindow::buildSetsPage(QStackedWidget* stack)
{
    auto* page = new QWidget(stack);
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    auto* header = new QWidget(page);
    header->setObjectName(QStringLiteral("panelHdr"));
    header->setFixedHeight(48);
    auto* h = new QHBoxLayout(header);
    h->setContentsMargins(10, 0, 10, 0);
    h->setSpacing(10);
    auto* icon = new QLabel(QStringLiteral("🗂"), header);
    icon->setObjectName(QStringLiteral("sessionFolderIcon"));
    icon->setFixedSize(30, 30);
    icon->setAlignment(Qt::AlignCenter);
    icon->hide();
    h->addWidget(icon);
    auto* column = new QWidget(header);
    column->setStyleSheet(QStringLiteral("background:transparent;"));
    auto* cv = new QVBoxLayout(column);
    cv->setContentsMargins(0, 0, 0, 0);
    cv->setSpacing(1);
    auto* title = new QLabel(QStringLiteral("Recent Sessions"), column);
    title->setObjectName(QStringLiteral("sessionLabel"));
    followTheme(title, [title](const ThemeColors& c) {
        title->setStyleSheet(QStringLiteral("color:%1; font-weight:700; background:transparent;").arg(c.text.name()));
    });
    auto* sub = new QLabel(QStringLiteral("Your saved sets"), column);
    sub->setObjectName(QStringLiteral("sessionSubLabel"));
    cv->addWidget(title);
    cv->addWidget(sub);
    h->addWidget(column, 1);
    v->addWidget(header);

    setsList = new QListWidget(page);
    setsList->setFrameShape(QFrame::NoFrame);
    setsList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(setsList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (item)
            openSetFromList(item->data(SessionDelegate::kPathRole).toString(), true);
    });
    connect(setsList, &QListWidget::customContextMenuRequested, this, &MainWindow::showSetsMenu);
    v->addWidget(setsList, 1);

    auto* footer = new QWidget(page);
    footer->setObjectName(QStringLiteral("panelHdr"));
    auto* f = new QHBoxLayout(footer);
    f->setContentsMargins(6, 6, 6, 6);
    f->setSpacing(6);
    struct Action
    {
        QString text;
        const char* objectName;
        QString drawing;
        double stroke;
        void (MainWindow::*slot)();
    };
    for (const Action& a : {Action{QStringLiteral("Open"), "secondaryBtn", kFolder, 2.0, &MainWindow::onOpenSession},
                            Action{QStringLiteral("New Set"), "primaryBtn", kPlus, 2.4, &MainWindow::onNewSession}}) {
        auto* b = new QPushButton(a.text, footer);
        b->setObjectName(QString::fromLatin1(a.objectName));
        b->setToolTip(a.text);
        // The accent-filled button has white text; the other one the theme's.
        const bool onAccent = qstrcmp(a.objectName, "primaryBtn") == 0;
        const QString drawing = VXIcons::strokeSvg(a.drawing, a.stroke);
        followTheme(b, [b, drawing, onAccent](const ThemeColors& c) {
            b->setIcon(VXIcons::modern(drawing, onAccent ? QColor(Qt::white) : c.textSecondary, 14));
        });
        // Narrow paddings so that both texts stay whole at the panel's
        // narrowest; the buttons never shrink below their text.
        b->setStyleSheet(QStringLiteral("padding:6px 6px;min-width:0px;"));
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        b->setMinimumHeight(32);
        connect(b, &QPushButton::clicked, this, a.slot);
        // Open keeps its own width; New Set, the longer text, takes the rest.
        f->addWidget(b, onAccent ? 1 : 0);
    }
    v->addWidget(footer);
    stack->addWidget(page);
}

void MainWindow::refreshSetsList()
{
    if (!setsList)
        return;
    setsList->clear();
    setsList->setStyleSheet(
        QStringLiteral("QListWidget{background:transparent;border:none;outline:none;padding:6px 4px;}"
                       "QListWidget::item{background:transparent;border:none;margin:1px 4px;padding:0px;}"
                       "QListWidget::item:hover{background:transparent;}"
                       "QListWidget::item:selected{background:transparent;}"));
    const QString open = SessionManager::instance()->session().filePath;
    const QStringList recent = SessionManager::instance()->recentFiles();
    for (const QString& path : recent) {
        auto* item = new QListWidgetItem(setsList);
        const QString name = SidePanelText::setName(path);
        item->setText(name);
        item->setData(SessionDelegate::kPathRole, path);
        item->setData(SessionDelegate::kNameRole, name);
        item->setData(SessionDelegate::kFolderRole, SidePanelText::setFolder(path));
        item->setData(SessionDelegate::kCurrentRole, path == open);
        item->setData(SessionDelegate::kMissingRole, !QFileInfo::exists(path));
    }
    if (recent.isEmpty()) {
        auto* item = new QListWidgetItem(QStringLiteral("No recent sessions"), setsList);
        item->setFlags(Qt::NoItemFlags);
        item->setForeground(ThemeManager::instance()->colors().textMuted);
        item->setSizeHint(QSize(0, 40));
    }
    QAbstractItemDelegate* old = setsList->itemDelegate();
    setsList->setItemDelegate(new SessionDelegate(setsList));
    if (old && old->parent() == setsList)
        delete old;
}

// Opening a set replaces the session: unsaved changes are asked about first,
// and a cancelled or failed save stops the opening.
void MainWindow::openSetFromList(const QString& path, bool checkExists)
{
    if (path.isEmpty())
        return;
    if (checkExists && !FileCheck::isRegularFile(path))
        return;
    if (!confirmUnsavedChanges())
        return;
    SessionManager::instance()->loadSession(path);
}

void MainWindow::showSetsMenu(const QPoint& pos)
{
    QListWidgetItem* item = setsList ? setsList->itemAt(pos) : nullptr;
    if (!item)
        return;
    const QString path = item->data(SessionDelegate::kPathRole).toString();
    QMenu menu;
    QAction* open = menu.addAction(QStringLiteral("📂 Open"));
    QAction* remove = menu.addAction(QStringLiteral("🗑️ Remove from list"));
    QAction* chosen = Modal::execMenu(&menu, setsList->mapToGlobal(pos));
    if (chosen == open) {
        openSetFromList(path, false);
    } else if (chosen == remove) {
        QStringList recent = SettingsKeys::read(SettingsKeys::RecentFiles).toStringList();
        recent.removeAll(path);
        AppSettings().setValue(SettingsKeys::RecentFiles, recent);
        delete setsList->takeItem(setsList->row(item));
    }
}

// --- Right panel -----------------------------------------------------------------

QWidget* MainWindow::buildRightPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("rightPanel"));
    panel->setMinimumWidth(220);
    panel->setMaximumWidth(340);
    panel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    panel->setAcceptDrops(true);
    panel->installEventFilter(this);
    rightPanel = panel;
    auto* outer = new QVBoxLayout(panel);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* scroll = new QScrollArea(panel);
    scroll->setObjectName(QStringLiteral("rightPanelScroll"));
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setStyleSheet(QStringLiteral("QScrollArea{background:transparent;border:none;}"));
    outer->addWidget(scroll);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("rightPanelContent"));
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    scroll->setWidget(content);

    buildNowPlayingHeader(content, v);
    QPushButton* allBtn = nullptr;
    QPushButton* listBtn = nullptr;
    buildMusicPageBar(content, v, allBtn, listBtn);
    buildMusicDeviceRow(content, v);
    QLineEdit* search = buildMusicSearchRow(content, v);
    QPushButton* addAll = nullptr;
    QPushButton* clearList = nullptr;
    buildAutoMixBar(content, v, addAll, clearList);
    buildMusicLists(panel, v);

    autoMixIndex = -1;
    musicId.clear();
    playlistPaths.clear();
    pendingPlaylistFolders.clear();

    // The page shown (true while PLAYLIST is) is shared by the page buttons and the hooks.
    const auto playlistMode = std::make_shared<bool>(false);
    installMusicListHooks(playlistMode);

    connectMusicSearch(search);
    connectPlaylistButtons(addAll, clearList);
    connectMusicPageButtons(allBtn, listBtn, playlistMode);
    watchLibraryScans(playlistMode);
    buildEventLogPanel(content, v);
    connectMusicPlayer();
    return panel;
}

void MainWindow::buildNowPlayingHeader(QWidget* content, QVBoxLayout* v)
{
    // Header and the now-playing bar.
    auto* header = new QWidget(content);
    header->setObjectName(QStringLiteral("panelHdr"));
    header->setFixedHeight(32);
    auto* hh = new QHBoxLayout(header);
    hh->setContentsMargins(12, 0, 8, 0);
    hh->setSpacing(0);   // the stretch parts the title and the count
    auto* headerLabel = new QLabel(QStringLiteral("NOW PLAYING"), header);
    headerLabel->setObjectName(QStringLiteral("panelHdrLbl"));
    hh->addWidget(headerLabel);
    v->addWidget(header);
    // The list's count sits at the right of this header, where it has room
    // at every width of the panel; the page bar below has none to spare.
    auto* countLabel = new WholeTextLabel(QStringLiteral("0 tracks"), header);
    countLabel->setReservedText(QStringLiteral("8888 tracks"));
    musicCountLabel = countLabel;
    followTheme(countLabel, [countLabel](const ThemeColors& c) {
        countLabel->setStyleSheet(
            QStringLiteral("color:%1;font-size:9px;letter-spacing:0.5px;").arg(c.textSecondary.name()));
    });
    hh->addStretch();
    hh->addWidget(countLabel);
    nowPlayingBar = new NowPlayingBar(content);
    nowPlayingBar->setFixedHeight(160);
    connect(nowPlayingBar, &NowPlayingBar::stopClicked, this, &MainWindow::onTransportStop);
    v->addWidget(nowPlayingBar);
}

void MainWindow::buildMusicPageBar(QWidget* content, QVBoxLayout* v, QPushButton*& allBtn, QPushButton*& listBtn)
{
    // Page bar.
    auto* pageBar = new QWidget(content);
    pageBar->setObjectName(QStringLiteral("panelHdr"));
    pageBar->setFixedHeight(36);
    auto* pb = new QHBoxLayout(pageBar);
    pb->setContentsMargins(6, 0, 6, 0);
    pb->setSpacing(2);
    allBtn = new QPushButton(QStringLiteral("ALL MUSIC"), pageBar);
    allBtn->setCheckable(true);
    allBtn->setChecked(true);
    allBtn->setFixedHeight(22);
    allBtn->setObjectName(QStringLiteral("panelTabBtn"));
    listBtn = new QPushButton(QStringLiteral("  PLAYLIST"), pageBar);
    followTheme(listBtn, [listBtn](const ThemeColors& c) { listBtn->setIcon(tintedIcon(kListPlay, c.text, 14)); });
    listBtn->setIconSize(QSize(14, 14));
    listBtn->setCheckable(true);
    listBtn->setFixedHeight(22);
    listBtn->setObjectName(QStringLiteral("panelTabBtn"));
    auto* resetBtn = iconButton(pageBar, "resetMusicBtn", kUndo, 11, QSize(18, 18), true);
    resetBtn->setToolTip(QStringLiteral("Reset — stop and clear the current ALL MUSIC track"));
    followTheme(resetBtn, [resetBtn](const ThemeColors& c) {
        resetBtn->setStyleSheet(QStringLiteral("QPushButton#resetMusicBtn{  background:") + c.accentPressed.name()
                                + QStringLiteral(";  border:none;  border-radius:3px;}QPushButton#resetMusicBtn:hover{  "
                                                 "background:")
                                + c.accent.name()
                                + QStringLiteral(";}QPushButton#resetMusicBtn:pressed{  background:")
                                + c.accentPressed.darker(120).name() + QStringLiteral(";}"));
    });
    connect(resetBtn, &QPushButton::clicked, this, &MainWindow::stopMusicOnly);
    pb->addWidget(allBtn);
    pb->addWidget(listBtn);
    pb->addStretch();
    pb->addWidget(resetBtn);
    v->addWidget(pageBar);
}

void MainWindow::buildMusicDeviceRow(QWidget* content, QVBoxLayout* v)
{
    // Device row.
    auto* devRow = new QWidget(content);
    auto* dr = new QHBoxLayout(devRow);
    dr->setContentsMargins(6, 2, 6, 2);
    dr->setSpacing(6);
    auto* phones = new QLabel(devRow);
    followTheme(phones, [phones](const ThemeColors& c) {
        phones->setPixmap(VXIcons::modernPixmap(VXIcons::strokeSvg(kHeadphones, 2.0), c.text, 15));
    });
    phones->setStyleSheet(QStringLiteral("background:transparent;"));
    phones->setFixedWidth(20);
    auto* chooser = new OutputChooser(devRow);
    musicDevCombo = chooser;
    musicDevCombo->setObjectName(QStringLiteral("musicDevComboBox"));
    musicDevCombo->setFixedHeight(24);
    // A long device name must not widen the panel past its scroll area.
    musicDevCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    musicDevCombo->setMinimumContentsLength(8);
    musicDevCombo->addItem(QStringLiteral("🔊 Follow Main Output"), QString());
    chooser->addOutputs(OutputChoices::outputs(), SidePanelText::kDeviceChars);
    ScreenFit::showAllEntries(musicDevCombo);
    QComboBox* devCombo = musicDevCombo;
    followTheme(devCombo, [devCombo](const ThemeColors& c) {
        const QIcon devIcon = VXIcons::modern(VXIcons::strokeSvg(kHeadphones, 2.0), c.text, 14);
        for (int i = 1; i < devCombo->count(); ++i)
            devCombo->setItemIcon(i, devIcon);
    });
    const int saved = musicDevCombo->findData(SettingsKeys::readString(SettingsKeys::LibraryOutputDevice));
    if (saved >= 0)
        musicDevCombo->setCurrentIndex(saved);
    connect(musicDevCombo, &QComboBox::currentIndexChanged, this, [this](int) {
        AppSettings().setValue(SettingsKeys::LibraryOutputDevice, musicDevCombo->currentData().toString());
    });
    auto* clearLib = iconButton(devRow, "clearLibraryBtn", kCross, 11, QSize(20, 20));
    clearLib->setToolTip(QStringLiteral("Remove all library tracks/folders"));
    followTheme(clearLib, [clearLib](const ThemeColors& c) {
        clearLib->setStyleSheet(
            QStringLiteral("QPushButton#clearLibraryBtn{  background:transparent;  border:1px solid ")
            + c.textMuted.name() + QStringLiteral(";  border-radius:3px;}QPushButton#clearLibraryBtn:hover{  background:")
            + c.accent.name() + QStringLiteral(";  border-color:") + c.accent.name()
            + QStringLiteral(";}QPushButton#clearLibraryBtn:pressed{  background:") + c.accentPressed.name()
            + QStringLiteral(";}"));
    });
    connect(clearLib, &QPushButton::clicked, this, &MainWindow::clearLibraryFromPanel);
    dr->addWidget(phones);
    dr->addWidget(musicDevCombo, 1);
    dr->addWidget(clearLib);
    v->addWidget(devRow);
}

QLineEdit* MainWindow::buildMusicSearchRow(QWidget* content, QVBoxLayout* v)
{
    // Search row.
    auto* searchRow = new QWidget(content);
    auto* sr = new QHBoxLayout(searchRow);
    sr->setContentsMargins(6, 4, 6, 2);
    auto* search = new QLineEdit(searchRow);
    search->setPlaceholderText(QStringLiteral("🔍 Search music..."));
    search->setObjectName(QStringLiteral("searchBox"));
    search->setFixedHeight(26);
    sr->addWidget(search);
    v->addWidget(searchRow);
    return search;
}

void MainWindow::buildAutoMixBar(QWidget* content, QVBoxLayout* v, QPushButton*& addAll, QPushButton*& clearList)
{
    // Auto-Mix bar.
    autoMixBar = new QWidget(content);
    autoMixBar->setFixedHeight(32);
    auto* ab = new QHBoxLayout(autoMixBar);
    ab->setContentsMargins(6, 3, 6, 3);
    ab->setSpacing(3);
    autoMixBtn = iconButton(autoMixBar, "amBtn", kPlay, 16, QSize(30, 26));
    autoMixBtn->setCheckable(true);
    QPushButton* mixBtn = autoMixBtn;
    followTheme(mixBtn, [mixBtn](const ThemeColors& c) {
        mixBtn->setStyleSheet(QStringLiteral("QPushButton#amBtn{background:transparent;border:1px solid %1;"
                                             "border-radius:4px;padding:0;}QPushButton#amBtn:checked{background:%2;"
                                             "border-color:%2;}QPushButton#amBtn:hover{border-color:%2;}")
                                  .arg(c.border.name(), c.accent.name()));
    });
    musicFadeCombo = new QComboBox(autoMixBar);
    musicFadeCombo->setObjectName(QStringLiteral("gridHeaderCombo"));
    musicFadeCombo->setFixedSize(68, 24);
    musicFadeCombo->addItems({QStringLiteral("2s fade"), QStringLiteral("1s fade"), QStringLiteral("3s fade"),
                              QStringLiteral("No fade")});
    addAll = iconButton(autoMixBar, "amBtn", kListAdd, 16, QSize(30, 26));
    clearList = iconButton(autoMixBar, "amBtn", kCross, 14, QSize(26, 26));
    for (QPushButton* b : {addAll, clearList}) {
        followTheme(b, [b](const ThemeColors& c) {
            b->setStyleSheet(QStringLiteral("QPushButton#amBtn{background:transparent;border:1px solid %1;"
                                            "border-radius:4px;padding:0;}QPushButton#amBtn:hover{border-color:%2;"
                                            "background:transparent;}")
                                 .arg(c.border.name(), c.accent.name()));
        });
    }
    ab->addWidget(autoMixBtn);
    ab->addWidget(musicFadeCombo);
    ab->addStretch(1);
    ab->addWidget(addAll);
    ab->addWidget(clearList);
    autoMixBar->hide();
    v->addWidget(autoMixBar);
}

// The lists and their pages: ALL MUSIC (or its hint when empty) and the
// PLAYLIST (or its hint).
void MainWindow::buildMusicLists(QWidget* panel, QVBoxLayout* v)
{
    musicList = new QListWidget(panel);
    musicList->setFrameShape(QFrame::NoFrame);
    musicList->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    musicList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    musicList->setAlternatingRowColors(true);
    styleMusicList(musicList);
    musicList->setUniformItemSizes(true);
    musicList->setSelectionMode(QAbstractItemView::SingleSelection);
    musicList->setDragEnabled(true);
    // The mode also clears the drop flag: it goes first, the drops after.
    musicList->setDragDropMode(QAbstractItemView::NoDragDrop);
    musicList->setAcceptDrops(true);
    musicList->viewport()->setAcceptDrops(true);
    musicList->installEventFilter(this);
    musicList->viewport()->installEventFilter(this);
    auto* delegate = new MusicItemDelegate(musicList);
    musicList->setItemDelegate(delegate);
    musicList->setContextMenuPolicy(Qt::CustomContextMenu);

    playlistList = new QListWidget(panel);
    playlistList->setFrameShape(QFrame::NoFrame);
    playlistList->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    playlistList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    playlistList->setItemDelegate(delegate);
    playlistList->setAlternatingRowColors(true);
    styleMusicList(playlistList);
    playlistList->setUniformItemSizes(true);
    playlistList->setAcceptDrops(true);
    playlistList->viewport()->setAcceptDrops(true);
    playlistList->installEventFilter(this);
    playlistList->viewport()->installEventFilter(this);

    auto* playlistHint = new QLabel(QStringLiteral("No tracks in playlist.\nRight-click any track → Add to "
                                                   "Playlist\nor click +List to add all tracks."),
                                    panel);
    playlistHint->setAlignment(Qt::AlignCenter);
    playlistHint->setWordWrap(true);
    followTheme(playlistHint, [playlistHint](const ThemeColors& c) {
        playlistHint->setStyleSheet(
            QStringLiteral("color:%1;font-size:10px;padding:16px;").arg(c.textSecondary.name()));
    });
    musicEmptyHint = new QLabel(QStringLiteral("Add folders in the Library tab\nor drag a folder / audio files here"),
                                panel);
    musicEmptyHint->setAlignment(Qt::AlignCenter);
    QLabel* emptyHint = musicEmptyHint;
    followTheme(emptyHint, [emptyHint](const ThemeColors& c) {
        emptyHint->setStyleSheet(QStringLiteral("color:%1;font-size:10px;").arg(c.textSecondary.name()));
    });
    musicEmptyHint->setAcceptDrops(true);
    musicEmptyHint->installEventFilter(this);
    musicStack = new QStackedWidget(panel);
    musicStack->addWidget(musicList);
    musicStack->addWidget(musicEmptyHint);
    musicStack->addWidget(playlistList);
    musicStack->addWidget(playlistHint);
    musicStack->setCurrentIndex(0);
    v->addWidget(musicStack, 1);
}

void MainWindow::connectMusicSearch(QLineEdit* search)
{
    connect(search, &QLineEdit::textChanged, this, [this](const QString& text) {
        int shown = 0;
        for (int r = 0; r < musicList->count(); ++r) {
            QListWidgetItem* item = musicList->item(r);
            const bool match = text.isEmpty() || item->text().contains(text, Qt::CaseInsensitive);
            item->setHidden(!match);
            shown += match;
        }
        musicCountLabel->setText(text.isEmpty() ? QStringLiteral("%1 tracks").arg(musicList->count())
                                                : QStringLiteral("%1/%2").arg(shown).arg(musicList->count()));
        // The first hits, not the rows that sat where the list was scrolled:
        // laid out now, or the pending layout would put the old place back.
        musicList->doItemsLayout();
        musicList->scrollToTop();
    });
}

void MainWindow::connectPlaylistButtons(QPushButton* addAll, QPushButton* clearList)
{
    connect(addAll, &QPushButton::clicked, this, [this] {
        for (int r = 0; r < musicList->count(); ++r) {
            QListWidgetItem* item = musicList->item(r);
            if (item->isHidden())
                continue;
            item->setData(MusicItemDelegate::kInPlaylistRole, true);
            playlistPaths.insert(item->data(Qt::UserRole).toString());
        }
        musicList->viewport()->update();
        // The button sits on the PLAYLIST page: that page shows the tracks at once.
        if (refreshPlaylist)
            refreshPlaylist();
        autoMixBtn->setChecked(true);
    });
    connect(clearList, &QPushButton::clicked, this, [this] {
        autoMixBtn->setChecked(false);
        autoMixIndex = -1;
        for (int r = 0; r < musicList->count(); ++r) {
            musicList->item(r)->setData(MusicItemDelegate::kInPlaylistRole, false);
            musicList->item(r)->setData(MusicItemDelegate::kPlayingRole, false);
        }
        playlistPaths.clear();
        musicList->viewport()->update();
        if (refreshPlaylist)
            refreshPlaylist();
    });
}

void MainWindow::connectMusicPageButtons(QPushButton* allBtn, QPushButton* listBtn,
                                         const std::shared_ptr<bool>& playlistMode)
{
    connect(allBtn, &QPushButton::clicked, this, [this, allBtn, listBtn, playlistMode] {
        allBtn->setChecked(true);
        listBtn->setChecked(false);
        *playlistMode = false;
        autoMixBar->hide();
        for (int r = 0; r < musicList->count(); ++r) {
            QListWidgetItem* item = musicList->item(r);
            item->setData(MusicItemDelegate::kInPlaylistRole, playlistPaths.contains(item->data(Qt::UserRole).toString()));
        }
        musicList->viewport()->update();
        showAllMusicPage();
        musicCountLabel->setText(QStringLiteral("%1 tracks").arg(musicList->count()));
    });
    connect(listBtn, &QPushButton::clicked, this, [this, allBtn, listBtn, playlistMode] {
        allBtn->setChecked(false);
        listBtn->setChecked(true);
        *playlistMode = true;
        autoMixBar->show();
        if (refreshPlaylist)
            refreshPlaylist();
        musicCountLabel->setText(QStringLiteral("%1 in playlist").arg(playlistList->count()));
    });
}

// The library's scans refresh what ALL MUSIC shows (and the playlist of a
// dropped folder); a poll fills a list nobody has filled yet during the first
// minute.
void MainWindow::watchLibraryScans(const std::shared_ptr<bool>& playlistMode)
{
    LibraryManager* library = LibraryManager::instance();
    musicScanDebounce = new QTimer(this);
    musicScanDebounce->setSingleShot(true);
    musicScanDebounce->setInterval(200);
    connect(musicScanDebounce, &QTimer::timeout, this,
            [this, playlistMode] { refreshShownMusic(*playlistMode); });
    connect(library, &LibraryManager::scanFinished, this, [this](const QString& category, int) {
        musicScanDebounce->start();
        if (!pendingPlaylistFolders.remove(category))
            return;
        for (const LibraryEntry& e : LibraryManager::instance()->entries())
            if (e.category == category)
                playlistPaths.insert(e.filePath);
        if (refreshPlaylist)
            refreshPlaylist();
    });
    // A folder waiting for its scan lets go when that scan is overtaken by a
    // removal or a clear and no later scan of it is on the way: otherwise a
    // later drop of the same folder would land on the playlist.
    connect(library, &LibraryManager::scanDropped, this, [this](const QString& category) {
        if (!LibraryManager::instance()->isScanning(category))
            pendingPlaylistFolders.remove(category);
    });
    libraryPoll = new QTimer(this);
    libraryPoll->setInterval(1000);
    connect(libraryPoll, &QTimer::timeout, this, [this, playlistMode] {
        if (++libraryPollTicks >= 61)
            libraryPoll->stop();
        if (!musicList || !musicStack)
            return;
        // The poll only fills a list nobody has filled yet: a folder click or
        // a search is what the user asked for and stays.
        if (musicList->count() == 0 && !musicListChosen() && !LibraryManager::instance()->entries().isEmpty()
            && refreshMusicList)
            refreshMusicList();
        if (!*playlistMode && musicList->count() > 0 && musicStack->currentIndex() == 1)
            musicStack->setCurrentIndex(0);
    });
    libraryPoll->start();
}

void MainWindow::buildEventLogPanel(QWidget* content, QVBoxLayout* v)
{
    eventLog = new EventLog(content);
    eventLog->setMaximumHeight(110);
    v->addWidget(eventLog);
    // The panel shows as the user last left it.
    eventLog->setVisible(SettingsKeys::readBool(SettingsKeys::AdvancedShowLog));
    connect(eventLog, &EventLog::closeRequested, this, [this] {
        eventLog->hide();
        AppSettings().setValue(SettingsKeys::AdvancedShowLog, false);
    });
}

void MainWindow::showAllMusicPage()
{
    if (musicStack && musicList)
        musicStack->setCurrentIndex(musicList->count() == 0 ? 1 : 0);
}

void MainWindow::clearLibraryFromPanel()
{
    LibraryManager* library = LibraryManager::instance();
    if (library->entries().isEmpty()) {
        toast(QStringLiteral("Library is already empty"), ToastManager::Info, 1400);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Remove All Library"),
                    QStringLiteral("Remove ALL folders and tracks from the library?\n\nThis clears ALL MUSIC and "
                                   "the PLAYLIST — it does not delete any files from disk."),
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Cancel);
    if (Modal::execBox(&box) != QMessageBox::Yes)
        return;
    stopMusicOnly();
    playlistPaths.clear();
    library->clearAll();
    if (refreshPlaylist)
        refreshPlaylist();
    if (eventLog)
        eventLog->log(QStringLiteral("Library"), QStringLiteral("Removed all library tracks"), QStringLiteral("warn"));
    toast(QStringLiteral("🗑️  Library cleared"), ToastManager::Warning, 1800);
}
