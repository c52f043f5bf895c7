// The left panel's LIBRARY page: the library folders as a tree, a click or
// a search fills ALL MUSIC, and a menu to open, rescan or remove folders.
#include "MainWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "EventLog.h"
#include "LibraryManager.h"
#include "Modal.h"
#include "SidePanelText.h"
#include "ThemeFollow.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace {

QString keyOf(const QTreeWidgetItem* row)
{
    return row->data(0, Qt::UserRole).toString();
}

QString folderOf(const QTreeWidgetItem* row)
{
    return row->data(0, Qt::UserRole + 1).toString();
}

// What the music list shows after a click on row (placeMusicListFor).
QString folderView(const QTreeWidgetItem* row)
{
    return QStringLiteral("folder\n%1\n%2").arg(keyOf(row), folderOf(row));
}

const QString kSearchView = QStringLiteral("search\n");

// The tree's top row of a library root (or of All Music), or null.
QTreeWidgetItem* topRowFor(const QTreeWidget* tree, const QString& key)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (keyOf(tree->topLevelItem(i)) == key)
            return tree->topLevelItem(i);
    return nullptr;
}

const QTreeWidgetItem* rootOf(const QTreeWidgetItem* row)
{
    while (row->parent())
        row = row->parent();
    return row;
}

// Lays the row's two widgets side by side when both fit whole at the row's
// width, else the second one under the first.
class WrapWhenNarrow : public QObject
{
public:
    WrapWhenNarrow(QWidget* row, QWidget* first, QWidget* second) : QObject(row), m_first(first), m_second(second) {}

    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() != QEvent::Resize)
            return false;
        auto* row = static_cast<QWidget*>(watched);
        auto* grid = static_cast<QGridLayout*>(row->layout());
        const QMargins m = grid->contentsMargins();
        const int need = m.left() + m.right() + grid->horizontalSpacing() + m_first->minimumWidth()
            + m_second->sizeHint().width();
        const bool wrap = row->width() < need;
        int r = 0, c = 0, rs = 0, cs = 0;
        grid->getItemPosition(grid->indexOf(m_second), &r, &c, &rs, &cs);
        if (wrap != (r == 1)) {
            grid->removeWidget(m_second);
            if (wrap)
                grid->addWidget(m_second, 1, 0);
            else
                grid->addWidget(m_second, 0, 1);
        }
        return false;
    }

private:
    QWidget* m_first;
    QWidget* m_second;
};

} // namespace

// Every sub-folder below path, parents before their children, each folder's
// own sub-folders by name. Hidden folders and links to folders are left out:
// a link back to a parent would make the walk endless. Runs on any thread.
QList<MainWindow::SubFolder> MainWindow::listSubFolders(const QString& path)
{
    QList<SubFolder> out;
    QList<int> pending{-1};
    QList<QString> pendingPaths{path};
    while (!pending.isEmpty()) {
        const int parent = pending.takeLast();
        const QString folder = pendingPaths.takeLast();
        const QFileInfoList subs =
            QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
        const int first = int(out.size());
        for (const QFileInfo& fi : subs)
            out.append(SubFolder{parent, fi.fileName(), fi.absoluteFilePath()});
        for (int i = int(out.size()) - 1; i >= first; --i) {
            pending.append(i);
            pendingPaths.append(out.at(i).path);
        }
    }
    return out;
}

void MainWindow::buildLibraryPage(QStackedWidget* stack)
{
    auto* page = new QWidget(stack);
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    // The search box and the button share a row while both fit whole; in a
    // narrow panel the button wraps below the box.
    auto* top = new QWidget(page);
    top->setObjectName(QStringLiteral("libTop"));
    auto* h = new QGridLayout(top);
    h->setContentsMargins(4, 2, 4, 2);
    h->setSpacing(4);
    libSearchBox = new QLineEdit(top);
    libSearchBox->setPlaceholderText(QStringLiteral("🔍 Search..."));
    libSearchBox->setObjectName(QStringLiteral("searchBox"));
    libSearchBox->setFixedHeight(26);
    connect(libSearchBox, &QLineEdit::textChanged, this, &MainWindow::onLibSearch);
    auto* add = new QPushButton(QStringLiteral("Add Folder"), top);
    add->setObjectName(QStringLiteral("tgBtn"));
    add->setFixedHeight(26);
    followTheme(add, [add](const ThemeColors& c) {
        add->setIcon(VXIcons::modern(
            VXIcons::strokeSvg(
                QStringLiteral("<line x1='12' y1='5' x2='12' y2='19'/><line x1='5' y1='12' x2='19' y2='12'/>"), 2.4),
            c.text, 14));
    });
    connect(add, &QPushButton::clicked, this, &MainWindow::onLibAddFolder);
    // Room for the whole placeholder, icon and margins included.
    libSearchBox->setMinimumWidth(libSearchBox->fontMetrics().horizontalAdvance(libSearchBox->placeholderText()) + 40);
    h->addWidget(libSearchBox, 0, 0);
    h->addWidget(add, 0, 1);
    top->installEventFilter(new WrapWhenNarrow(top, libSearchBox, add));
    v->addWidget(top);

    libraryTree = new QTreeWidget(page);
    libraryTree->setHeaderHidden(true);
    libraryTree->setFrameShape(QFrame::NoFrame);
    libraryTree->setIndentation(16);
    libraryTree->setAnimated(true);
    libraryTree->setContextMenuPolicy(Qt::CustomContextMenu);
    QTreeWidget* tree = libraryTree;
    followTheme(tree, [tree](const ThemeColors& c) {
        tree->setStyleSheet(
            QStringLiteral("QTreeWidget{background:transparent;outline:none;border:none;}"
                           "QTreeWidget::item{padding:3px 4px;border-radius:3px;font-size:11px;}"
                           "QTreeWidget::item:selected{background:")
            + c.accent.name() + QStringLiteral(";color:") + ThemeManager::readableOn(c.text, {c.accent}).name()
            + QStringLiteral(";}QTreeWidget::item:hover:!selected{background:") + c.surfaceAlt.name()
            + QStringLiteral(";}QTreeWidget::branch:has-children:!has-siblings:closed,QTreeWidget::branch:closed:"
                             "has-children:has-siblings{  border-image:none; image:url(none);}QTreeWidget::branch:"
                             "open:has-children:!has-siblings,QTreeWidget::branch:open:has-children:has-siblings{  "
                             "border-image:none; image:url(none);}"));
    });
    connect(libraryTree, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { onDirTreeItemClicked(item, 0); });
    connect(libraryTree, &QTreeWidget::customContextMenuRequested, this, &MainWindow::showLibraryTreeMenu);
    // One handler for every root, however often the tree is rebuilt.
    connect(LibraryManager::instance(), &LibraryManager::scanFinished, libraryTree,
            [this](const QString& category, int count) { onLibraryScanFinished(category, count); },
            Qt::QueuedConnection);
    v->addWidget(libraryTree, 1);
    stack->addWidget(page);
}

void MainWindow::addFolderToTree(const QString& name, const QString& path)
{
    if (!libraryTree || topRowFor(libraryTree, name))
        return;
    auto* root = new QTreeWidgetItem(libraryTree);
    root->setText(0, QStringLiteral("📁 ") + name);
    root->setData(0, Qt::UserRole, name);
    root->setData(0, Qt::UserRole + 1, path);
    root->setExpanded(true);

    // A big folder takes seconds to list: the walk runs on the pool, and the
    // window keeps answering meanwhile.
    ++folderTreeWalks;
    auto* watcher = new QFutureWatcher<QList<SubFolder>>(this);
    connect(watcher, &QFutureWatcher<QList<SubFolder>>::finished, this, [this, watcher, name, path] {
        watcher->deleteLater();
        --folderTreeWalks;
        fillFolderTree(name, path, watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(listSubFolders, path));
}

// The walk's result goes to the root row it was made for, when the tree still
// holds that row and nobody has filled it since (the tree may have been
// rebuilt meanwhile, with a walk of its own).
void MainWindow::fillFolderTree(const QString& name, const QString& path, const QList<SubFolder>& subs)
{
    if (!libraryTree || subs.isEmpty())
        return;
    QTreeWidgetItem* root = nullptr;
    for (int i = 0; i < libraryTree->topLevelItemCount() && !root; ++i) {
        QTreeWidgetItem* row = libraryTree->topLevelItem(i);
        if (keyOf(row) == name && folderOf(row) == path)
            root = row;
    }
    if (!root || root->childCount() > 0)
        return;
    QList<QTreeWidgetItem*> made;
    made.reserve(subs.size());
    for (const SubFolder& sub : subs) {
        QTreeWidgetItem* parent = sub.parent < 0 ? root : made.at(sub.parent);
        auto* child = new QTreeWidgetItem;
        child->setText(0, QStringLiteral("📁 ") + sub.name);
        child->setData(0, Qt::UserRole, keyOf(parent) + QLatin1Char('/') + sub.name);
        child->setData(0, Qt::UserRole + 1, sub.path);
        made.append(child);
    }
    // Children join their parents deepest first, so each branch enters the
    // tree whole: the view hears of one insertion for the root's own rows.
    QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> kids;
    for (int i = 0; i < subs.size(); ++i)
        kids[subs.at(i).parent < 0 ? root : made.at(subs.at(i).parent)].append(made.at(i));
    for (int i = int(subs.size()) - 1; i >= 0; --i) {
        if (const auto it = kids.constFind(made.at(i)); it != kids.cend())
            made.at(i)->addChildren(*it);
    }
    root->addChildren(kids.value(root));
    root->setExpanded(true);
}

// The root's row shows the count its scan found. What the music list shows
// stays as the user chose it: the scan debounce refreshes it in place.
void MainWindow::onLibraryScanFinished(const QString& category, int count)
{
    if (QTreeWidgetItem* row = libraryTree ? topRowFor(libraryTree, category) : nullptr)
        row->setText(0, QStringLiteral("📁 %1  (%2)").arg(category).arg(count));
}

void MainWindow::onDirTreeItemClicked(QTreeWidgetItem* item, int column)
{
    Q_UNUSED(column);
    if (!musicList || !item)
        return;
    const QString key = keyOf(item);
    const QString folder = folderOf(item);
    LibraryManager* library = LibraryManager::instance();
    QList<LibraryEntry> chosen;
    if (key.isEmpty() || key == QLatin1String("__all__")) {
        chosen = library->entries();
    } else if (folder.isEmpty()) {
        chosen = library->entriesForCategory(key);
    } else {
        const QString slash = folder + QLatin1Char('/');
        const QString backslash = folder + QLatin1Char('\\');
        const QString keySlash = key + QLatin1Char('/');
        for (const LibraryEntry& e : library->entries()) {
            if (e.filePath.startsWith(slash) || e.filePath.startsWith(backslash)
                || e.filePath.compare(folder, Qt::CaseInsensitive) == 0 || e.category == key
                || e.category.startsWith(keySlash))
                chosen << e;
        }
    }
    setMusicRows(musicList, chosen, [this](const LibraryEntry& e) {
        return playlistPaths.contains(e.filePath) ? PlaylistFlag::In : PlaylistFlag::Out;
    });
    placeMusicListFor(folderView(item));
    if (musicCountLabel)
        musicCountLabel->setText(QStringLiteral("%1 tracks").arg(musicList->count()));
}

void MainWindow::placeMusicListFor(const QString& view)
{
    if (view != musicListView)
        musicList->scrollToTop();
    musicListView = view;
}

void MainWindow::onLibSearch(const QString& text)
{
    if (!musicList)
        return;
    if (!text.isEmpty()) {
        // Search rows carry no playlist flag.
        setMusicRows(musicList, LibraryManager::instance()->search(text), {});
        placeMusicListFor(kSearchView + text);
        if (musicCountLabel)
            musicCountLabel->setText(QStringLiteral("%1 tracks found").arg(musicList->count()));
        return;
    }
    if (libraryTree && libraryTree->currentItem()) {
        onDirTreeItemClicked(libraryTree->currentItem(), 0);
        return;
    }
    if (refreshMusicList)
        refreshMusicList();
    if (musicStack && musicList && musicList->count() > 0)
        musicStack->setCurrentIndex(0);
}

void MainWindow::refreshShownMusic(bool playlistMode)
{
    if (!musicList)
        return;
    QTreeWidgetItem* row = libraryTree ? libraryTree->currentItem() : nullptr;
    const bool folderShown = row && musicListView == folderView(row);
    const bool searchShown = musicListView.startsWith(kSearchView);
    if (!folderShown && !searchShown) {
        if (refreshMusicList)
            refreshMusicList();
        return;
    }
    if (searchShown)
        onLibSearch(musicListView.mid(kSearchView.size()));
    else
        onDirTreeItemClicked(row, 0);
    relabelLibraryRoots(LibraryManager::instance()->entries());
    if (playlistMode) {
        // The PLAYLIST page keeps its rows and its label.
        if (refreshPlaylist)
            refreshPlaylist();
    } else if (musicStack && musicList->count() > 0) {
        musicStack->setCurrentIndex(0);
    }
}

bool MainWindow::musicListChosen() const
{
    if (libSearchBox && !libSearchBox->text().isEmpty())
        return true;
    const QTreeWidgetItem* row = libraryTree ? libraryTree->currentItem() : nullptr;
    return row && !keyOf(row).isEmpty() && keyOf(row) != QLatin1String("__all__");
}

void MainWindow::onLibAddFolder()
{
    const QString folder = Modal::getExistingDirectory(this, QStringLiteral("Add Library Folder"), QString());
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return;
    LibraryManager* library = LibraryManager::instance();
    const QString category = SidePanelText::libraryCategoryFor(*library, folder);
    library->addFolder(folder, category);
    addFolderToTree(category, folder);
    // The added folder becomes the tree's choice and shows at once, filled
    // in place as its scan ends; a search under way keeps the list.
    if (QTreeWidgetItem* row = libraryTree ? topRowFor(libraryTree, category) : nullptr) {
        libraryTree->setCurrentItem(row);
        if (!libSearchBox || libSearchBox->text().isEmpty())
            onDirTreeItemClicked(row, 0);
    }
    if (eventLog)
        eventLog->log(QStringLiteral("Library"), QStringLiteral("Added folder: ") + category, QStringLiteral("ok"));
}

void MainWindow::showLibraryTreeMenu(const QPoint& pos)
{
    QTreeWidgetItem* row = libraryTree->itemAt(pos);
    QMenu menu;
    menu.setStyleSheet(vxMenuSS());
    const QPoint global = libraryTree->viewport()->mapToGlobal(pos);
    LibraryManager* library = LibraryManager::instance();
    if (!row) {
        QAction* add = menu.addAction(QStringLiteral("📂 Add Folder"));
        if (Modal::execMenu(&menu, global) == add)
            onLibAddFolder();
        return;
    }
    const QString key = keyOf(row);
    if (key == QLatin1String("__all__")) {
        QAction* refresh = menu.addAction(QStringLiteral("🔄 Refresh All"));
        if (Modal::execMenu(&menu, global) == refresh)
            library->reloadAll();
        return;
    }
    const QString folder = folderOf(row);
    // A sub-folder row belongs to its root: that is what the library can rescan.
    const QString rootKey = keyOf(rootOf(row));
    const bool topLevel = !row->parent();
    QAction* open = menu.addAction(QStringLiteral("📂 Open in Explorer"));
    QAction* rescan = menu.addAction(QStringLiteral("🔄 Rescan Folder"));
    menu.addSeparator();
    QAction* remove = menu.addAction(QStringLiteral("🗑  Remove Folder"));
    remove->setEnabled(topLevel);
    QAction* chosen = Modal::execMenu(&menu, global);
    if (chosen == open) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    } else if (chosen == rescan) {
        const QString rootFolder = library->folderPath(rootKey);
        if (rootFolder.isEmpty())
            return;
        library->removeFolder(rootKey);
        library->addFolder(rootFolder, rootKey);
    } else if (chosen == remove && topLevel) {
        library->removeFolder(key);
        delete libraryTree->takeTopLevelItem(libraryTree->indexOfTopLevelItem(row));
        if (musicList)
            musicList->clear();
        if (musicCountLabel)
            musicCountLabel->setText(QStringLiteral("0 tracks"));
    }
}
