// The online library against our own server on 127.0.0.1, each figure beside
// a reference measured in the same run:
// - a 100 MB download through OnlineLibraryManager::downloadFile until
//   downloadFinished, against reading the same bytes with a plain socket
//   into a file;
// - a catalogue of 10,000 files from the ONLINE page's refresh until its list
//   shows them, against QJsonDocument::fromJson of the same bytes alone;
// - a preview click on the page until the first sound of a 5 MB file on the
//   sound server's null sink, against AudioEngine::play of a local copy.
//
//   build/bench/online/bench_online [rounds]   (scripts/bench online)
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTcpSocket>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "AppSettings.h"
#include "AudioEngine.h"
#include "BenchTiming.h"
#include "LocalHttpServer.h"
#include "MainWindow.h"
#include "OnlineLibraryManager.h"
#include "SettingsKeys.h"
#include "TestSupport.h"

class OnlinePageTestAccess
{
public:
    // The page the window built in its left panel (a second build would
    // answer every report of the manager twice).
    static QWidget* page(MainWindow* w) { return w->leftStack ? w->leftStack->widget(2) : nullptr; }
    static QListWidget* list(MainWindow* w) { return w->onlineList; }
    static QLabel* status(MainWindow* w) { return w->onlineStatusLabel; }
    static QString previewId(MainWindow* w) { return w->onlinePreviewId; }
};
using P = OnlinePageTestAccess;

namespace {

using BenchTiming::median;
using BenchTiming::spinUntil;

// GET path from the server with a bare socket, the body streamed into a file.
bool plainGet(quint16 port, const QByteArray& path, const QString& out, qint64 expect)
{
    QFile f(out);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!spinUntil([&] { return s.state() == QAbstractSocket::ConnectedState; }, 5000))
        return false;
    s.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray head;
    qint64 body = 0;
    bool inBody = false;
    QObject::connect(&s, &QTcpSocket::readyRead, [&] {
        QByteArray data = s.readAll();
        if (!inBody) {
            head += data;
            const int end = int(head.indexOf("\r\n\r\n"));
            if (end < 0)
                return;
            data = head.mid(end + 4);
            inBody = true;
        }
        body += data.size();
        f.write(data);
    });
    spinUntil([&] { return body >= expect || s.state() == QAbstractSocket::UnconnectedState; }, 60000);
    f.close();
    return body == expect;
}

// A catalogue of n files in 20 folders.
QByteArray catalogue(int n, const QString& base)
{
    QJsonArray folders;
    for (int k = 0; k < 20; ++k) {
        QJsonArray files;
        for (int i = k; i < n; i += 20)
            files.append(QJsonObject{{"name", QStringLiteral("Sound %1.mp3").arg(i)},
                                     {"url", base + QStringLiteral("/a/%1.wav").arg(i)},
                                     {"duration", QStringLiteral("%1:%2").arg(i % 7).arg(i % 60, 2, 10, QLatin1Char('0'))}});
        folders.append(QJsonObject{{"name", QStringLiteral("Folder %1").arg(k)}, {"files", files}});
    }
    return QJsonDocument(QJsonObject{{"folders", folders}}).toJson(QJsonDocument::Compact);
}

// Milliseconds from start() to the first loud sample on the null sink's
// monitor, -1 when none comes within 10 s.
double firstSound(QProcess& rec, const std::function<void()>& start)
{
    rec.readAll();
    QByteArray pending;
    double at = -1;
    QElapsedTimer t;
    t.start();
    start();
    spinUntil([&] {
        pending += rec.readAll();
        const int frames = int(pending.size() / 4);
        if (frames > 0 && TestSupport::firstLoudFrame(pending.constData(), frames, 1000) >= 0) {
            at = double(t.nsecsElapsed()) / 1e6;
            return true;
        }
        pending.remove(0, frames * 4);
        return false;
    }, 10000);
    return at;
}

} // namespace

int main(int argc, char** argv)
{
    // The program's own media back end (main.cpp picks it the same way).
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    TestSupport::isolateSettings();
    const QString dir = TestSupport::tempDir();
    AppSettings().setValue(SettingsKeys::LibraryDownloadPath, dir + QStringLiteral("/VX Library"));

    LocalHttpServer server;
    if (!server.listen()) {
        std::printf("cannot listen on 127.0.0.1\n");
        return 1;
    }
    AppSettings().setValue(SettingsKeys::UpdateServiceUrl, server.url().toString());

    // --- 100 MB download ---------------------------------------------------------
    const qint64 big = 100LL * 1000 * 1000;
    {
        QByteArray body(big, Qt::Uninitialized);
        for (qint64 i = 0; i < big; ++i)
            body[i] = char(i * 131);
        server.route(QStringLiteral("/big.bin"), LocalHttpServer::Response::ok(body));
    }
    OnlineLibraryManager* online = OnlineLibraryManager::instance();
    std::vector<double> dl, plain;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        if (!plainGet(server.port(), "/big.bin", dir + QStringLiteral("/plain.bin"), big)) {
            std::printf("plain socket read failed\n");
            return 1;
        }
        plain.push_back(double(t.nsecsElapsed()) / 1e6);

        QFile::remove(dir + QStringLiteral("/VX Library/big.bin"));
        bool done = false;
        const auto c = QObject::connect(online, &OnlineLibraryManager::downloadFinished, [&] { done = true; });
        t.restart();
        online->downloadFile(server.url(QStringLiteral("/big.bin")).toString(), QStringLiteral("big.bin"), QString());
        if (!spinUntil([&] { return done; }, 120000)) {
            std::printf("download did not finish\n");
            return 1;
        }
        dl.push_back(double(t.nsecsElapsed()) / 1e6);
        QObject::disconnect(c);
    }
    server.removeRoute(QStringLiteral("/big.bin"));
    std::printf("100 MB download: downloadFile %.1f ms, plain socket to file %.1f ms, ratio %.2f\n", median(dl),
                median(plain), median(dl) / median(plain));

    // --- Catalogue of 10,000 files ------------------------------------------------
    const QByteArray cat = catalogue(10000, server.url().toString());
    server.route(QStringLiteral("/wp-json/tarvello-library/v1/folders"), LocalHttpServer::Response::json(cat));
    auto* w = new MainWindow;
    QWidget* page = P::page(w);
    page->setParent(nullptr);
    page->resize(320, 700);
    page->show();
    auto* refresh = page->findChild<QPushButton*>(QStringLiteral("tgBtn"));
    std::vector<double> load, parse;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        QJsonParseError pe;
        const QJsonDocument doc = QJsonDocument::fromJson(cat, &pe);
        parse.push_back(double(t.nsecsElapsed()) / 1e6);
        if (doc.isNull())
            return 1;

        t.restart();
        refresh->click();
        if (!spinUntil([&] { return P::status(w)->text() == QLatin1String("10000 files online"); }, 60000)) {
            std::printf("catalogue not shown: %s\n", qPrintable(P::status(w)->text()));
            return 1;
        }
        load.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("catalogue of 10,000 files (%lld bytes): refresh to list %.1f ms, fromJson alone %.1f ms, ratio %.1f\n",
                qlonglong(cat.size()), median(load), median(parse), median(load) / median(parse));

    // --- Preview to first sound -----------------------------------------------------
    QProcess rec;
    if (!TestSupport::startMonitorRecording(rec)) {
        std::printf("preview: no sound server monitor (TR_PULSE_MONITOR); skipped\n");
        return 0;
    }
    const QString local = dir + QStringLiteral("/tone.wav");
    // About 5 MB: 30 s of 16-bit stereo at 44100 Hz.
    TestSupport::writeWav16(local, TestSupport::sine(440, 30.0, 2, 44100, 0.6), 2, 44100);
    QFile lf(local);
    lf.open(QIODevice::ReadOnly);
    const QByteArray tone = lf.readAll();
        // The files are WAV, and their addresses say so: the player trusts a name.
    server.route(QStringLiteral("/a/0.wav"), LocalHttpServer::Response::ok(tone, "audio/wav"));
    AudioEngine* engine = AudioEngine::instance();
    std::vector<double> click, direct, fetch;
    QElapsedTimer fetchClock;
    const auto fc = QObject::connect(online, &OnlineLibraryManager::previewReady,
                                     [&] { fetch.push_back(double(fetchClock.nsecsElapsed()) / 1e6); });
    for (int r = 0; r < rounds; ++r) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        ButtonData b;
        b.id = id;
        b.audioPath = local;
        const double d = firstSound(rec, [&] { engine->play(b, QString()); });
        engine->stop(id);
        spinUntil([] { return false; }, 300);

        QListWidgetItem* row = P::list(w)->item(0);
        const double c = firstSound(rec, [&] {
            fetchClock.start();
            emit P::list(w)->itemClicked(row);
        });
        emit P::list(w)->itemClicked(row);   // stop it again
        spinUntil([] { return false; }, 300);
        if (c < 0 || d < 0) {
            std::printf("preview: no sound (click %.1f, direct %.1f)\n", c, d);
            continue;
        }
        click.push_back(c);
        direct.push_back(d);
    }
    QObject::disconnect(fc);

    // A long file that arrives slowly: 1.17 MB at 256 KiB/s, listed as 7 s
    // long. Played once it has all arrived, and played on its growing copy
    // as soon as the fetch keeps ahead of the sound (the FFmpeg back end).
    const QString slowLocal = dir + QStringLiteral("/slow.wav");
    TestSupport::writeWav16(slowLocal, TestSupport::sine(440, 6.63, 2, 44100, 0.6), 2, 44100);
    QFile sf(slowLocal);
    sf.open(QIODevice::ReadOnly);
    LocalHttpServer::Response slow = LocalHttpServer::Response::ok(sf.readAll(), "audio/wav");
    slow.misbehaviour = LocalHttpServer::SlowDrip;
    slow.dripBytes = 256 * 1024 / 50;
    slow.dripMs = 20;
    server.route(QStringLiteral("/a/427.wav"), slow);
    QListWidgetItem* slowRow = nullptr;
    for (int i = 0; i < P::list(w)->count() && !slowRow; ++i)
        if (P::list(w)->item(i)->data(Qt::UserRole + 1).toString() == QStringLiteral("Sound 427.mp3"))
            slowRow = P::list(w)->item(i);
    const QByteArray backend = qgetenv("QT_MEDIA_BACKEND");
    for (const bool growing : {false, true}) {
        // Only the window's choice changes: the players stay on FFmpeg.
        qputenv("QT_MEDIA_BACKEND", growing ? "ffmpeg" : "gstreamer");
        std::vector<double> waits;
        for (int r = 0; slowRow && r < std::min(rounds, 3); ++r) {
            const double c = firstSound(rec, [&] { emit P::list(w)->itemClicked(slowRow); });
            emit P::list(w)->itemClicked(slowRow);
            spinUntil([] { return !OnlineLibraryManager::instance()->previewPending(); }, 10000);
            spinUntil([] { return false; }, 300);
            if (c >= 0)
                waits.push_back(c);
        }
        if (!waits.empty())
            std::printf("preview of 1.17 MB at 256 KiB/s, %s: click to first sound %.1f ms\n",
                        growing ? "started on the growing copy" : "played once whole", median(waits));
    }
    qputenv("QT_MEDIA_BACKEND", backend);
    rec.kill();
    rec.waitForFinished();
    if (!click.empty())
        std::printf("preview of %lld bytes: click to first sound %.1f ms, AudioEngine::play of a local copy %.1f ms, "
                    "ratio %.2f\n",
                    qlonglong(tone.size()), median(click), median(direct), median(click) / median(direct));
    if (!fetch.empty())
        std::printf("  of which the fetch to a local file: %.1f ms\n", median(fetch));
    delete w;
    return 0;
}
