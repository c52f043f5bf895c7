// The window taking in a bundle: merged tabs (limit, identities, panes,
// toasts, the padded button list) and a new session with its MIDI table.
#include <QMessageBox>
#include <QListWidget>
#include <QRadioButton>
#include <QtTest>

#include <algorithm>

#include "../mainwindow/MainWindowTestAccess.h"
#include "AppSettings.h"
#include "BundleManager.h"
#include "BundleWorker.h"
#include "ButtonGrid.h"
#include "EventLog.h"
#include "MidiManager.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "ToastCapture.h"

using A = MainWindowTestAccess;

class TestBundleWindow : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;

    static QByteArray settingsBytes()
    {
        AppSettings s;
        s.sync();
        QFile f(s.fileName());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // n tabs; the first one's first pads hold sounds and the keys given; the
    // second tab's stop key is secondStop.
    void loadTabs(int n, const QStringList& keys = {}, const QString& stopKey = {}, const QString& secondStop = {})
    {
        Session s = MainWindowTest::makeSession(n, 24);
        for (int k = 0; k < keys.size(); ++k) {
            s.tabs[0].buttons[k].key = keys[k];
            s.tabs[0].buttons[k].audioPath = QStringLiteral("/sounds/base%1.wav").arg(k);
        }
        s.tabs[0].stopKey = stopKey;
        if (n > 1)
            s.tabs[1].stopKey = secondStop;
        const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("base.vx"));
        QVERIFY(MainWindowTest::writeSession(s, path));
        SessionManager::instance()->setDirty(false);
        w->openSessionFile(path);
        QCOMPARE(A::panels(w).size(), n);
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        w = new MainWindow;
        w->resize(1200, 800);
        w->show();
    }
    void cleanupTestCase() { delete w; }

    void merge_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("incoming");
        QTest::addColumn<int>("added");
        // Keys of the first tab's pads and its stop key; the same of the
        // first merged tab; the keys the merge reports as shared.
        QTest::addColumn<QStringList>("baseKeys");
        QTest::addColumn<QString>("baseStop");
        QTest::addColumn<QStringList>("mergedKeys");
        QTest::addColumn<QString>("mergedStop");
        QTest::addColumn<QStringList>("shared");
        // The first merged tab's name, and how the reports name the first
        // tab already there and the first merged tab: by place as well when
        // the two bear the same name.
        QTest::addColumn<QString>("mergedName");
        QTest::addColumn<QString>("baseLabel");
        QTest::addColumn<QString>("mergedLabel");
        // The second tab's stop key, and how the shared keys' report names
        // the tabs already there that use them.
        QTest::addColumn<QString>("secondStop");
        QTest::addColumn<QString>("listLabel");
        const QString base = QStringLiteral("tab 'Tab 1'"), merged = QStringLiteral("tab 'Merged 0'");
        QTest::newRow("room for all") << 1 << 2 << 2 << QStringList() << "" << QStringList() << "" << QStringList()
                                      << "Merged 0" << base << merged << "" << base;
        QTest::newRow("14 tabs and three more")
            << 14 << 3 << 2 << QStringList() << "" << QStringList() << "" << QStringList() << "Merged 0" << base
            << merged << "" << base;
        QTest::newRow("16 tabs") << 16 << 1 << 0 << QStringList() << "" << QStringList() << "" << QStringList()
                                 << "Merged 0" << base << merged << "" << base;
        QTest::newRow("keys of their own") << 1 << 1 << 1 << QStringList{"1", "2"} << "F1" << QStringList{"Q", "W"}
                                           << "F2" << QStringList() << "Merged 0" << base << merged << "" << base;
        QTest::newRow("pads' keys and a stop key shared")
            << 2 << 2 << 2 << QStringList{"1", "2", "3", "4"} << "F1" << QStringList{"4", "2", "X"} << "3"
            << QStringList{"4", "2", "3"} << "Merged 0" << base << merged << "" << base;
        QTest::newRow("the same stop key") << 1 << 1 << 1 << QStringList{"1"} << "F1" << QStringList{"Q"} << "F1"
                                           << QStringList{"F1"} << "Merged 0" << base << merged << "" << base;
        QTest::newRow("a merged tab of a name already there")
            << 2 << 2 << 2 << QStringList{"1", "2", "3", "4"} << "F1" << QStringList{"4", "2", "X"} << "3"
            << QStringList{"4", "2", "3"} << "Tab 1" << "tab 1 'Tab 1'" << "tab 3 'Tab 1'" << ""
            << "tab 1 'Tab 1'";
        QTest::newRow("the same stop key, the same name")
            << 1 << 1 << 1 << QStringList{"1"} << "F1" << QStringList{"Q"} << "F1" << QStringList{"F1"} << "Tab 1"
            << "tab 1 'Tab 1'" << "tab 2 'Tab 1'" << "" << "tab 1 'Tab 1'";
        QTest::newRow("keys of two tabs, one of the name merged")
            << 2 << 1 << 1 << QStringList{"1"} << "F1" << QStringList{"1"} << "F3" << QStringList{"1", "F3"} << "Tab 2"
            << base << "tab 3 'Tab 2'" << "F3" << "tabs 1 'Tab 1', 2 'Tab 2'";
    }
    void merge()
    {
        QFETCH(int, before);
        QFETCH(int, incoming);
        QFETCH(int, added);
        QFETCH(QStringList, baseKeys);
        QFETCH(QString, baseStop);
        QFETCH(QStringList, mergedKeys);
        QFETCH(QString, mergedStop);
        QFETCH(QStringList, shared);
        QFETCH(QString, mergedName);
        QFETCH(QString, baseLabel);
        QFETCH(QString, mergedLabel);
        QFETCH(QString, secondStop);
        QFETCH(QString, listLabel);
        loadTabs(before, baseKeys, baseStop, secondStop);
        const int activeBefore = SessionManager::instance()->session().activeTab;
        TestSupport::takeToasts();
        A::eventLog(w)->clear();

        QList<TabData> tabs = MainWindowTest::makeSession(incoming, 6).tabs;
        for (int i = 0; i < tabs.size(); ++i) {
            tabs[i].name = QStringLiteral("Merged %1").arg(i);
            tabs[i].color = QColor();   // shown as stored, no stand-in
            for (int k = 0; k <= i && k < tabs[i].buttons.size(); ++k)
                tabs[i].buttons[k].audioPath = QStringLiteral("/sounds/merged%1.wav").arg(k);
        }
        for (int k = 0; k < mergedKeys.size(); ++k) {
            tabs[0].buttons[k].key = mergedKeys[k];
            tabs[0].buttons[k].audioPath = QStringLiteral("/sounds/merged%1.wav").arg(k);
        }
        tabs[0].stopKey = mergedStop;
        tabs[0].name = mergedName;
        const QString firstId = tabs.first().id;
        const QString firstButton = tabs.first().buttons.first().id;
        emit BundleManager::instance()->tabsReadyForSession(tabs);

        const Session& s = SessionManager::instance()->session();
        QCOMPARE(s.tabs.size(), before + added);
        QCOMPARE(A::panels(w).size(), before + added);
        QCOMPARE(A::currentTab(w), before + added - 1);
        QCOMPARE(s.activeTab, activeBefore);
        QVERIFY(SessionManager::instance()->isDirty());
        QCOMPARE(A::tabButtons(w).size(), before + added);
        QStringList toasts;
        if (added < incoming)
            toasts << QStringLiteral("⚠️  Tab limit (16) reached — some imported tabs were skipped.");
        toasts << QStringLiteral("✅  %1 tab(s) imported into session").arg(added);
        // Keys the tabs already there use are still taken, the later button
        // winning, and the merge says so: how many, and whose.
        const QString count = shared.size() == 1 ? QStringLiteral("1 key") : QStringLiteral("%1 keys").arg(shared.size());
        if (!shared.isEmpty())
            toasts << QStringLiteral("⚠️  The added tabs reuse %1 of %2: the later button wins (see the "
                                     "event log).")
                          .arg(count, listLabel);
        QCOMPARE(TestSupport::takeToasts(), toasts);
        const QListWidget* log = A::eventLog(w)->list();
        QStringList lines;
        for (int i = 0; i < log->count(); ++i)
            if (log->item(i)->text().contains(QStringLiteral("The added tabs reuse")))
                lines << log->item(i)->text();
        QCOMPARE(lines.size(), shared.isEmpty() ? 0 : 1);
        if (!shared.isEmpty())
            QVERIFY2(lines[0].contains(QStringLiteral("reuse %1 of %2: %3.").arg(count, listLabel, shared.join(", "))),
                     qPrintable(lines[0]));
        // The status bar counts the tab that is current now.
        const QList<ButtonData>& current = s.tabs.at(A::currentTab(w)).buttons;
        const auto withFile = std::count_if(current.cbegin(), current.cend(),
                                            [](const ButtonData& b) { return !b.audioPath.isEmpty(); });
        QCOMPARE(A::statusButtons(w)->text(), QStringLiteral("Btns: %1/%2").arg(withFile).arg(current.size()));
        if (added == 0)
            return;
        const TabData& first = s.tabs.at(before);
        QCOMPARE(first.name, mergedName);
        QVERIFY(first.id != firstId);
        QVERIFY(first.buttons.first().id != firstButton);
        // The grid's padded list went back into the session, as at a load.
        QVERIFY(first.buttons.size() > 6);
        QCOMPARE(first.buttons, A::panels(w).at(before).grid->tab().buttons);

        // No pad shows a key that plays another as its own: with an added
        // tab current the added buttons (or a tab key) hold the shared keys;
        // with the first tab current its own pads play them again, and the
        // added pad shows its key as taken.
        const auto holderOf = [&](int tab, int pad) { return w->keyHolderOf(s.tabs[tab].buttons[pad]); };
        for (int k = 0; k < baseKeys.size(); ++k) {
            const QString holder = holderOf(0, k);
            QCOMPARE(holder.isEmpty(), !shared.contains(baseKeys[k]));
            if (baseKeys[k] == mergedStop)
                QCOMPARE(holder, QStringLiteral("the Stop Tab key of ") + mergedLabel);
            else if (!holder.isEmpty())
                QCOMPARE(holder, QStringLiteral("button \"merged%1\" on %2")
                                     .arg(mergedKeys.indexOf(baseKeys[k]))
                                     .arg(mergedLabel));
        }
        for (int k = 0; k < mergedKeys.size(); ++k)
            QVERIFY2(holderOf(before, k).isEmpty(), qPrintable(holderOf(before, k)));
        A::selectTab(w, 0);
        for (int k = 0; k < baseKeys.size(); ++k)
            QCOMPARE(holderOf(0, k).isEmpty(), baseKeys[k] != mergedStop);
        for (int k = 0; k < mergedKeys.size(); ++k) {
            const bool takenBack = baseKeys.contains(mergedKeys[k]);
            QCOMPARE(holderOf(before, k),
                     takenBack ? QStringLiteral("button \"base%1\" on %2")
                                     .arg(baseKeys.indexOf(mergedKeys[k]))
                                     .arg(baseLabel)
                               : QString());
        }
        // The pad draws what the window answers.
        SoundButton* pad = A::panels(w).at(0).grid->buttonWidget(0);
        if (pad && !baseKeys.isEmpty())
            QCOMPARE(pad->keyHolder(), holderOf(0, 0));
    }

    void mergedPaddedButtonSurvivesSaveAndReload()
    {
        loadTabs(1);
        QList<TabData> tabs = MainWindowTest::makeSession(1, 3).tabs;
        emit BundleManager::instance()->tabsReadyForSession(tabs);
        Session& s = SessionManager::instance()->session();
        QCOMPARE(s.tabs.size(), 2);
        const QString padId = s.tabs[1].buttons.at(20).id;
        QVERIFY(!padId.isEmpty());
        s.tabs[1].buttons[20].name = QStringLiteral("edited pad");
        const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("saved.vx"));
        QVERIFY(SessionManager::instance()->saveSession(path));
        w->openSessionFile(path);
        const Session& back = SessionManager::instance()->session();
        QCOMPARE(back.tabs[1].buttons.at(20).id, padId);
        QCOMPARE(back.tabs[1].buttons.at(20).name, QStringLiteral("edited pad"));
    }

    // A bundle taken in through the whole import, over a session with unsaved
    // changes and two mappings of the user's own (a note and the master volume
    // controller). Nothing of the bundle is taken in unless the user goes on.
    void newSessionLoadsAndTakesUpMidi_data()
    {
        QTest::addColumn<bool>("merge");
        QTest::addColumn<bool>("confirm");   // the import's confirmation accepted
        QTest::addColumn<int>("unsaved");    // the answer to "Unsaved Changes"
        QTest::addColumn<bool>("opened");    // the bundle's project became the session
        QTest::newRow("new session, changes discarded") << false << true << int(QMessageBox::Discard) << true;
        QTest::newRow("new session, cancelled at the question") << false << true << int(QMessageBox::Cancel) << false;
        QTest::newRow("new session, cancelled at the confirmation") << false << false << 0 << false;
        QTest::newRow("merge, cancelled at the confirmation") << true << false << 0 << false;
        QTest::newRow("merge") << true << true << 0 << false;
    }
    void newSessionLoadsAndTakesUpMidi()
    {
        QFETCH(bool, merge);
        QFETCH(bool, confirm);
        QFETCH(int, unsaved);
        QFETCH(bool, opened);
        const QString dir = TestSupport::tempDir();

        // The bundle: three tabs, its own table binds note 60 to its first button.
        const Session s = MainWindowTest::makeSession(3, 24);
        const QString projectPath = dir + QStringLiteral("/Imported.vx");
        QVERIFY(MainWindowTest::writeSession(s, projectPath));
        MidiManager* midi = MidiManager::instance();
        MidiMapping theirs;
        theirs.channel = 1;
        theirs.number = 60;
        theirs.buttonId = s.tabs[0].buttons[0].id;
        midi->replaceMappings({theirs});
        const QString bundle = dir + QStringLiteral("/show.vxbundle");
        BundleWorker exporter;
        exporter.setupExport(projectPath, bundle, s);
        QVERIFY(exporter.runExport());

        // The user's session, changed and not saved, with the user's table.
        loadTabs(1);
        const QString userFile = SessionManager::instance()->session().filePath;
        MidiMapping note;
        note.channel = 2;
        note.number = 36;
        note.buttonId = SessionManager::instance()->session().tabs[0].buttons[0].id;
        MidiMapping volume;
        volume.channel = 1;
        volume.number = 7;
        volume.isCC = true;
        volume.control = QStringLiteral("__main_volume__");
        midi->replaceMappings({note, volume});
        SessionManager::instance()->markDirty();
        const QList<MidiMapping> mappingsBefore = midi->allMappings();
        const QByteArray settingsBefore = settingsBytes();

        const QString base = dir + QStringLiteral("/into");
        QDir().mkpath(base);
        QStringList boxes;
        bool asked = false;
        TestSupport::ModalScript modal([&](const Modal::Request& r) -> QVariant {
            switch (r.kind) {
            case Modal::Kind::OpenFile:
                return bundle;
            case Modal::Kind::Directory:
                return base;
            case Modal::Kind::Dialog:
                if (r.title == QLatin1String("Import Bundle")) {
                    r.dialog->findChild<QRadioButton*>(merge ? "merge" : "newSession")->setChecked(true);
                    return QDialog::Accepted;
                }
                return confirm ? QDialog::Accepted : QDialog::Rejected;
            case Modal::Kind::MessageBox:
                boxes << r.title;
                if (r.title == QLatin1String("Unsaved Changes")) {
                    asked = true;
                    return unsaved;
                }
                return QMessageBox::Ok;
            default:
                return QVariant();
            }
        });
        const qsizetype tabsBefore = SessionManager::instance()->session().tabs.size();
        BundleManager::instance()->importBundle(w);
        if (confirm && merge)
            QTRY_VERIFY(SessionManager::instance()->session().tabs.size() > tabsBefore);
        else if (confirm)
            QTRY_VERIFY(asked);
        QCoreApplication::processEvents();

        const Session& now = SessionManager::instance()->session();
        if (opened) {
            QCOMPARE(now.filePath, base + QStringLiteral("/project/project.vx"));
            QCOMPARE(A::panels(w).size(), 3);
            QCOMPARE(SessionManager::instance()->recentFiles().value(0), now.filePath);
            QCOMPARE(midi->mappingForButton(now.tabs[0].buttons[0].id).number, 60);
            QVERIFY(!midi->mappingForButton(note.buttonId).isBound());
            return;
        }
        // Kept: the session, the recent files, the table and every setting.
        QCOMPARE(now.filePath, userFile);
        QCOMPARE(now.tabs.size(), merge && confirm ? tabsBefore + 3 : tabsBefore);
        QVERIFY(SessionManager::instance()->isDirty());
        QCOMPARE(midi->allMappings(), mappingsBefore);
        QCOMPARE(settingsBytes(), settingsBefore);
        if (confirm && !merge)
            QCOMPARE(boxes, QStringList({QStringLiteral("Bundle"), QStringLiteral("Unsaved Changes")}));
    }
};

QTEST_MAIN(TestBundleWindow)
#include "tst_bundle_window.moc"
