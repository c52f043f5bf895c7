// Shows the main window at a given width with one toolbar menu open, or the
// About box, and saves a picture of the screen: a tool for looking at the
// menus by eye, not a test.
//   menus_preview bar|menu0..menu4|about OUT.png [WIDTH]
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "SessionManager.h"
#include "ThemeManager.h"

namespace {

void grabTo(const QString& out)
{
    QGuiApplication::primaryScreen()->grabWindow(0).save(out);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const int width = argc > 3 ? atoi(argv[3]) : 1380;
    TestSupport::isolateSettings();
    ThemeManager::instance()->applyPreset(ThemeManager::Dark);

    auto* w = new MainWindow;
    Session s = MainWindowTest::makeSession(4, 36, QDir(TestSupport::tempDir()).filePath(QStringLiteral("a")));
    s.layoutMode = 2;
    const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("Morning Show.vx"));
    MainWindowTest::writeSession(s, path);
    w->openSessionFile(path);
    w->move(0, 0);
    w->resize(width, 700);
    w->show();

    QTimer::singleShot(1200, [&] {
        if (mode.startsWith(QLatin1String("menu"))) {
            const int i = mode.mid(4).toInt();
            MainWindowTestAccess::menuBarButtons(w).at(i)->click();
            QTimer::singleShot(600, [&] {
                grabTo(out);
                app.quit();
            });
        } else if (mode == QLatin1String("about")) {
            TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
                if (r.box) {
                    r.box->show();
                    QEventLoop loop;
                    QTimer::singleShot(600, &loop, [&] {
                        grabTo(out);
                        loop.quit();
                    });
                    loop.exec();
                }
                return {};
            });
            for (QMenu* m : MainWindowTestAccess::menuBarMenus(w))
                for (QAction* a : m->actions())
                    if (a->text() == QLatin1String("About Tarvello Rododu"))
                        a->trigger();
            app.quit();
        } else {
            grabTo(out);
            app.quit();
        }
    });
    return app.exec();
}
