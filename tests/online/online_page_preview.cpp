// Pictures the ONLINE page on its own, fed by our server on 127.0.0.1: a
// tool for looking at it by eye, not a test.
//   online_page_preview dark|lightclassic catalogue|preview|error OUT.png
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "AppSettings.h"
#include "LocalHttpServer.h"
#include "MainWindow.h"
#include "OnlineLibraryManager.h"
#include "SettingsKeys.h"
#include "TestSupport.h"
#include "ThemeManager.h"

class OnlinePageTestAccess
{
public:
    static QWidget* build(MainWindow* w) { return w->buildOnlinePage(); }
    static QListWidget* list(MainWindow* w) { return w->onlineList; }
    static QLabel* status(MainWindow* w) { return w->onlineStatusLabel; }
};
using P = OnlinePageTestAccess;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 4)
        return 2;
    const QString preset = QString::fromLocal8Bit(argv[1]);
    const QString state = QString::fromLocal8Bit(argv[2]);
    const QString out = QString::fromLocal8Bit(argv[3]);
    TestSupport::isolateSettings();
    ThemeManager::instance()->applyPreset(preset == QLatin1String("lightclassic") ? ThemeManager::LightClassic
                                                                                  : ThemeManager::Dark);
    LocalHttpServer server;
    if (!server.listen())
        return 1;
    AppSettings().setValue(SettingsKeys::UpdateServiceUrl, server.url().toString());
    AppSettings().setValue(SettingsKeys::LibraryDownloadPath, TestSupport::tempDir());

    const QStringList beds{"Morning Show Bed.mp3", "News Intro.wav", "Traffic Sting.mp3", "Weather Bed.mp3"};
    const QStringList fx{"Air Horn.wav", "Applause (long).mp3", "Drum Roll.wav", "Laser Zap.wav", "Record Scratch.wav",
                         "Rimshot.wav", "Sad Trombone.mp3", "Whoosh.wav"};
    auto folder = [&](const QString& name, const QStringList& files, int seed) {
        QJsonArray list;
        for (int i = 0; i < files.size(); ++i)
            list.append(QJsonObject{{"name", files[i]}, {"url", server.url("/a/" + files[i]).toString()},
                                    {"duration", i % 3 == 2 ? QJsonValue(0) : QJsonValue(double(seed * 7 + i * 41))}});
        return QJsonObject{{"name", name}, {"files", list}};
    };
    server.route(QStringLiteral("/wp-json/tarvello-library/v1/folders"),
                 LocalHttpServer::Response::json(
                     QJsonDocument(QJsonObject{{"folders", QJsonArray{folder("Beds", beds, 9), folder("Sound FX", fx, 1)}}})
                         .toJson()));
    const QVector<qint16> tone = TestSupport::sine(440, 2.0, 2, 44100);
    const QString wav = TestSupport::tempDir() + QStringLiteral("/t.wav");
    TestSupport::writeWav16(wav, tone, 2, 44100);
    QFile f(wav);
    f.open(QIODevice::ReadOnly);
    const QByteArray audio = f.readAll();
    // The server matches paths as sent, with their escapes.
    auto path = [&](const QString& n) { return server.url("/a/" + n).path(QUrl::FullyEncoded); };
    for (const QString& n : beds + fx)
        server.route(path(n), LocalHttpServer::Response::ok(audio));
    LocalHttpServer::Response stall = LocalHttpServer::Response::ok(audio);
    stall.misbehaviour = LocalHttpServer::StallBeforeHeaders;
    server.route(path(QStringLiteral("Traffic Sting.mp3")), stall);

    auto* w = new MainWindow;
    QWidget* page = P::build(w);
    page->setParent(nullptr);
    page->setAttribute(Qt::WA_StyledBackground);
    page->setObjectName(QStringLiteral("leftPanel"));
    page->resize(300, 520);
    page->setMaximumWidth(300);
    page->show();
    OnlineLibraryManager::instance()->setTransferTimeout(1000);
    page->findChild<QPushButton*>(QStringLiteral("tgBtn"))->click();

    QTimer::singleShot(800, [&] {
        if (state == QLatin1String("preview"))
            emit P::list(w)->itemClicked(P::list(w)->item(1));
        if (state == QLatin1String("error"))
            emit P::list(w)->itemClicked(P::list(w)->item(2));
    });
    QTimer::singleShot(state == QLatin1String("error") ? 2500 : 1600, [&] {
        page->grab().save(out);
        app.quit();
    });
    const int rc = app.exec();
    delete page;
    delete w;
    return rc;
}
