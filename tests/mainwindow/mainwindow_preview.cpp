// Shows the main window with a new session, or with a session of 16 tabs of
// 72 buttons in four panes, or with one toolbar menu open (menu0 to menu4),
// or with the About box, and saves a picture of the screen: a tool for
// looking at the window by eye, not a test.
//   mainwindow_preview new|big|menu0..menu4|about|combo|volmenu|padmenu OUT.png [WIDTH HEIGHT]
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

#include "ButtonGrid.h"
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

    auto* w = new MainWindow;
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
    QTimer::singleShot(1500, [&] {
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
