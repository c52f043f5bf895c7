// The window taking in a bundle: merged tabs (limit, identities, panes,
// toasts, the padded button list) and a new session with its MIDI table.
#include <QMessageBox>
#include <QtTest>

#include <algorithm>

#include "../mainwindow/MainWindowTestAccess.h"
#include "AppSettings.h"
#include "BundleManager.h"
#include "ButtonGrid.h"
#include "MidiManager.h"
#include "SessionManager.h"
#include "ToastCapture.h"

using A = MainWindowTestAccess;

class TestBundleWindow : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;

    void loadTabs(int n)
    {
        const Session s = MainWindowTest::makeSession(n, 24);
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
        QTest::newRow("room for all") << 1 << 2 << 2;
        QTest::newRow("14 tabs and three more") << 14 << 3 << 2;
        QTest::newRow("16 tabs") << 16 << 1 << 0;
    }
    void merge()
    {
        QFETCH(int, before);
        QFETCH(int, incoming);
        QFETCH(int, added);
        loadTabs(before);
        const int activeBefore = SessionManager::instance()->session().activeTab;
        TestSupport::takeToasts();

        QList<TabData> tabs = MainWindowTest::makeSession(incoming, 6).tabs;
        for (int i = 0; i < tabs.size(); ++i) {
            tabs[i].name = QStringLiteral("Merged %1").arg(i);
            tabs[i].color = QColor();   // shown as stored, no stand-in
            for (int k = 0; k <= i && k < tabs[i].buttons.size(); ++k)
                tabs[i].buttons[k].audioPath = QStringLiteral("/sounds/merged%1.wav").arg(k);
        }
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
        QCOMPARE(TestSupport::takeToasts(), toasts);
        // The status bar counts the tab that is current now.
        const QList<ButtonData>& current = s.tabs.at(A::currentTab(w)).buttons;
        const auto withFile = std::count_if(current.cbegin(), current.cend(),
                                            [](const ButtonData& b) { return !b.audioPath.isEmpty(); });
        QCOMPARE(A::statusButtons(w)->text(), QStringLiteral("Btns: %1/%2").arg(withFile).arg(current.size()));
        if (added == 0)
            return;
        const TabData& first = s.tabs.at(before);
        QCOMPARE(first.name, QStringLiteral("Merged 0"));
        QVERIFY(first.id != firstId);
        QVERIFY(first.buttons.first().id != firstButton);
        // The grid's padded list went back into the session, as at a load.
        QVERIFY(first.buttons.size() > 6);
        QCOMPARE(first.buttons, A::panels(w).at(before).grid->tab().buttons);
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

    void newSessionLoadsAndTakesUpMidi()
    {
        loadTabs(1);
        const Session s = MainWindowTest::makeSession(3, 24);
        const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("Imported.vx"));
        QVERIFY(MainWindowTest::writeSession(s, path));
        {
            AppSettings st;
            st.remove(QStringLiteral("midi"));
            st.setValue(QStringLiteral("midi/count"), 1);
            st.setValue(QStringLiteral("midi/0_btn"), s.tabs[0].buttons[0].id);
            st.setValue(QStringLiteral("midi/0_note"), 60);
            st.setValue(QStringLiteral("midi/0_ch"), 1);
        }
        TestSupport::ModalScript modal([](const Modal::Request&) { return QVariant(int(QMessageBox::Discard)); });
        BundleManager::instance()->notifyImportDone(path);
        QTRY_COMPARE(SessionManager::instance()->session().filePath, path);
        QCOMPARE(A::panels(w).size(), 3);
        QCOMPARE(SessionManager::instance()->recentFiles().value(0), path);
        QCOMPARE(MidiManager::instance()->mappingForButton(s.tabs[0].buttons[0].id).number, 60);
    }
};

QTEST_MAIN(TestBundleWindow)
#include "tst_bundle_window.moc"
