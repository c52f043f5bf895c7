#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "WindowManager.h"

// The list only keeps window addresses and never touches the windows, so the
// test stands in distinct addresses for real main windows.
namespace {
char g_slots[4];
MainWindow* fakeWindow(int i)
{
    return reinterpret_cast<MainWindow*>(&g_slots[i]);
}

// Sees the application's quit request.
class QuitWatch : public QObject
{
public:
    bool seen = false;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Quit)
            seen = true;
        return false;
    }
};

// Runs the application's event loop, as start-up does, with action as its
// first event; when the action does not quit it, the next event ends it with 7.
int runLoopWith(const std::function<void()>& action)
{
    QuitWatch watch;
    qApp->installEventFilter(&watch);
    QTimer::singleShot(0, action);
    QTimer::singleShot(0, qApp, [&watch] {
        if (!watch.seen)
            QCoreApplication::exit(7);
    });
    const int code = QCoreApplication::exec();
    qApp->removeEventFilter(&watch);
    return code;
}
} // namespace

class TstWindowManager : public QObject
{
    Q_OBJECT
private slots:
    void registerKeepsOneEntryPerWindow()
    {
        auto* wm = WindowManager::instance();
        QCOMPARE(WindowManager::instance(), wm);
        QSignalSpy changed(wm, &WindowManager::windowListChanged);
        wm->registerWindow(fakeWindow(0));
        wm->registerWindow(fakeWindow(0));
        QCOMPARE(changed.size(), 1);
        wm->registerWindow(fakeWindow(1));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(wm->windows(), QList<MainWindow*>({fakeWindow(0), fakeWindow(1)}));
    }

    void unregisteringAStrangerDoesNotQuit()
    {
        auto* wm = WindowManager::instance();
        QSignalSpy changed(wm, &WindowManager::windowListChanged);
        const int code = runLoopWith([wm] { wm->unregisterWindow(fakeWindow(3)); });
        QCOMPARE(code, 7);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(wm->windows().size(), 2);

        QCOMPARE(runLoopWith([wm] { wm->unregisterWindow(fakeWindow(0)); }), 7);
        QCOMPARE(wm->windows(), QList<MainWindow*>({fakeWindow(1)}));
        QCOMPARE(changed.size(), 2);
    }

    void theLastWindowQuits()
    {
        auto* wm = WindowManager::instance();
        QSignalSpy changed(wm, &WindowManager::windowListChanged);
        QCOMPARE(runLoopWith([wm] { wm->unregisterWindow(fakeWindow(1)); }), 0);
        QCOMPARE(changed.size(), 1);
        QVERIFY(wm->windows().isEmpty());
    }

    void openNewWindowUsesTheFactory()
    {
        auto* wm = WindowManager::instance();
        QCOMPARE(wm->openNewWindow(), nullptr); // nothing set yet
        int made = 0;
        WindowManager::setWindowFactory([&made, wm] {
            MainWindow* w = fakeWindow(2);
            ++made;
            wm->registerWindow(w); // as the window's constructor does
            return w;
        });
        QCOMPARE(wm->openNewWindow(), fakeWindow(2));
        QCOMPARE(made, 1);
        QCOMPARE(wm->windows(), QList<MainWindow*>({fakeWindow(2)}));
        WindowManager::setWindowFactory(nullptr);
    }
};

QTEST_MAIN(TstWindowManager)
#include "tst_windowmanager.moc"
