// Saves pictures of the music player in a given preset: a playing row with
// the now-playing bar, flagged rows with Auto-Mix on, the track menu and a
// drop's toast. A tool for looking at them by eye, not a test.
//   music_preview OUTDIR [PRESET]
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

#include "AudioEngine.h"
#include "LibraryManager.h"
#include "MainWindow.h"
#include "Modal.h"
#include "MusicItemDelegate.h"
#include "PreviewSupport.h"
#include "RoutingSupport.h"

using PreviewSupport::settle;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString out, preset;
    if (!PreviewSupport::start(argc, argv, &out, &preset))
        return 2;

    const QString lib = TestSupport::tempDir() + "/Evening Show";
    QDir().mkpath(lib);
    const QStringList names = {"Calm Piano Bed", "Drive Time Theme", "Late Night Strings", "News Outro",
                               "Sunset Groove", "Weather Bed"};
    for (int i = 0; i < names.size(); ++i)
        TestSupport::writeWav16(lib + "/" + names[i] + ".wav", TestSupport::sine(220 + 70 * i, 20.0, 2, 22050, 0.3),
                                2, 22050);

    auto* w = new MainWindow;
    w->resize(1380, 860);
    w->show();
    LibraryManager* library = LibraryManager::instance();
    library->addFolder(lib, QStringLiteral("Evening Show"));
    w->addFolderToTree(QStringLiteral("Evening Show"), lib);
    while (library->pendingScans() > 0)
        settle(1);
    settle(30);
    w->refreshMusicList();
    settle(30);
    QWidget* right = w->musicList->window() == w ? w->findChild<QWidget*>(QStringLiteral("rightPanel")) : nullptr;
    if (!right)
        return 3;

    emit w->musicList->itemDoubleClicked(w->musicList->item(1));
    settle(80);
    right->grab().save(out + "/music-playing-" + preset + ".png");

    for (int r : {0, 2, 4}) {
        w->musicList->item(r)->setData(MusicItemDelegate::kInPlaylistRole, true);
        w->playlistPaths.insert(w->musicList->item(r)->data(Qt::UserRole).toString());
    }
    w->musicFadeCombo->setCurrentIndex(w->musicFadeCombo->findText(QStringLiteral("No fade")));
    w->autoMixBtn->setChecked(true);
    settle(80);
    right->grab().save(out + "/music-automix-" + preset + ".png");
    if (QPushButton* b = PreviewSupport::buttonWithText(right, QStringLiteral("  PLAYLIST")))
        b->click();
    settle(40);
    right->grab().save(out + "/music-automix-playlist-" + preset + ".png");
    if (QPushButton* b = PreviewSupport::buttonWithText(right, QStringLiteral("ALL MUSIC")))
        b->click();
    settle(30);

    {
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::Menu) {
                r.menu->popup(r.pos);
                settle(30);
                r.menu->grab().save(out + "/music-menu-" + preset + ".png");
                r.menu->hide();
            }
            return {};
        });
        const QRect rect = w->musicList->visualItemRect(w->musicList->item(2));
        emit w->musicList->customContextMenuRequested(rect.center());
    }

    const QString dropped = TestSupport::tempDir() + "/Dropped Jingle.wav";
    TestSupport::writeWav16(dropped, TestSupport::sine(660, 1.0, 2, 22050), 2, 22050);
    w->handleMusicFolderDrop({QUrl::fromLocalFile(lib + "/../Evening Show"), QUrl::fromLocalFile(dropped)});
    ToastManager::instance()->pump();
    settle(40);
    if (ToastWidget* card = ToastManager::instance()->current())
        card->grab().save(out + "/music-drop-toast-" + preset + ".png");
    w->grab().save(out + "/music-window-" + preset + ".png");

    AudioEngine::instance()->stopAll();
    library->clearAll();
    settle(30);
    delete w;
    return 0;
}
