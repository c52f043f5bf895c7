// Shows the main window with the update bar as an offer leaves it, normal or
// urgent, and saves a picture: a tool for looking at the bar by eye, not a test.
//   update_preview normal|forced OUT.png [WIDTH HEIGHT]
#include <QApplication>
#include <QScreen>

#include "ThemeManager.h"
#include "UpdateSupport.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const bool forced = QString::fromLocal8Bit(argv[1]) == QLatin1String("forced");
    const QString out = QString::fromLocal8Bit(argv[2]);
    const int width = argc > 4 ? atoi(argv[3]) : 1380;
    const int height = argc > 4 ? atoi(argv[4]) : 860;
    TestSupport::isolateSettings();
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.84"));
    ThemeManager::instance()->applyPreset(ThemeManager::Dark);

    LocalHttpServer server;
    if (!server.listen())
        return 1;
    const QByteArray body = forced
        ? R"({"success":true,"latest_version":"2.1.0","update_active":true,"force_update":true,
             "enable_download":true,"download_url":"http://127.0.0.1/p.deb","update_notes":"Fixes a crash on start"})"
        : R"({"success":true,"latest_version":"2.1.0","update_active":true,"enable_download":true,
             "download_url":"http://127.0.0.1/p.deb",
             "update_notes":"Pads fire faster, MIDI learn for tab volumes, and a calmer dark theme for long shows"})";
    server.route(UpdateTest::kPath, LocalHttpServer::Response::json(body));
    UpdateTest::setService(server.url());

    auto* w = new MainWindow;
    UpdateTestAccess::startTimer(w)->stop();
    w->resize(width, height);
    w->show();
    w->checkForUpdates(true);
    UpdateTest::settle(w);
    QTimer::singleShot(1000, [&] {
        QPixmap shot = qEnvironmentVariableIsSet("TR_PREVIEW_WIDGET") ? w->grab()
                                                                       : QGuiApplication::primaryScreen()->grabWindow(0);
        shot.save(out);
        app.quit();
    });
    return app.exec();
}
