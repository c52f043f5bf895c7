// The side panels in a real window: the SETS page and its list of recent
// sessions (with the unsaved-changes question before opening one), the
// LIBRARY page's folder tree, menu and search, and the music panel's lists,
// pages, hooks, timers and buttons. Timers are fired by the tests.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QScopeGuard>
#include <QScrollBar>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "AppSettings.h"
#include "EventLog.h"
#include "LibraryManager.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "MusicItemDelegate.h"
#include "SessionDelegate.h"
#include "SessionManager.h"
#include "SettingsKeys.h"
#include "SidePanelText.h"

using A = MainWindowTestAccess;

namespace {

bool touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

QPushButton* buttonWithText(QWidget* root, const QString& text)
{
    for (QPushButton* b : root->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Answers a menu with the action of that text; records every action's state.
struct MenuAnswer
{
    QString pick;
    QStringList seen;
    QStringList disabled;
    Modal::Handler handler(std::function<QVariant(const Modal::Request&)> others = {})
    {
        return [this, others](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::Menu)
                return others ? others(r) : QVariant();
            QAction* chosen = nullptr;
            for (QAction* a : r.menu->actions()) {
                if (a->isSeparator())
                    continue;
                seen << a->text();
                if (!a->isEnabled())
                    disabled << a->text();
                if (a->text() == pick)
                    chosen = a;
            }
            return QVariant::fromValue(chosen);
        };
    }
};

QStringList rowTexts(const QListWidget* list)
{
    QStringList out;
    for (int r = 0; r < list->count(); ++r)
        out << list->item(r)->text().section(QLatin1Char('\n'), 0, 0);
    return out;
}

QTreeWidgetItem* topRow(QTreeWidget* tree, const QString& key)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->data(0, Qt::UserRole).toString() == key)
            return tree->topLevelItem(i);
    return nullptr;
}

QStringList childKeys(const QTreeWidgetItem* row)
{
    QStringList out;
    QList<const QTreeWidgetItem*> todo{row};
    while (!todo.isEmpty()) {
        const QTreeWidgetItem* r = todo.takeFirst();
        for (int i = 0; i < r->childCount(); ++i) {
            out << r->child(i)->data(0, Qt::UserRole).toString();
            todo << r->child(i);
        }
    }
    return out;
}

} // namespace

class TestSidePanels : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    QString lib;   // the library fixture
    QString sets;  // session files

    LibraryManager* library() { return LibraryManager::instance(); }

    // Every scan and tree walk ended, their queued reports delivered, and
    // the music panel's refill after the scans run.
    int sessionLoads = 0;
    int musicRefills = 0;

    void waitScans()
    {
        QTRY_COMPARE_WITH_TIMEOUT(library()->pendingScans(), 0, 20000);
        // The tree's sub-folders are listed off the GUI thread too.
        QTRY_COMPARE_WITH_TIMEOUT(w->folderTreeWalks, 0, 20000);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        if (A::musicScanDebounce(w)->isActive())
            TestSupport::fireTimer(A::musicScanDebounce(w));
    }

    // The folders of the music panel's scenarios: a nested one of 3,000
    // tracks and one of odd names beside a pipe, a hidden file and files
    // that are no sound.
    QString scen;
    void makeScenarioFolders()
    {
        if (!scen.isEmpty())
            return;
        scen = TestSupport::tempDir() + "/scen";
        for (int d = 0; d < 10; ++d)
            for (int e = 0; e < 10; ++e)
                for (int t = 0; t < 30; ++t)
                    QVERIFY(touch(QStringLiteral("%1/Big/d%2/e%3/take%4.wav").arg(scen).arg(d).arg(e).arg(t)));
        QVERIFY(touch(scen + "/Big/d0/notes.txt"));
        for (const char* f : {"Odd/it's \"odd\" #1.wav", "Odd/emoji 🎵.MP3", "Odd/sub dir/a  b.flac", "Odd/.hidden.wav",
                              "Odd/no suffix"})
            QVERIFY(touch(scen + "/" + QString::fromUtf8(f)));
        QVERIFY(::mkfifo(QFile::encodeName(scen + "/Odd/pipe.wav").constData(), 0600) == 0);
    }

    QTreeWidgetItem* treeRow(const QString& key)
    {
        QList<QTreeWidgetItem*> todo;
        for (int i = 0; i < w->libraryTree->topLevelItemCount(); ++i)
            todo << w->libraryTree->topLevelItem(i);
        while (!todo.isEmpty()) {
            QTreeWidgetItem* row = todo.takeFirst();
            if (row->data(0, Qt::UserRole).toString() == key)
                return row;
            for (int c = 0; c < row->childCount(); ++c)
                todo << row->child(c);
        }
        return nullptr;
    }

    // One step of a scenario, as a user takes it: "drop-all F", "drop-list F"
    // (onto the PLAYLIST page), "settle" (scans and walks end, the debounce
    // runs out), "clear-library", "remove F" and "refresh-all" (tree menu),
    // "click KEY", "search TEXT" ("search" alone clears it), "poll" (one
    // tick of the library poll), "page-all", "page-list", "+list",
    // "rm PATH" (the file goes from the disk), "download PATH" (a finished
    // online download joins the library).
    void scenarioStep(const QString& step)
    {
        const QString op = step.section(QLatin1Char(' '), 0, 0);
        const QString arg = step.section(QLatin1Char(' '), 1);
        auto menuPick = [this](QTreeWidgetItem* row, const QString& pick) {
            QVERIFY(row);
            MenuAnswer answer{pick};
            TestSupport::ModalScript script(answer.handler());
            emit w->libraryTree->customContextMenuRequested(w->libraryTree->visualItemRect(row).center());
            QVERIFY(answer.seen.contains(pick));
        };
        if (op == QLatin1String("drop-all") || op == QLatin1String("drop-list")) {
            const QList<QUrl> urls{QUrl::fromLocalFile(scen + "/" + arg)};
            if (op == QLatin1String("drop-all"))
                w->handleMusicFolderDrop(urls);
            else
                w->handlePlaylistDrop(urls);
        } else if (op == QLatin1String("settle")) {
            waitScans();
        } else if (op == QLatin1String("clear-library")) {
            TestSupport::ModalScript script([](const Modal::Request& r) -> QVariant {
                return r.kind == Modal::Kind::MessageBox ? QVariant(int(QMessageBox::Yes)) : QVariant();
            });
            A::rightPanel(w)->findChild<QPushButton*>(QStringLiteral("clearLibraryBtn"))->click();
        } else if (op == QLatin1String("remove")) {
            menuPick(treeRow(arg), QStringLiteral("🗑  Remove Folder"));
        } else if (op == QLatin1String("refresh-all")) {
            menuPick(treeRow(QStringLiteral("__all__")), QStringLiteral("🔄 Refresh All"));
        } else if (op == QLatin1String("click")) {
            QTreeWidgetItem* row = treeRow(arg);
            QVERIFY2(row, qPrintable(arg));
            w->libraryTree->setCurrentItem(row);
            emit w->libraryTree->itemClicked(row, 0);
        } else if (op == QLatin1String("search")) {
            w->libSearchBox->setText(arg);
        } else if (op == QLatin1String("poll")) {
            A::libraryPollTicks(w) = 0;
            QMetaObject::invokeMethod(A::libraryPoll(w), "timeout", Qt::DirectConnection);
        } else if (op == QLatin1String("page-all")) {
            pageButton(QStringLiteral("ALL MUSIC"))->click();
        } else if (op == QLatin1String("page-list")) {
            pageButton(QStringLiteral("  PLAYLIST"))->click();
        } else if (op == QLatin1String("+list")) {
            QPushButton* addAll = addAllButton();
            QVERIFY(addAll);
            addAll->click();
        } else if (op == QLatin1String("rm")) {
            QVERIFY(QFile::remove(scen + "/" + arg));
        } else if (op == QLatin1String("download")) {
            library()->addFile(scen + "/" + arg, QStringLiteral("Online Downloads"));
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }

    void addRoot(const QString& folder)
    {
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            return r.kind == Modal::Kind::Directory ? QVariant(folder) : QVariant();
        });
        w->onLibAddFolder();
        waitScans();
    }

    void resetLibrary()
    {
        library()->clearAll();
        waitScans();
        w->playlistPaths.clear();
    }

    QPushButton* pageButton(const QString& text) { return buttonWithText(A::rightPanel(w), text); }
    // "+List": the Auto-Mix bar's small button beside the Auto-Mix switch.
    QPushButton* addAllButton()
    {
        for (QPushButton* b : w->autoMixBar->findChildren<QPushButton*>())
            if (b != w->autoMixBtn && b->size() == QSize(30, 26))
                return b;
        return nullptr;
    }

    QString writeSet(const QString& path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        return MainWindowTest::writeSession(MainWindowTest::makeSession(1, 4), path) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        AppSettings().setValue(SettingsKeys::AdvancedShowLog, true);
        const QString root = TestSupport::tempDir();
        lib = root + "/lib";
        sets = root + "/sets";
        for (const char* f : {"Jingles/a.wav", "Jingles/B Beat.wav", "Jingles/Sub/c.wav", "Jingles/Sub/Deeper/d.mp3",
                              "Jingles/.hidden/h.wav", "Jingles/X.MP3", "Jingles/noext", "Beds/bed one.wav",
                              "Beds/spaced name 🎵.wav", "North/Music/n.wav", "South/Music/s1.wav",
                              "South/Music/s2.wav"})
            QVERIFY(touch(lib + "/" + QString::fromUtf8(f)));
        // A link back to the folder itself: the tree must not walk into it.
        QVERIFY(QFile::link(lib + "/Jingles", lib + "/Jingles/Sub/loop"));
        w = new MainWindow;
        w->resize(1400, 900);
        w->show();
        // The tests tick the library poll themselves.
        A::libraryPoll(w)->stop();
        connect(SessionManager::instance(), &SessionManager::sessionLoaded, this, [this] { ++sessionLoads; });
        const std::function<void()> refill = w->refreshMusicList;
        QVERIFY(refill);
        w->refreshMusicList = [this, refill] {
            ++musicRefills;
            refill();
        };
    }
    void init() { sessionLoads = musicRefills = 0; }
    // Every session load refills ALL MUSIC a moment later: those refills
    // land in the test that loaded, not in a later test's folder or search.
    void cleanup()
    {
        if (sessionLoads > 0)
            QTRY_VERIFY_WITH_TIMEOUT(musicRefills >= sessionLoads, 20000);
    }
    void cleanupTestCase()
    {
        library()->clearAll();
        delete w;
    }

    // --- Texts ---------------------------------------------------------------

    void folderLine_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("line");
        QTest::newRow("below home") << "/home/al/Music/x.mp3" << "/home/al" << "~/Music";
        QTest::newRow("home itself") << "/home/al/x.mp3" << "/home/al" << "~";
        QTest::newRow("home with slash") << "/home/al/Music/x.mp3" << "/home/al/" << "~/Music";
        QTest::newRow("a longer name is not home") << "/home/alice/x.mp3" << "/home/al" << "/home/alice";
        QTest::newRow("home inside the path") << "/data/home/al/x.mp3" << "/home/al" << "/data/home/al";
        QTest::newRow("outside") << "/srv/audio/x.mp3" << "/home/al" << "/srv/audio";
        QTest::newRow("home is the root") << "/music/x.mp3" << "/" << "~/music";
    }
    void folderLine()
    {
        QFETCH(QString, file);
        QFETCH(QString, home);
        QFETCH(QString, line);
        QCOMPARE(SidePanelText::musicFolder(file, home), line);
    }

    void deviceLabel_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("shown");
        const QString s32 = QString(32, QLatin1Char('a'));
        QTest::newRow("32 whole") << s32 << s32;
        QTest::newRow("33 cut") << s32 + "b" << QString(29, QLatin1Char('a')) + "...";
        QTest::newRow("short") << "USB" << "USB";
    }
    void deviceLabel()
    {
        QFETCH(QString, description);
        QFETCH(QString, shown);
        QCOMPARE(SidePanelText::deviceLabel(description), shown);
    }

    // --- Start state -------------------------------------------------------------

    void startState()
    {
        // The log shows as it was left: stored on, it shows from the start
        // and the setting stays.
        QVERIFY(!A::eventLog(w)->isHidden());
        QCOMPARE(SettingsKeys::readBool(SettingsKeys::AdvancedShowLog), true);
        QCOMPARE(w->musicStack->currentIndex(), 0);
        QVERIFY(w->autoMixBar->isHidden());
        QVERIFY(!w->autoMixBtn->isChecked());
        QCOMPARE(w->autoMixBtn->objectName(), QStringLiteral("amBtn"));
        QCOMPARE(w->musicFadeCombo->currentText(), QStringLiteral("2s fade"));
        QCOMPARE(w->autoMixIndex, -1);
        QCOMPARE(w->musicDevCombo->itemText(0), QStringLiteral("🔊 Follow Main Output"));
        QCOMPARE(w->musicDevCombo->itemData(0).toString(), QString());
        QCOMPARE(w->leftStack->currentIndex(), 0);
        QVERIFY(A::nowPlayingBar(w));
        // The event log's close hides it and writes the key false again.
        A::eventLog(w)->show();
        AppSettings().setValue(SettingsKeys::AdvancedShowLog, true);
        emit A::eventLog(w)->closeRequested();
        QVERIFY(A::eventLog(w)->isHidden());
        QCOMPARE(SettingsKeys::readBool(SettingsKeys::AdvancedShowLog), false);
    }

    void deviceChoiceIsStored()
    {
        QComboBox* combo = w->musicDevCombo;
        if (combo->count() < 2)
            combo->addItem(QStringLiteral("Test output"), QStringLiteral("dev-1"));
        combo->setCurrentIndex(combo->count() - 1);
        QCOMPARE(SettingsKeys::readString(SettingsKeys::LibraryOutputDevice), combo->currentData().toString());
        combo->setCurrentIndex(0);
        QCOMPARE(SettingsKeys::readString(SettingsKeys::LibraryOutputDevice), QString());
    }

    // --- SETS --------------------------------------------------------------------

    void leftTabs_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::newRow("library") << QList<int>{1};
        QTest::newRow("online") << QList<int>{2};
        QTest::newRow("library twice") << QList<int>{1, 1};
        QTest::newRow("back to sets") << QList<int>{2, 0};
    }
    void leftTabs()
    {
        QFETCH(QList<int>, clicks);
        QList<QPushButton*> tabs;
        for (QPushButton* b : A::leftPanel(w)->findChildren<QPushButton*>())
            if (b->objectName() == QLatin1String("lpTabBtn"))
                tabs << b;
        QCOMPARE(tabs.size(), 3);
        for (int i : clicks)
            tabs[i]->click();
        const int last = clicks.last();
        QCOMPARE(w->leftStack->currentIndex(), last);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(tabs[i]->isChecked(), i == last);
        tabs[0]->click();
    }

    void setsRows()
    {
        SessionManager* sm = SessionManager::instance();
        AppSettings().setValue(SettingsKeys::RecentFiles, QStringList());
        w->refreshSetsList();
        QCOMPARE(w->setsList->count(), 1);
        QCOMPARE(w->setsList->item(0)->text(), QStringLiteral("No recent sessions"));
        QCOMPARE(w->setsList->item(0)->flags(), Qt::NoItemFlags);
        QCOMPARE(w->setsList->item(0)->sizeHint().height(), 40);

        const QString a = writeSet(sets + "/Morning/show.final.vx");
        const QString b = writeSet(sets + "/Evening/show.vx");
        const QString gone = sets + "/Old/gone.vx";
        QVERIFY(sm->loadSession(a) && sm->loadSession(b)); // refreshes through sessionLoaded
        QStringList recent = sm->recentFiles();
        recent.append(gone);
        AppSettings().setValue(SettingsKeys::RecentFiles, recent);
        w->refreshSetsList();
        QCOMPARE(w->setsList->count(), 3);
        struct Row { QString path, name, folder; bool current, missing; };
        const QList<Row> expect = {{b, "show", "Evening", true, false}, {a, "show", "Morning", false, false},
                                   {gone, "gone", "Old", false, true}};
        for (int r = 0; r < 3; ++r) {
            const QListWidgetItem* it = w->setsList->item(r);
            QCOMPARE(it->data(SessionDelegate::kPathRole).toString(), expect[r].path);
            QCOMPARE(it->data(SessionDelegate::kNameRole).toString(), expect[r].name);
            QCOMPARE(it->text(), expect[r].name);
            QCOMPARE(it->data(SessionDelegate::kFolderRole).toString(), expect[r].folder);
            QCOMPARE(it->data(SessionDelegate::kCurrentRole).toBool(), expect[r].current);
            QCOMPARE(it->data(SessionDelegate::kMissingRole).toBool(), expect[r].missing);
        }
        QVERIFY(qobject_cast<SessionDelegate*>(w->setsList->itemDelegate()));

        // A missing file's double-click does nothing.
        emit w->setsList->itemDoubleClicked(w->setsList->item(2));
        QCOMPARE(sm->session().filePath, b);

        // "Remove from list" takes the row and the entry; the last one leaves an empty list.
        for (int left = 3; left > 0; --left) {
            MenuAnswer menu{QStringLiteral("🗑️ Remove from list")};
            TestSupport::ModalScript script(menu.handler());
            QListWidgetItem* first = w->setsList->item(0);
            const QString path = first->data(SessionDelegate::kPathRole).toString();
            emit w->setsList->customContextMenuRequested(w->setsList->visualItemRect(first).center());
            QCOMPARE(menu.seen, (QStringList{QStringLiteral("📂 Open"), QStringLiteral("🗑️ Remove from list")}));
            QCOMPARE(w->setsList->count(), left - 1);
            QVERIFY(!SettingsKeys::read(SettingsKeys::RecentFiles).toStringList().contains(path));
        }
        QCOMPARE(w->setsList->count(), 0);
    }

    // Opening a set replaces the session: only Discard, a clean session or a
    // good save let it open.
    void openingAsksFirst_data()
    {
        QTest::addColumn<bool>("viaMenu");
        QTest::addColumn<int>("answer"); // 0: the session is clean, nothing asked
        QTest::addColumn<bool>("saveFails");
        QTest::addColumn<bool>("opens");
        for (bool menu : {false, true}) {
            const char* road = menu ? "menu" : "double-click";
            QTest::addRow("%s, clean", road) << menu << 0 << false << true;
            QTest::addRow("%s, Cancel", road) << menu << int(QMessageBox::Cancel) << false << false;
            QTest::addRow("%s, Discard", road) << menu << int(QMessageBox::Discard) << false << true;
            QTest::addRow("%s, Save", road) << menu << int(QMessageBox::Save) << false << true;
            QTest::addRow("%s, Save fails", road) << menu << int(QMessageBox::Save) << true << false;
        }
    }
    void openingAsksFirst()
    {
        QFETCH(bool, viaMenu);
        QFETCH(int, answer);
        QFETCH(bool, saveFails);
        QFETCH(bool, opens);
        SessionManager* sm = SessionManager::instance();
        const QString current = writeSet(sets + "/Ask/current.vx");
        const QString target = writeSet(sets + "/Ask/target.vx");
        QVERIFY(sm->loadSession(target) && sm->loadSession(current));
        if (saveFails) {
            // A file below a regular file can never be written.
            QVERIFY(touch(sets + "/Ask/plain"));
            sm->session().filePath = sets + "/Ask/plain/current.vx";
        }
        if (answer != 0)
            sm->markDirty();
        w->refreshSetsList();
        QListWidgetItem* row = nullptr;
        for (int r = 0; r < w->setsList->count(); ++r)
            if (w->setsList->item(r)->data(SessionDelegate::kPathRole).toString() == target)
                row = w->setsList->item(r);
        QVERIFY(row);
        int asked = 0;
        MenuAnswer menu{QStringLiteral("📂 Open")};
        TestSupport::ModalScript script(menu.handler([&](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::MessageBox && r.title == QLatin1String("Unsaved Changes")) {
                ++asked;
                return answer;
            }
            return {};
        }));
        if (viaMenu)
            emit w->setsList->customContextMenuRequested(w->setsList->visualItemRect(row).center());
        else
            emit w->setsList->itemDoubleClicked(row);
        QCOMPARE(asked, answer == 0 ? 0 : 1);
        QCOMPARE(sm->session().filePath == target, opens);
        sm->newSession();
    }

    // --- LIBRARY -----------------------------------------------------------------

    void addFolderBuildsTheTree()
    {
        resetLibrary();
        addRoot(lib + "/Jingles");
        QTreeWidgetItem* root = topRow(w->libraryTree, QStringLiteral("Jingles"));
        QVERIFY(root);
        QVERIFY(root->isExpanded());
        QCOMPARE(root->data(0, Qt::UserRole + 1).toString(), lib + "/Jingles");
        // Sorted, no hidden folder, no link; every depth.
        QCOMPARE(childKeys(root), (QStringList{"Jingles/Sub", "Jingles/Sub/Deeper"}));
        // The added folder is chosen; its scan's end gives the count (the
        // panel's relabel) and the root's tracks in ALL MUSIC.
        QVERIFY(root->text(0).contains(QLatin1String("Jingles  (5)")));
        QCOMPARE(w->libraryTree->currentItem(), root);
        QCOMPARE(w->musicList->count(), 5);
        QCOMPARE(w->musicCountLabel->text(), QStringLiteral("5 tracks"));
        // Rows carry the path, the name for the drag, and their size.
        const QListWidgetItem* row = w->musicList->item(0);
        QCOMPARE(row->data(Qt::UserRole + 1).toString(), row->text().section(QLatin1Char('\n'), 0, 0));
        QVERIFY(QFileInfo(row->data(Qt::UserRole).toString()).isAbsolute());
        QCOMPARE(row->sizeHint().height(), 38);

        // The same folder again: no second row, the same category.
        addRoot(lib + "/Jingles");
        int jingles = 0;
        for (int i = 0; i < w->libraryTree->topLevelItemCount(); ++i)
            jingles += w->libraryTree->topLevelItem(i)->data(0, Qt::UserRole).toString() == QLatin1String("Jingles");
        QCOMPARE(jingles, 1);
        QCOMPARE(library()->rootFolders(), QStringList{QStringLiteral("Jingles")});
    }

    // Two folders named Music: the second gets a category of its own and the
    // first keeps its root.
    void sameNameFolders()
    {
        resetLibrary();
        addRoot(lib + "/North/Music");
        addRoot(lib + "/South/Music");
        QCOMPARE(library()->folderPath(QStringLiteral("Music")), lib + "/North/Music");
        QCOMPARE(library()->folderPath(QStringLiteral("Music (2)")), lib + "/South/Music");
        QVERIFY(topRow(w->libraryTree, QStringLiteral("Music (2)")));
        QCOMPARE(SidePanelText::libraryCategoryFor(*library(), lib + "/North/Music/"), QStringLiteral("Music"));
        QCOMPARE(SidePanelText::libraryCategoryFor(*library(), lib + "/West/Music"), QStringLiteral("Music (3)"));
        QCOMPARE(library()->entries().size(), 3);
        // A folder already in the library under a name of the user's comes
        // back under that name (its files are listed there once).
        library()->addFolder(lib + "/East/Chimes", QStringLiteral("Bells"));
        QCOMPARE(SidePanelText::libraryCategoryFor(*library(), lib + "/East/Chimes/"), QStringLiteral("Bells"));
    }

    void folderClicksAndSearch_data()
    {
        QTest::addColumn<QString>("key"); // a tree row, or "?text" for a search
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("flagged"); // whether rows carry the playlist flag
        QTest::newRow("all music") << "__all__" << QStringList{"a", "B Beat", "c", "d", "X", "bed one", "spaced name 🎵"}
                                   << "7 tracks" << true;
        QTest::newRow("root") << "Beds" << QStringList{"bed one", "spaced name 🎵"} << "2 tracks" << true;
        QTest::newRow("sub-folder, every depth") << "Jingles/Sub" << QStringList{"c", "d"} << "2 tracks" << true;
        QTest::newRow("search, any case") << "?beat" << QStringList{"B Beat"} << "1 tracks found" << false;
        QTest::newRow("search in paths") << "?JINGLES/SUB" << QStringList{"c", "d"} << "2 tracks found" << false;
    }
    void folderClicksAndSearch()
    {
        QFETCH(QString, key);
        QFETCH(QStringList, names);
        QFETCH(QString, label);
        QFETCH(bool, flagged);
        QStringList roots = library()->rootFolders();
        roots.sort();
        if (roots != QStringList{"Beds", "Jingles"}) {
            resetLibrary();
            addRoot(lib + "/Jingles");
            addRoot(lib + "/Beds");
            w->rebuildLibraryTree();
            waitScans();
        }
        w->playlistPaths = {lib + "/Jingles/Sub/c.wav", lib + "/Beds/bed one.wav", lib + "/Jingles/B Beat.wav"};
        // A list of one row's height, scrolled down in another view first: a
        // new folder or search shows from the top, the same one again keeps
        // its place.
        w->musicList->setFixedHeight(MusicItemDelegate::kRowHeight + 2 * w->musicList->frameWidth());
        const auto restoreHeight = qScopeGuard([this] {
            w->musicList->setMinimumHeight(0);
            w->musicList->setMaximumHeight(QWIDGETSIZE_MAX);
        });
        auto settled = [&] {
            QCoreApplication::processEvents();
            w->musicList->doItemsLayout();
            return w->musicList->verticalScrollBar();
        };
        w->libSearchBox->setText(QStringLiteral(".wav"));
        settled()->setValue(settled()->maximum());
        QVERIFY(settled()->value() > 0);
        QTreeWidgetItem* row = nullptr;
        auto show = [&] {
            if (key.startsWith(QLatin1Char('?'))) {
                w->libSearchBox->setText(key.mid(1));
                return;
            }
            w->libSearchBox->clear();
            row = topRow(w->libraryTree, key);
            if (!row) {
                for (int i = 0; i < w->libraryTree->topLevelItemCount() && !row; ++i) {
                    QTreeWidgetItem* top = w->libraryTree->topLevelItem(i);
                    for (int c = 0; c < top->childCount(); ++c)
                        if (top->child(c)->data(0, Qt::UserRole).toString() == key)
                            row = top->child(c);
                }
            }
            QVERIFY(row);
            w->libraryTree->setCurrentItem(row);
            emit w->libraryTree->itemClicked(row, 0);
        };
        show();
        QCOMPARE(settled()->value(), 0);
        if (settled()->maximum() > 0) {
            settled()->setValue(settled()->maximum());
            const int at = settled()->value();
            if (row)
                emit w->libraryTree->itemClicked(row, 0);
            else
                w->onLibSearch(key.mid(1));
            QCOMPARE(settled()->value(), at);
            // A scan that ends meanwhile refreshes the view where it stands.
            library()->addFolder(lib + "/Beds", QStringLiteral("Beds"));
            waitScans();
            QCOMPARE(settled()->value(), at);
        }
        if (key == QLatin1String("__all__")) {
            // The music panel's own search, too: its first hits, at the top.
            QLineEdit* musicSearch = nullptr;
            for (QLineEdit* e : A::rightPanel(w)->findChildren<QLineEdit*>())
                if (e->placeholderText() == QStringLiteral("🔍 Search music..."))
                    musicSearch = e;
            QVERIFY(musicSearch);
            settled()->setValue(settled()->maximum());
            QVERIFY(settled()->value() > 0);
            musicSearch->setText(QStringLiteral("jingles"));
            QCOMPARE(settled()->value(), 0);
            musicSearch->clear();
        }
        // The scan's order within a folder is the file system's.
        QStringList shown = rowTexts(w->musicList);
        shown.sort();
        names.sort();
        QCOMPARE(shown, names);
        QCOMPARE(w->musicCountLabel->text(), label);
        for (int r = 0; r < w->musicList->count(); ++r) {
            const QListWidgetItem* it = w->musicList->item(r);
            const bool inList = w->playlistPaths.contains(it->data(Qt::UserRole).toString());
            QCOMPARE(it->data(MusicItemDelegate::kInPlaylistRole).toBool(), flagged && inList);
            QCOMPARE(it->data(MusicItemDelegate::kInPlaylistRole).isValid(), flagged);
        }
        if (key.startsWith(QLatin1Char('?'))) {
            // Clearing the search shows the selected folder again.
            w->libSearchBox->clear();
            QCOMPARE(w->musicCountLabel->text().endsWith(QLatin1String(" tracks")), true);
        }
        w->playlistPaths.clear();
    }

    void treeMenu()
    {
        resetLibrary();
        addRoot(lib + "/Jingles");
        QTreeWidgetItem* root = topRow(w->libraryTree, QStringLiteral("Jingles"));
        QTreeWidgetItem* sub = root->child(0);
        w->libraryTree->expandAll();
        QSignalSpy started(library(), &LibraryManager::scanStarted);

        // A sub-folder: "Rescan Folder" rescans its root, "Remove Folder" is shown disabled.
        MenuAnswer rescan{QStringLiteral("🔄 Rescan Folder")};
        {
            TestSupport::ModalScript script(rescan.handler());
            emit w->libraryTree->customContextMenuRequested(w->libraryTree->visualItemRect(sub).center());
        }
        QCOMPARE(rescan.seen, (QStringList{"📂 Open in Explorer", "🔄 Rescan Folder", "🗑  Remove Folder"}));
        QCOMPARE(rescan.disabled, QStringList{"🗑  Remove Folder"});
        QCOMPARE(started.count(), 1);
        QCOMPARE(started.at(0).at(0).toString(), QStringLiteral("Jingles"));
        QCOMPARE(library()->rootFolders(), QStringList{QStringLiteral("Jingles")});
        QCOMPARE(library()->folderPath(QStringLiteral("Jingles")), lib + "/Jingles");
        waitScans();
        QCOMPARE(library()->entries().size(), 5);

        // The root: removed from the library and the tree; ALL MUSIC emptied.
        root = topRow(w->libraryTree, QStringLiteral("Jingles"));
        MenuAnswer remove{QStringLiteral("🗑  Remove Folder")};
        {
            TestSupport::ModalScript script(remove.handler());
            emit w->libraryTree->customContextMenuRequested(w->libraryTree->visualItemRect(root).center());
        }
        QVERIFY(remove.disabled.isEmpty());
        QVERIFY(!topRow(w->libraryTree, QStringLiteral("Jingles")));
        QVERIFY(library()->rootFolders().isEmpty());
        QCOMPARE(w->musicList->count(), 0);
        QCOMPARE(w->musicCountLabel->text(), QStringLiteral("0 tracks"));
    }

    // Roots that vanished or were never folders still give a row and no crash.
    void oddRoots()
    {
        resetLibrary();
        const QString doomed = TestSupport::tempDir() + "/Doomed";
        QVERIFY(touch(doomed + "/Inner/x.wav"));
        addRoot(doomed);
        QVERIFY(QDir(doomed).removeRecursively());
        w->rebuildLibraryTree();
        QTreeWidgetItem* row = topRow(w->libraryTree, QStringLiteral("Doomed"));
        QVERIFY(row);
        QCOMPARE(row->childCount(), 0);
        w->addFolderToTree(QStringLiteral("AFile"), lib + "/Jingles/a.wav");
        QCOMPARE(topRow(w->libraryTree, QStringLiteral("AFile"))->childCount(), 0);

        // A 250-byte name and a folder that cannot be listed.
        const QString odd = TestSupport::tempDir() + "/Odd";
        const QString longName = QString(120, QChar(0x00E9)) + QStringLiteral("ab"); // 242 bytes + ".wav"
        QVERIFY(touch(odd + "/Long/" + longName + ".wav"));
        QVERIFY(QDir().mkpath(odd + "/Closed/Inside"));
        QFile::setPermissions(odd + "/Closed", QFileDevice::Permissions());
        addRoot(odd);
        QTreeWidgetItem* oddRow = topRow(w->libraryTree, QStringLiteral("Odd"));
        QVERIFY(oddRow);
        QVERIFY(childKeys(oddRow).contains(QStringLiteral("Odd/Long")));
        w->refreshMusicList();
        QVERIFY(rowTexts(w->musicList).contains(longName));
        if (geteuid() != 0)
            QCOMPARE(childKeys(oddRow).contains(QStringLiteral("Odd/Closed/Inside")), false);
        QFile::setPermissions(odd + "/Closed", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (geteuid() == 0)
            QSKIP("running as root: every folder can be listed, so the unreadable case cannot be made here");
        QCOMPARE(w->libraryTree->topLevelItem(0)->data(0, Qt::UserRole).toString(), QStringLiteral("__all__"));
    }

    // --- Music lists ----------------------------------------------------------------

    // Three scans ending close together give one refill, when the debounce runs out.
    void debounceFoldsScans()
    {
        // The whole library shown: the refill is the ALL MUSIC hook's.
        w->libSearchBox->clear();
        w->libraryTree->setCurrentItem(topRow(w->libraryTree, QStringLiteral("__all__")));
        w->refreshMusicList();
        QTimer* debounce = A::musicScanDebounce(w);
        const auto hook = w->refreshMusicList;
        int refills = 0;
        w->refreshMusicList = [&] {
            ++refills;
            hook();
        };
        for (const char* c : {"One", "Two", "Three"})
            emit library()->scanFinished(QString::fromLatin1(c), 0);
        QVERIFY(debounce->isActive());
        QCOMPARE(debounce->interval(), 200);
        QCOMPARE(refills, 0);
        TestSupport::fireTimer(debounce);
        QCOMPARE(refills, 1);
        w->refreshMusicList = hook;
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

    // The poll fills only a list that is empty while the whole library is
    // chosen (never a folder click's or a search's list), shows the list
    // rather than its hint, and stops at its 61st tick.
    void pollRefillsAndStops()
    {
        resetLibrary();
        addRoot(lib + "/Beds");
        w->refreshMusicList();
        QTimer* poll = A::libraryPoll(w);
        auto tick = [poll] { QMetaObject::invokeMethod(poll, "timeout", Qt::DirectConnection); };
        const auto hook = w->refreshMusicList;
        int refills = 0;
        w->refreshMusicList = [&] {
            ++refills;
            hook();
        };
        A::libraryPollTicks(w) = 0;
        poll->start();
        w->musicStack->setCurrentIndex(1);
        tick();
        QCOMPARE(refills, 0);
        QCOMPARE(w->musicStack->currentIndex(), 0);
        library()->addFile(lib + "/Jingles/a.wav", QStringLiteral("Downloads"));
        tick();
        QCOMPARE(refills, 0);
        QCOMPARE(w->musicList->count(), 2);
        w->libraryTree->setCurrentItem(topRow(w->libraryTree, QStringLiteral("__all__")));
        w->musicList->clear();
        tick();
        QCOMPARE(refills, 1);
        QCOMPARE(w->musicList->count(), 3);
        for (int i = 3; i < 60; ++i)
            tick();
        QVERIFY(poll->isActive());
        tick();
        QVERIFY(!poll->isActive());
        QCOMPARE(refills, 1);
        w->refreshMusicList = hook;
    }

    void playlistPage()
    {
        resetLibrary();
        addRoot(lib + "/Beds");
        addRoot(lib + "/Jingles");
        w->libSearchBox->clear();
        w->refreshMusicList();
        QPushButton* all = pageButton(QStringLiteral("ALL MUSIC"));
        QPushButton* list = pageButton(QStringLiteral("  PLAYLIST"));
        QVERIFY(all && list);

        list->click();
        QCOMPARE(w->musicStack->currentIndex(), 3);
        QCOMPARE(w->musicCountLabel->text(), QStringLiteral("0 in playlist"));
        QVERIFY(!w->autoMixBar->isHidden());
        QVERIFY(!all->isChecked() && list->isChecked());

        // A refill on the PLAYLIST page leaves the label and the page to the playlist.
        w->refreshMusicList();
        QCOMPARE(w->musicCountLabel->text(), QStringLiteral("0 in playlist"));
        QCOMPARE(w->musicStack->currentIndex(), 3);

        // +List under a search flags only the rows shown, and the page shows them at once.
        QLineEdit* search = nullptr;
        for (QLineEdit* e : A::rightPanel(w)->findChildren<QLineEdit*>())
            if (e->placeholderText() == QStringLiteral("🔍 Search music..."))
                search = e;
        QVERIFY(search);
        // The folder line counts too: "BEDS" finds both tracks of Beds.
        search->setText(QStringLiteral("BEDS"));
        QCOMPARE(w->musicCountLabel->text(), QStringLiteral("2/7"));
        search->setText(QStringLiteral("BED ONE"));
        QCOMPARE(w->musicCountLabel->text(), QStringLiteral("1/7"));
        QPushButton* addAll = addAllButton();
        QVERIFY(addAll);
        addAll->click();
        QCOMPARE(w->playlistPaths, QSet<QString>{lib + "/Beds/bed one.wav"});
        QVERIFY(w->autoMixBtn->isChecked());
        QCOMPARE(rowTexts(w->playlistList), QStringList{QStringLiteral("bed one")});
        QCOMPARE(w->playlistList->item(0)->data(MusicItemDelegate::kInPlaylistRole).toBool(), true);
        search->clear();
        QCOMPARE(w->musicCountLabel->text(), QStringLiteral("7 tracks"));

        // A playlist path that left the library stays in the set but gives no row.
        w->playlistPaths.insert(QStringLiteral("/nowhere/gone.wav"));
        w->refreshPlaylist();
        QCOMPARE(w->playlistList->count(), 1);
        QCOMPARE(w->musicStack->currentIndex(), 2);

        // Clearing the playlist empties the flags and the PLAYLIST page.
        QPushButton* clear = nullptr;
        for (QPushButton* b : w->autoMixBar->findChildren<QPushButton*>())
            if (b->size() == QSize(26, 26))
                clear = b;
        QVERIFY(clear);
        w->musicList->item(0)->setData(MusicItemDelegate::kPlayingRole, true);
        clear->click();
        QVERIFY(!w->autoMixBtn->isChecked());
        QVERIFY(w->playlistPaths.isEmpty());
        QCOMPARE(w->playlistList->count(), 0);
        QCOMPARE(w->musicStack->currentIndex(), 3);
        QVERIFY(!w->musicList->item(0)->data(MusicItemDelegate::kPlayingRole).toBool());

        // Back to ALL MUSIC: flags recomputed from the set.
        w->playlistPaths.insert(lib + "/Jingles/a.wav");
        all->click();
        QVERIFY(w->autoMixBar->isHidden());
        QCOMPARE(w->musicStack->currentIndex(), 0);
        QCOMPARE(w->musicCountLabel->text(), QStringLiteral("7 tracks"));
        for (int r = 0; r < w->musicList->count(); ++r) {
            const QListWidgetItem* it = w->musicList->item(r);
            QCOMPARE(it->data(MusicItemDelegate::kInPlaylistRole).toBool(),
                     it->data(Qt::UserRole).toString() == lib + "/Jingles/a.wav");
        }
        w->playlistPaths.clear();
    }

    // What a user meets with real folders: drops onto both pages, removals
    // that overtake scans, clicks, searches and the poll's ticks, files that
    // vanish. Then what ALL MUSIC and its label show, what the playlist and
    // the library hold, and the dropped folders still waiting for a scan.
    void musicPanelScenarios_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("music");        // rows of ALL MUSIC
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("playlist");     // tracks in the playlist
        QTest::addColumn<int>("entries");      // library entries
        QTest::addColumn<int>("waiting");      // folders waiting to join the playlist

        QTest::newRow("Remove All overtakes a playlist drop: a later drop on ALL MUSIC stays off the playlist")
            << "drop-all Odd;settle;drop-list Big;clear-library;settle;drop-all Big;settle" << 3000 << "3000 tracks"
            << 0 << 3000 << 0;
        QTest::newRow("removing the folder overtakes its playlist drop")
            << "drop-list Big;remove Big;settle;drop-all Big;settle" << 3000 << "3000 tracks" << 0 << 3000 << 0;
        QTest::newRow("Refresh All during a playlist drop: the rescan still fills the playlist")
            << "drop-list Big;refresh-all;settle" << 3000 << "3000 tracks" << 3000 << 3000 << 0;
        QTest::newRow("a playlist drop that finishes fills the playlist")
            << "drop-list Big;settle" << 3000 << "3000 tracks" << 3000 << 3000 << 0;
        QTest::newRow("+List: the label counts the playlist at once")
            << "drop-all Big;settle;page-list;+list" << 3000 << "3000 in playlist" << 3000 << 3000 << 0;
        QTest::newRow("+List under a search, then back to ALL MUSIC")
            << "drop-all Big;settle;page-list;search take7;+list;page-all;search" << 3000 << "3000 tracks" << 100
            << 3000 << 0;
        QTest::newRow("the poll leaves a folder click alone")
            << "drop-all Big;settle;click Big/d3;download Odd/emoji 🎵.MP3;poll" << 300 << "300 tracks" << 0 << 3001 << 0;
        QTest::newRow("the poll leaves a search result alone")
            << "drop-all Big;settle;search take29;download Odd/emoji 🎵.MP3;poll" << 100 << "100 tracks found" << 0
            << 3001 << 0;
        QTest::newRow("the poll leaves an empty search result alone")
            << "drop-all Big;settle;search nothing like it;poll" << 0 << "0 tracks found" << 0 << 3000 << 0;
        QTest::newRow("the poll fills an empty list")
            << "download Odd/emoji 🎵.MP3;poll" << 1 << "1 tracks" << 0 << 1 << 0;
        QTest::newRow("Refresh All keeps the online downloads")
            << "download Odd/emoji 🎵.MP3;drop-all Big;settle;refresh-all;settle" << 3001 << "3001 tracks" << 0 << 3001
            << 0;
        QTest::newRow("odd names; a pipe, a hidden file and no-sound files left out")
            << "drop-all Odd;settle" << 3 << "3 tracks" << 0 << 3 << 0;
        QTest::newRow("files removed while listed leave at the rescan")
            << "drop-all Big;settle;rm Big/d0/e0/take0.wav;rm Big/d0/e0/take1.wav;refresh-all;settle" << 2998
            << "2998 tracks" << 0 << 2998 << 0;
        QTest::newRow("a scan that ends while a folder is shown keeps the folder")
            << "drop-all Big;settle;click Big/d3;drop-all Odd;settle" << 300 << "300 tracks" << 0 << 3003 << 0;
        QTest::newRow("a scan that ends while a search is shown keeps it, with the new hits")
            << "drop-all Odd;settle;search .wav;drop-all Big;settle" << 3001 << "3001 tracks found" << 0 << 3003 << 0;
        QTest::newRow("a scan that ends on the PLAYLIST page keeps the folder and the page's label")
            << "drop-all Big;settle;click Big/d3;page-list;drop-all Odd;settle" << 300 << "0 in playlist" << 0 << 3003
            << 0;
        QTest::newRow("a scan that ends with the whole library shown adds its tracks")
            << "drop-all Big;settle;drop-all Odd;settle" << 3003 << "3003 tracks" << 0 << 3003 << 0;
        QTest::newRow("a sub-folder click, a search, then the click's folder again")
            << "drop-all Big;settle;click Big/d3/e4;search take2;search" << 30 << "30 tracks" << 0 << 3000 << 0;
    }
    void musicPanelScenarios()
    {
        QFETCH(QString, steps);
        QFETCH(int, music);
        QFETCH(QString, label);
        QFETCH(int, playlist);
        QFETCH(int, entries);
        QFETCH(int, waiting);
        makeScenarioFolders();
        QVERIFY(QFile::exists(scen + "/Big/d0/e0/take0.wav") || touch(scen + "/Big/d0/e0/take0.wav"));
        QVERIFY(QFile::exists(scen + "/Big/d0/e0/take1.wav") || touch(scen + "/Big/d0/e0/take1.wav"));
        {
            const QSignalBlocker block(w->autoMixBtn);
            w->autoMixBtn->setChecked(false);
        }
        pageButton(QStringLiteral("ALL MUSIC"))->click();
        w->libSearchBox->clear();
        resetLibrary();
        w->pendingPlaylistFolders.clear();
        w->rebuildLibraryTree();

        for (const QString& step : steps.split(QLatin1Char(';'))) {
            scenarioStep(step);
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(w->musicList->count(), music);
        QCOMPARE(w->musicCountLabel->text(), label);
        QCOMPARE(int(w->playlistPaths.size()), playlist);
        QCOMPARE(int(library()->entries().size()), entries);
        QCOMPARE(int(w->pendingPlaylistFolders.size()), waiting);

        const QSignalBlocker block(w->autoMixBtn);
        w->autoMixBtn->setChecked(false);
        w->stopMusicOnly();
        pageButton(QStringLiteral("ALL MUSIC"))->click();
        w->libSearchBox->clear();
    }

    // The tree's relabel after a refill, and the cleared handler.
    void countsAndClear()
    {
        resetLibrary();
        addRoot(lib + "/Beds");
        addRoot(lib + "/Jingles");
        w->rebuildLibraryTree();
        w->refreshMusicList();
        QCOMPARE(topRow(w->libraryTree, QStringLiteral("__all__"))->text(0), QStringLiteral("  All Music  (7)"));
        QCOMPARE(topRow(w->libraryTree, QStringLiteral("Beds"))->text(0), QStringLiteral("  📁  Beds  (2)"));

        // Cancel changes nothing; Yes clears the library, the lists and the tree.
        int answer = QMessageBox::Cancel;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            return r.kind == Modal::Kind::MessageBox ? QVariant(answer) : QVariant();
        });
        QPushButton* clearLib = A::rightPanel(w)->findChild<QPushButton*>(QStringLiteral("clearLibraryBtn"));
        QVERIFY(clearLib);
        clearLib->click();
        QCOMPARE(library()->entries().size(), 7);
        QCOMPARE(w->musicList->count(), 7);
        answer = QMessageBox::Yes;
        w->playlistPaths.insert(lib + "/Beds/bed one.wav");
        clearLib->click();
        QVERIFY(library()->entries().isEmpty());
        QCOMPARE(w->musicList->count(), 0);
        QVERIFY(w->playlistPaths.isEmpty());
        QCOMPARE(w->musicCountLabel->text(), QStringLiteral("0 tracks"));
        QCOMPARE(w->libraryTree->topLevelItemCount(), 1);
        // An empty library: a toast, no question.
        answer = -1;
        clearLib->click();
    }

    void startUpHooks()
    {
        resetLibrary();
        addRoot(lib + "/Beds");
        // The saved folders give the tree back at start.
        w->libraryTree->clear();
        w->rebuildLibraryTree();
        QCOMPARE(w->libraryTree->topLevelItemCount(), 2);
        QCOMPARE(w->libraryTree->currentItem(), w->libraryTree->topLevelItem(0));
        QCOMPARE(w->libraryTree->topLevelItem(0)->text(0), QStringLiteral("  All Music"));
        QVERIFY(topRow(w->libraryTree, QStringLiteral("Beds")));
    }
};

QTEST_MAIN(TestSidePanels)
#include "tst_sidepanels.moc"
