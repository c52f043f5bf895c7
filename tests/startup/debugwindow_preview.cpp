// A picture of the debug window by eye: debugwindow_preview out.png
#include <QApplication>

#include "DebugWindow.h"
#include "SessionManager.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Session& s = SessionManager::instance()->session();
    TabData tab;
    ButtonData b;
    b.name = QStringLiteral("Morning Ident");
    b.audioPath = QStringLiteral("/home/dj/sounds/ident.wav");
    b.trimStart = 0.25;
    b.trimEnd = 4.5;
    tab.buttons << b;
    s.tabs = {tab};

    DebugWindow w;
    w.log(QStringLiteral("WARN"), QStringLiteral("QWidget::setMinimumSize: negative size <ignored>"));
    w.log(QStringLiteral("DBG"), QStringLiteral("device list refreshed"));
    w.log(QStringLiteral("PLAY"), QStringLiteral("playStarted: 1b2c"));
    w.log(QStringLiteral("STOP"), QStringLiteral("playStopped: 1b2c"));
    w.log(QStringLiteral("ERROR"), QStringLiteral("decoder gave up"));
    w.testAudioEngine();
    w.testTrim();
    w.show();
    QApplication::processEvents();
    w.grab().save(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("debugwindow.png"));
    return 0;
}
