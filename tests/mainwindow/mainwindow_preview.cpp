// Shows the main window with a new session, or with a session of 16 tabs of
// 72 buttons in four panes, or with one toolbar menu open (menu0 to menu4),
// or with the About box, and saves a picture of the screen: a tool for
// looking at the window by eye, not a test.
//   mainwindow_preview new|big|menu0..menu4|about|combo|volmenu|padmenu|merge|mergelog|mergepad OUT.png
//                      [WIDTH HEIGHT]
// merge takes in a tab of the same name as the one there, with keys of its
// pads, and logs lines of each status: "merge" pictures the import's box
// after the toast's time, "mergelog" the tip of the long log line,
// "mergepad" the tip of a pad whose key now plays the added one.
// TR_PREVIEW_PRESET picks the colour preset by its stored name, TR_PREVIEW_SWITCH
// one to switch to while the window shows.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <QComboBox>
#include <QSlider>

#include "AppSettings.h"
#include "BundleManager.h"
#include "ButtonGrid.h"
#include "EventLog.h"
#include "SettingsKeys.h"
#include <QHelpEvent>
#include <QListWidget>
#include "GridHeader.h"
#include "MainWindow.h"
#include "SoundButton.h"
#include "MainWindowTestAccess.h"
#include "SessionManager.h"
#include "ThemeManager.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const int width = argc > 4 ? atoi(argv[3]) : 1380;
    const int height = argc > 4 ? atoi(argv[4]) : 860;
    TestSupport::isolateSettings();
    ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    // TR_PREVIEW_PRESET names another preset ("lightclassic", "slate", ...).
    if (qEnvironmentVariableIsSet("TR_PREVIEW_PRESET"))
        ThemeManager::instance()->applyPresetByName(qEnvironmentVariable("TR_PREVIEW_PRESET"));

    const bool merge = mode.startsWith(QLatin1String("merge"));
    if (merge)
        AppSettings().setValue(SettingsKeys::AdvancedShowLog, true);
    auto* w = new MainWindow;
    if (merge) {
        Session s = MainWindowTest::makeSession(1, 24);
        s.tabs[0].name = QStringLiteral("Main");
        s.layoutMode = 2;
        for (int k = 0; k < 4; ++k) {
            s.tabs[0].buttons[k].key = QString::number(k + 1);
            s.tabs[0].buttons[k].audioPath = QStringLiteral("/sounds/f%1.wav").arg(k + 1, 2, 10, QLatin1Char('0'));
        }
        const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("main.vx"));
        MainWindowTest::writeSession(s, path);
        w->openSessionFile(path);
    }
    if (mode == QLatin1String("big")) {
        Session s = MainWindowTest::makeSession(16, 72, QDir(TestSupport::tempDir()).filePath(QStringLiteral("a")));
        s.layoutMode = 4;
        const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("big.vx"));
        MainWindowTest::writeSession(s, path);
        QElapsedTimer clock;
        clock.start();
        w->openSessionFile(path);
        qInfo("session of 16 x 72 loaded in %lld ms", clock.elapsed());
    }
    w->resize(width, height);
    w->show();
    auto grab = [&] {
        QScreen* screen = QGuiApplication::primaryScreen();
        QPixmap shot = qEnvironmentVariableIsSet("TR_PREVIEW_WIDGET") ? w->grab() : screen->grabWindow(0);
        shot.save(out);
    };
    // Pictures a popup or box once it has had time to show.
    auto grabWhileShown = [&] {
        QEventLoop loop;
        QTimer::singleShot(600, &loop, [&] {
            grab();
            loop.quit();
        });
        loop.exec();
    };
    // TR_PREVIEW_SWITCH names a preset applied while the window shows, to
    // look at a theme change at run time.
    if (qEnvironmentVariableIsSet("TR_PREVIEW_SWITCH"))
        QTimer::singleShot(500, [] { ThemeManager::instance()->applyPresetByName(qEnvironmentVariable("TR_PREVIEW_SWITCH")); });
    // A merge waits until the toast of the opened session has gone.
    QTimer::singleShot(merge ? 4500 : 1500, [&] {
        if (merge) {
            QList<TabData> tabs = MainWindowTest::makeSession(1, 6).tabs;
            tabs[0].name = QStringLiteral("Main");
            for (int k = 0; k < 2; ++k) {
                tabs[0].buttons[k].key = QString::number(k + 1);
                tabs[0].buttons[k].audioPath = QStringLiteral("/sounds/m%1.wav").arg(k + 1);
            }
            EventLog* log = MainWindowTestAccess::eventLog(w);
            log->log(QStringLiteral("Audio"), QStringLiteral("Playing: Intro"), QStringLiteral("ok"));
            log->log(QStringLiteral("Transport"), QStringLiteral("Stop all"), QStringLiteral("warn"));
            log->log(QStringLiteral("Audio"), QStringLiteral("Cannot play \"f04\": the file is missing"),
                     QStringLiteral("error"));
            log->log(QStringLiteral("Session"), QStringLiteral("Saved"), QStringLiteral("info"));
            emit BundleManager::instance()->tabsReadyForSession(tabs);
            if (mode == QLatin1String("merge")) {
                // The log from its line of each status on.
                const QList<QListWidgetItem*> firsts =
                    log->list()->findItems(QStringLiteral("Playing: Intro"), Qt::MatchContains);
                if (!firsts.isEmpty())
                    log->list()->scrollToItem(firsts.first(), QAbstractItemView::PositionAtTop);
                // The import's box, as the user meets it, past the toast's time.
                auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Import"),
                                            QStringLiteral("Tab(s) added to the current session."), QMessageBox::Ok, w);
                box->setWindowModality(Qt::ApplicationModal);
                box->show();
                QTimer::singleShot(3500, [&] {
                    grab();
                    SessionManager::instance()->setDirty(false);   // no question at the quit
                    app.quit();
                });
                return;
            }
            if (mode == QLatin1String("mergelog")) {
                QListWidget* list = log->list();
                QListWidgetItem* item = list->item(list->count() - 1);
                const QPoint at = list->visualItemRect(item).center();
                QHelpEvent tip(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
                QApplication::sendEvent(list->viewport(), &tip);
            } else {
                // The first tab current: the added tab's pad, beside it, lost its key.
                MainWindowTestAccess::selectTab(w, 0);
                SoundButton* pad = w->gridPanels().at(1).grid->buttonWidget(0);
                const QPoint at(pad->width() / 2, pad->height() / 2);
                QHelpEvent tip(QEvent::ToolTip, at, pad->mapToGlobal(at));
                QApplication::sendEvent(pad, &tip);
            }
            QTimer::singleShot(600, [&] {
                grab();
                SessionManager::instance()->setDirty(false);   // no question at the quit
                app.quit();
            });
            return;
        }
        if (mode.startsWith(QLatin1String("menu"))) {
            MainWindowTestAccess::menuBarButtons(w).at(mode.mid(4).toInt())->click();
            QTimer::singleShot(600, [&] {
                grab();
                app.quit();
            });
            return;
        }
        if (mode == QLatin1String("combo")) {
            // The first pane's output list, open.
            if (QComboBox* combo = w->gridPanels().first().header->deviceCombo())
                combo->showPopup();
            QTimer::singleShot(600, [&] {
                grab();
                app.quit();
            });
            return;
        }
        if (mode == QLatin1String("volmenu") || mode == QLatin1String("padmenu")) {
            // The menu is shown instead of run, and pictured while it shows.
            TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
                if (r.menu) {
                    r.menu->popup(r.pos);
                    grabWhileShown();
                }
                return {};
            });
            if (mode == QLatin1String("volmenu")) {
                QSlider* vol = MainWindowTestAccess::volSlider(w);
                emit vol->customContextMenuRequested(QPoint(3, 3));
            } else {
                ButtonGrid* grid = w->gridPanels().first().grid;
                ButtonData d = grid->buttonWidget(0)->buttonData();
                d.loop = true;
                grid->buttonWidget(0)->setButtonData(d);
                grid->buttonWidget(0)->showContextMenu(grid->buttonWidget(0)->mapToGlobal(QPoint(20, 20)));
            }
            app.quit();
            return;
        }
        if (mode == QLatin1String("about")) {
            // The box is shown instead of run, and pictured while it shows.
            TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
                if (r.box) {
                    r.box->show();
                    grabWhileShown();
                }
                return {};
            });
            for (QMenu* m : MainWindowTestAccess::menuBarMenus(w))
                for (QAction* a : m->actions())
                    if (a->text() == QLatin1String("About Tarvello Rododu"))
                        a->trigger();
        } else {
            grab();
        }
        app.quit();
    });
    return app.exec();
}
