// Loading a session into the main window: what stops, what the panes and
// controls show, what the session keeps, and opening files by path or drop.
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

#include "AudioEngine.h"
#include "ButtonGrid.h"
#include "DirectSoundEngine.h"
#include "EventLog.h"
#include "GridHeader.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "WasapiEngine.h"

using A = MainWindowTestAccess;

namespace {

QString writeTemp(const Session& s, const QString& name)
{
    const QString path = QDir(TestSupport::tempDir()).filePath(name);
    return MainWindowTest::writeSession(s, path) ? path : QString();
}

bool headerLit(GridHeader* h)
{
    // The Stop Tab button's playing look is the stronger accent fill.
    return h->stopButton()->styleSheet().contains(QLatin1String("0.35)"));
}

bool toastShownOrQueued()
{
    return ToastManager::instance()->current() || !ToastManager::instance()->queue().isEmpty();
}

} // namespace

class TestMainWindowLoad : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    QString audioDir;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        audioDir = QDir(TestSupport::tempDir()).filePath(QStringLiteral("audio"));
        w = new MainWindow;
        w->resize(1400, 900);
        w->show();
        QTRY_VERIFY_WITH_TIMEOUT(DirectSoundEngine::instance()->isInitialized(), 10000);   // null output
    }
    void cleanupTestCase() { delete w; }

    void loadWhileSoundsPlayStopsEverything()
    {
        Session s = MainWindowTest::makeSession(2, 24, audioDir);
        s.layoutMode = 2;
        const QString path = writeTemp(s, QStringLiteral("playing.vx"));
        w->openSessionFile(path);
        QCOMPARE(A::panels(w).size(), 2);

        const QString dsId = s.tabs[0].buttons[0].id;
        const QString waId = s.tabs[1].buttons[1].id;
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(dsId), 30000);
        QVERIFY(ds->triggerSingle(dsId, 1.0f));
        QVERIFY(ds->isPlaying(dsId));

        WasapiEngine* wasapi = WasapiEngine::instance();
        if (!wasapi->isActive())
            QVERIFY(wasapi->init(QString()));
        wasapi->cachePad(waId, QByteArray(8 * 44100, '\0'), 1.0f, true);
        QVERIFY(wasapi->trigger(waId, true));
        QVERIFY(wasapi->isPlaying(waId));

        // The display of both sounds, as the routing leaves it.
        w->onPlayStarted(dsId);
        w->onPlayStarted(waId);
        QVERIFY(A::panels(w)[0].grid->buttonWidgetById(dsId)->isPlaying());
        QVERIFY(headerLit(A::panels(w)[0].header));
        QVERIFY(headerLit(A::panels(w)[1].header));
        QVERIFY(!A::nowPlayingId(w).isEmpty());
        w->onPositionChanged(waId, 3000, 4000);
        QCOMPARE(A::npTime(w), QStringLiteral("0:03 / 0:04  -0:01"));
        const QPointer<QWidget> oldPanel = A::panels(w)[0].panel.data();

        // Reload the same file: the same ids come back in new panes.
        QVERIFY(SessionManager::instance()->loadSession(path));
        QVERIFY(!ds->isPlaying(dsId));
        QVERIFY(!wasapi->isPlaying(waId));
        QVERIFY(A::nowPlayingId(w).isEmpty());
        QCOMPARE(A::npTitle(w), QStringLiteral("No Track"));
        // No time on the idle strip, not even from a late report of a sound
        // of the set that was closed.
        QVERIFY(A::npTime(w).isEmpty());
        w->onPositionChanged(waId, 3500, 4000);
        QVERIFY(A::npTime(w).isEmpty());
        QVERIFY(oldPanel.isNull());
        QCOMPARE(A::panels(w).size(), 2);
        for (const MainWindow::GridPanel& p : A::panels(w)) {
            QVERIFY(!headerLit(p.header));
            for (int i = 0; i < p.grid->buttonCount(); ++i) {
                QVERIFY(!p.grid->buttonWidget(i)->isPlaying());
                QCOMPARE(p.grid->buttonWidget(i)->triggerMark(), quint8(0));
            }
        }
    }

    // A load is not an edit: nothing is marked changed, no toast, and the
    // controls show the file's values (master volume rounded, not truncated).
    void loadIsNotAnEdit()
    {
        Session s = MainWindowTest::makeSession(3, 36);
        s.globalVolume = 0.29;
        s.tabs[0].volume = 0.5;
        s.tabs[1].volume = 0.0;
        s.autoStop = true;
        s.restart = false;
        s.crossTabStop = false;
        const QString path = writeTemp(s, QStringLiteral("volumes.vx"));
        QTRY_VERIFY(!toastShownOrQueued());
        QVERIFY(SessionManager::instance()->loadSession(path));

        const Session& live = SessionManager::instance()->session();
        QVERIFY(!SessionManager::instance()->isDirty());
        QVERIFY(!w->windowTitle().endsWith(QLatin1String(" *")));
        QVERIFY(!toastShownOrQueued());
        QCOMPARE(A::volSlider(w)->value(), 29);
        QCOMPARE(live.globalVolume, 0.29);
        QCOMPARE(AudioEngine::instance()->globalVolume(), 0.29);
        QCOMPARE(A::panels(w)[0].header->m_volSlider->value(), 50);
        QCOMPARE(A::panels(w)[1].header->m_volSlider->value(), 100);   // 0 counts as full
        QCOMPARE(AudioEngine::instance()->tabVolume(0), 0.5);
        QCOMPARE(AudioEngine::instance()->tabVolume(1), 1.0);
        QCOMPARE(live.tabs[0].volume, 0.5);
        QVERIFY(A::autoStopToggle(w)->isChecked());
        QVERIFY(!A::restartToggle(w)->isChecked());
        QVERIFY(!A::crossTabStopToggle(w)->isChecked());
        QVERIFY(live.autoStop && !live.restart && !live.crossTabStop);
    }

    void loadFillsTablesAndClampsValues()
    {
        Session s = MainWindowTest::makeSession(3, 24, audioDir);
        s.tabs[0].buttons[3].key = QStringLiteral("A");
        s.tabs[1].buttons[0].key = QStringLiteral("A");
        s.tabs[2].buttons[5].key = QStringLiteral("B");
        s.tabs[2].buttons[5].audioPath.clear();   // a key without a sound is no trigger
        s.tabs[2].buttons.resize(3);              // short tab: the grid pads it
        s.tabs[2].buttons[1].id.clear();          // and gives ids
        s.tabs[1].buttons[2].id = s.tabs[0].buttons[0].id; // one id on two buttons
        s.tabs[2].buttons[0].id = s.tabs[0].buttons[0].id;
        s.activeTab = 9;
        s.globalVolume = 1e308;
        s.buttonsPerTab = 40;
        s.layoutMode = 4;
        QListWidget* log = A::eventLog(w)->list();
        const int logBefore = log->count();
        QVERIFY(SessionManager::instance()->loadSession(writeTemp(s, QStringLiteral("tables.vx"))));

        QCOMPARE(w->currentTabIndex(), 2);
        QCOMPARE(A::keyButtonMap(w).value(QStringLiteral("A")).id, s.tabs[1].buttons[0].id);
        QVERIFY(!A::keyButtonMap(w).contains(QStringLiteral("B")));
        const Session& live = SessionManager::instance()->session();
        for (const MainWindow::GridPanel& p : A::panels(w))
            QCOMPARE(p.grid->buttonCount(), 36);
        QCOMPARE(live.tabs[2].buttons.size(), 36);
        for (const ButtonData& b : live.tabs[2].buttons) {
            QVERIFY(!b.id.isEmpty());
            QCOMPARE(A::tabIndexCache(w).value(b.id, -1), 2);
        }
        QCOMPARE(live.tabs[2].buttons, A::panels(w)[2].grid->tab().buttons);
        QVERIFY(!SessionManager::instance()->isDirty());

        // The first holder of a repeated id keeps it; each other one gets an
        // id of its own, and the log says how many.
        const QString twin = s.tabs[0].buttons[0].id;
        QCOMPARE(live.tabs[0].buttons[0].id, twin);
        QSet<QString> ids;
        int count = 0;
        for (const TabData& t : live.tabs)
            for (const ButtonData& b : t.buttons)
                ids.insert(b.id), ++count;
        QCOMPARE(ids.size(), count);
        QCOMPARE(A::tabIndexCache(w).value(twin, -1), 0);
        QCOMPARE(A::tabIndexCache(w).value(live.tabs[1].buttons[2].id, -1), 1);
        QStringList lines;
        for (int k = logBefore; k < log->count(); ++k)
            lines << log->item(k)->text();
        QCOMPARE(lines.filter(QStringLiteral("2 buttons had the id of another and got new ones")).size(), 1);

        // A master volume beyond full shows and plays at full.
        QCOMPARE(live.globalVolume, 1.0);
        QCOMPARE(A::volSlider(w)->value(), 100);
        QCOMPARE(AudioEngine::instance()->globalVolume(), 1.0);

        // An unknown layout mode keeps the panes as they are.
        s.layoutMode = 3;
        QVERIFY(SessionManager::instance()->loadSession(writeTemp(s, QStringLiteral("mode3.vx"))));
        QCOMPARE(w->currentLayoutMode(), 4);
    }

    void openSessionFileTellsTheUser()
    {
        QStringList boxes;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            boxes << r.title + QLatin1Char('|') + r.text;
            return int(QMessageBox::Ok);
        });
        const QString missing = QDir(TestSupport::tempDir()).filePath(QStringLiteral("gone.vx"));
        w->openSessionFile(missing);
        QCOMPARE(boxes, QStringList{QStringLiteral("Error|File not found:\n") + missing});

        const QString broken = QDir(TestSupport::tempDir()).filePath(QStringLiteral("broken.vx"));
        {
            QFile f(broken);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("{ not json");
        }
        const QString tabBefore = SessionManager::instance()->session().tabs[0].id;
        boxes.clear();
        w->openSessionFile(broken);
        QCOMPARE(boxes, QStringList{QStringLiteral("Error|Failed to load session:\n") + broken});
        QCOMPARE(SessionManager::instance()->session().tabs[0].id, tabBefore);
        QVERIFY(A::panels(w)[0].grid);

        boxes.clear();
        const QString show = writeTemp(MainWindowTest::makeSession(1, 24), QStringLiteral("show.final.vx"));
        w->openSessionFile(show);
        QVERIFY(boxes.isEmpty());
        QCOMPARE(w->windowTitle(), QStringLiteral("Tarvello Rododu — show"));
        bool toasted = false;
        for (const ToastManager::Pending& p : ToastManager::instance()->queue())
            toasted = toasted || p.text == QStringLiteral("📂  Session opened: show");
        if (ToastWidget* t = ToastManager::instance()->current())
            toasted = toasted || t->textLabel()->text() == QStringLiteral("📂  Session opened: show");
        QVERIFY(toasted);
    }

    void sessionFileDroppedOnTheWindow()
    {
        Session s = MainWindowTest::makeSession(2, 24);
        const QString upper = writeTemp(s, QStringLiteral("SET.VX"));
        const QString other = writeTemp(MainWindowTest::makeSession(1, 24), QStringLiteral("other.vx"));
        const QString mp3 = QDir(TestSupport::tempDir()).filePath(QStringLiteral("song.mp3"));

        auto drop = [&](const QStringList& paths) {
            QMimeData md;
            QList<QUrl> urls;
            for (const QString& p : paths)
                urls << QUrl::fromLocalFile(p);
            md.setUrls(urls);
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &md, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(w, &enter);
            QDropEvent ev(QPointF(5, 5), Qt::CopyAction, &md, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(w, &ev);
            return enter.isAccepted();
        };
        QVERIFY(!drop({mp3}));
        QVERIFY(drop({upper, other}));
        QCOMPARE(SessionManager::instance()->session().filePath, upper);
        QCOMPARE(SessionManager::instance()->session().tabs.size(), 2);
    }
};

QTEST_MAIN(TestMainWindowLoad)
#include "tst_mainwindow_load.moc"
