// The left panel's ONLINE page: the online library's folders and files, a
// filter, a one-click preview and downloads into the local library.
#include "MainWindow.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QUuid>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "AudioEngine.h"
#include "LibraryManager.h"
#include "Modal.h"
#include "OnlineLibraryManager.h"
#include "ThemeFollow.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace {

enum OnlineRole { UrlRole = Qt::UserRole, NameRole = Qt::UserRole + 1, LabelRole = Qt::UserRole + 2 };

// The row's label: the name, then "  [m:ss]" when a length is known.
QString onlineLabel(const OnlineFile& f)
{
    const qint64 secs = qint64(f.duration);
    if (f.duration <= 0)
        return f.name;
    return f.name + QStringLiteral("  [%1:%2]").arg(secs / 60).arg(secs % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QWidget* MainWindow::buildOnlinePage()
{
    OnlineLibraryManager* online = OnlineLibraryManager::instance();

    auto* page = new QWidget(this);
    auto* col = new QVBoxLayout(page);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);

    auto* header = new QWidget(page);
    header->setObjectName(QStringLiteral("panelHdr"));
    header->setFixedHeight(28);
    auto* hrow = new QHBoxLayout(header);
    hrow->setContentsMargins(8, 0, 4, 0);
    auto* title = new QLabel(QStringLiteral("Online Library"), header);
    title->setObjectName(QStringLiteral("panelHdrLbl"));
    hrow->addWidget(title, 1);
    auto* refresh = new QPushButton(header);
    refresh->setFixedSize(26, 26);
    refresh->setObjectName(QStringLiteral("tgBtn"));
    refresh->setToolTip(QStringLiteral("Refresh online library"));
    QFont rf = refresh->font();
    rf.setPixelSize(16);
    refresh->setFont(rf);
    followTheme(refresh, [refresh](const ThemeColors& c) {
        refresh->setIcon(VXIcons::modern(
            VXIcons::strokeSvg(QStringLiteral("<path d='M3 12a9 9 0 1 0 3-6.7'/><polyline points='3 3 3 8 8 8'/>"),
                               2.0),
            c.text, 14));
    });
    refresh->setStyleSheet(QStringLiteral(
        "QPushButton#tgBtn {  background: transparent;  color: #a78bfa;  border: 1px solid #4c3a8a;  "
        "border-radius: 5px;  font-size: 16px;  padding: 0px;}QPushButton#tgBtn:hover {  background: #4c3a8a;  "
        "color: #ffffff;}QPushButton#tgBtn:pressed {  background: #6d28d9;}"));
    hrow->addWidget(refresh);
    col->addWidget(header);

    auto* searchRow = new QWidget(page);
    auto* srow = new QHBoxLayout(searchRow);
    srow->setContentsMargins(6, 4, 6, 4);
    auto* search = new QLineEdit(searchRow);
    search->setPlaceholderText(QStringLiteral("🔍 Search online..."));
    search->setObjectName(QStringLiteral("searchBox"));
    search->setFixedHeight(26);
    srow->addWidget(search);
    col->addWidget(searchRow);

    auto* folderRow = new QWidget(page);
    auto* frow = new QHBoxLayout(folderRow);
    frow->setContentsMargins(6, 2, 6, 2);
    onlineFolderCombo = new QComboBox(folderRow);
    onlineFolderCombo->setObjectName(QStringLiteral("gridHeaderCombo"));
    onlineFolderCombo->addItem(QStringLiteral("All Folders"), QString());
    frow->addWidget(onlineFolderCombo);
    col->addWidget(folderRow);

    onlineList = new QListWidget(page);
    onlineList->setFrameShape(QFrame::NoFrame);
    onlineList->setDragEnabled(true);
    onlineList->setContextMenuPolicy(Qt::CustomContextMenu);
    col->addWidget(onlineList, 1);

    onlineStatusLabel = new QLabel(QStringLiteral("Click ↻ to load online library"), page);
    onlineStatusLabel->setObjectName(QStringLiteral("panelHdrLbl"));
    onlineStatusLabel->setAlignment(Qt::AlignCenter);
    onlineStatusLabel->setStyleSheet(QStringLiteral("font-size:10px;padding:4px;"));
    // A long message (an error with its address) wraps instead of widening
    // the panel.
    onlineStatusLabel->setWordWrap(true);
    onlineStatusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    col->addWidget(onlineStatusLabel);

    connect(refresh, &QPushButton::clicked, this, &MainWindow::onOnlineRefresh);
    connect(online, &OnlineLibraryManager::foldersLoaded, this, [this, online](const QList<OnlineFolder>& folders) {
        // The refill ends on "All Folders" with every file listed, as a
        // change of folder does: the preview stops and the files are asked
        // for once (not once per change of the combo's current item).
        {
            const QSignalBlocker quiet(onlineFolderCombo);
            onlineFolderCombo->clear();
            onlineFolderCombo->addItem(QStringLiteral("All Folders"), QString());
            for (const OnlineFolder& f : folders)
                onlineFolderCombo->addItem(f.displayName, f.name);
        }
        if (!onlinePreviewId.isEmpty())
            stopOnlinePreview();
        onlineStatusLabel->setText(QStringLiteral("%1 folders").arg(folders.size()));
        online->fetchFiles(QString());
    });
    connect(online, &OnlineLibraryManager::filesLoaded, this, [this](const QList<OnlineFile>& files) {
        onlineList->setUpdatesEnabled(false);
        onlineList->clear();
        // Rows are made whole before they join the list: one insertion each.
        const QColor accent = ThemeManager::instance()->colors().accent;
        for (const OnlineFile& f : files) {
            auto* item = new QListWidgetItem;
            item->setData(UrlRole, f.url);
            item->setData(NameRole, f.name);
            item->setData(LabelRole, onlineLabel(f));
            item->setToolTip(f.url);
            styleOnlineRow(item, accent);
            onlineList->addItem(item);
        }
        onlineList->setUpdatesEnabled(true);
        onlineStatusLabel->setText(files.isEmpty() ? QStringLiteral("No files found — check server uploads")
                                                   : QStringLiteral("%1 files online").arg(files.size()));
    });
    connect(onlineList, &QListWidget::itemClicked, this, &MainWindow::onOnlineRowClicked);
    connect(onlineFolderCombo, &QComboBox::currentIndexChanged, this, &MainWindow::onOnlineFolderChosen);
    connect(search, &QLineEdit::textChanged, this, [this](const QString& t) {
        for (int i = 0; i < onlineList->count(); ++i) {
            QListWidgetItem* item = onlineList->item(i);
            item->setHidden(!t.isEmpty() && !item->data(NameRole).toString().contains(t, Qt::CaseInsensitive));
        }
        onlineList->doItemsLayout();
        onlineList->scrollToTop();
    });
    connect(onlineList, &QListWidget::customContextMenuRequested, this, &MainWindow::onOnlineContextMenu);
    connect(online, &OnlineLibraryManager::downloadFinished, this, [this](const QString& path) {
        onlineStatusLabel->setText(QStringLiteral("✓ Saved: ") + QFileInfo(path).fileName());
        LibraryManager::instance()->addFile(path, QStringLiteral("Online Downloads"));
    });
    connect(online, &OnlineLibraryManager::downloadSkipped, this, [this](const QString& path) {
        onlineStatusLabel->setText(QStringLiteral("⏭  Skipped: ") + QFileInfo(path).fileName());
    });
    auto showError = [this](const QString& msg) { onlineStatusLabel->setText(QStringLiteral("⚠ ") + msg); };
    connect(online, &OnlineLibraryManager::downloadError, this, showError);
    connect(online, &OnlineLibraryManager::errorOccurred, this, showError);
    connect(online, &OnlineLibraryManager::previewReady, this, &MainWindow::onOnlinePreviewReady);
    connect(online, &OnlineLibraryManager::previewProgress, this, &MainWindow::onOnlinePreviewProgress);
    connect(online, &OnlineLibraryManager::previewPlayable, this, &MainWindow::onOnlinePreviewPlayable);
    connect(online, &OnlineLibraryManager::previewError, this, [this](const QString& url, const QString& msg) {
        if (url != onlinePreviewUrl || onlinePreviewId.isEmpty())
            return;
        // A preview started on the growing copy loses its file: it ends.
        if (std::exchange(onlinePreviewStreaming, false))
            engines().audioStop(onlinePreviewId);
        onlinePreviewId.clear();
        onlinePreviewUrl.clear();
        restyleOnlineRows();
        onlineStatusLabel->setText(QStringLiteral("⚠ ") + msg);
    });
    // The fetched copy goes when its sound ends; the row keeps its mark.
    connect(AudioEngine::instance(), &AudioEngine::playStopped, this, [this](const QString& id) {
        if (!onlinePreviewFile.isEmpty() && id == onlinePreviewId) {
            QFile::remove(onlinePreviewFile);
            onlinePreviewFile.clear();
        }
    });
    return page;
}

void MainWindow::restyleOnlineRows()
{
    if (!onlineList)
        return;
    const QColor accent = ThemeManager::instance()->colors().accent;
    for (int i = 0; i < onlineList->count(); ++i)
        styleOnlineRow(onlineList->item(i), accent);
}

void MainWindow::styleOnlineRow(QListWidgetItem* item, const QColor& accent)
{
    const bool previewed = !onlinePreviewUrl.isEmpty() && item->data(UrlRole).toString() == onlinePreviewUrl;
    const QString label = item->data(LabelRole).toString();
    if (!label.isEmpty())
        item->setText((previewed ? QStringLiteral("⏹  ") : QStringLiteral("▶  ")) + label);
    QFont f = item->font();
    f.setWeight(previewed ? QFont::Bold : QFont::Normal);
    item->setFont(f);
    item->setForeground(previewed ? QBrush(accent) : QBrush(QColor(QStringLiteral("#cccccc"))));
}

void MainWindow::onOnlineRefresh()
{
    onlineStatusLabel->setText(QStringLiteral("Loading folders..."));
    onlineList->clear();
    OnlineLibraryManager::instance()->fetchFolders();
}

void MainWindow::stopOnlinePreview()
{
    OnlineLibraryManager::instance()->cancelPreview();
    if (!onlinePreviewId.isEmpty())
        engines().audioStop(onlinePreviewId);
    if (!onlinePreviewFile.isEmpty())
        QFile::remove(onlinePreviewFile);
    onlinePreviewId.clear();
    onlinePreviewUrl.clear();
    onlinePreviewFile.clear();
    onlinePreviewStreaming = false;
}

void MainWindow::onOnlineRowClicked(QListWidgetItem* item)
{
    if (!item)
        return;
    const QString url = item->data(UrlRole).toString();
    const QString name = item->data(NameRole).toString();
    if (url == onlinePreviewUrl && !onlinePreviewId.isEmpty()) {
        stopOnlinePreview();
        onlineStatusLabel->setText(QStringLiteral("%1 files online").arg(onlineList->count()));
        restyleOnlineRows();
        return;
    }
    if (!onlinePreviewId.isEmpty())
        stopOnlinePreview();
    // The file is fetched first and played from disk (onOnlinePreviewReady).
    onlinePreviewId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    onlinePreviewUrl = url;
    // Nothing sounds until the file has arrived: the line says so.
    onlineStatusLabel->setText(QStringLiteral("⏳ Loading %1…").arg(name));
    restyleOnlineRows();
    OnlineLibraryManager::instance()->fetchPreview(url);
}

QString MainWindow::onlineRowName(const QString& url) const
{
    for (int i = 0; onlineList && i < onlineList->count(); ++i) {
        if (onlineList->item(i)->data(UrlRole).toString() == url)
            return onlineList->item(i)->data(NameRole).toString();
    }
    return QString();
}

void MainWindow::onOnlinePreviewProgress(const QString& url, qint64 received, qint64 total)
{
    // Once it plays on the growing copy the line names it, as for any preview.
    if (url != onlinePreviewUrl || onlinePreviewId.isEmpty() || onlinePreviewStreaming)
        return;
    const QString name = onlineRowName(url);
    // The share when the server told the size, else what has come so far.
    const QString share = total > 0 ? QStringLiteral("%1%").arg(std::clamp(received * 100 / total, qint64(0), qint64(100)))
                                    : QStringLiteral("%1 KB").arg(received / 1024);
    onlineStatusLabel->setText(QStringLiteral("⏳ Loading %1… %2").arg(name, share));
}

// The FFmpeg back end reads on into a file that is still being written: the
// preview starts on the growing copy once the fetch keeps ahead of it.
void MainWindow::onOnlinePreviewPlayable(const QString& url, const QString& growingPath)
{
    if (url != onlinePreviewUrl || onlinePreviewId.isEmpty() || !AudioEngine::backendIsFfmpeg())
        return;
    onlinePreviewStreaming = true;
    ButtonData data;
    data.id = onlinePreviewId;
    data.audioPath = growingPath;
    data.name = onlineRowName(url);
    onlineStatusLabel->setText(QStringLiteral("▶ ") + data.name);
    engines().audioPlay(data, QString());
}

void MainWindow::onOnlinePreviewReady(const QString& url, const QString& path)
{
    if (url != onlinePreviewUrl || onlinePreviewId.isEmpty()) {
        QFile::remove(path);
        return;
    }
    onlinePreviewFile = path;
    // Started while it arrived: the player holds the same file, now whole.
    if (std::exchange(onlinePreviewStreaming, false))
        return;
    ButtonData data;
    data.id = onlinePreviewId;
    data.audioPath = path;
    data.name = onlineRowName(url);
    onlineStatusLabel->setText(QStringLiteral("▶ ") + data.name);
    soundStartedSincePanic = true;
    engines().audioPlay(data, QString());
}

void MainWindow::onOnlineFolderChosen(int index)
{
    if (!onlinePreviewId.isEmpty())
        stopOnlinePreview();
    const QString key = index >= 0 ? onlineFolderCombo->itemData(index).toString() : QString();
    OnlineLibraryManager::instance()->fetchFiles(key);
}

void MainWindow::onOnlineContextMenu(const QPoint& pos)
{
    QListWidgetItem* item = onlineList->itemAt(pos);
    if (!item)
        return;
    const QString url = item->data(UrlRole).toString();
    const QString name = item->data(NameRole).toString();
    const QString folder = onlineFolderCombo->currentData().toString();
    QMenu menu;
    QAction* download = menu.addAction(QStringLiteral("⬇ Download to VX Library"));
    if (Modal::execMenu(&menu, onlineList->viewport()->mapToGlobal(pos)) != download)
        return;
    onlineStatusLabel->setText(QStringLiteral("Downloading: ") + name);
    OnlineLibraryManager::instance()->downloadFile(url, name, folder);
}
