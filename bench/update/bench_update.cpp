// One update check of the window against the tests' local server, from the
// call to the handled reply (its network manager freed), beside a plain
// QNetworkAccessManager GET of the same address with a fresh manager, read
// to its end. Alternating, in one run; prints the ratio of the medians.
//
//   build/bench/update/bench_update [checks]
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchTiming.h"
#include "UpdateSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

using BenchTiming::nearestRank;

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int checks = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
    TestSupport::isolateSettings();

    LocalHttpServer server;
    if (!server.listen())
        return 1;
    server.route(UpdateTest::kPath,
                 LocalHttpServer::Response::json(R"({"success":true,"latest_version":"2.0.84","update_active":true})"));
    UpdateTest::setService(server.url());
    auto* w = new MainWindow;
    UpdateTestAccess::startTimer(w)->stop();
    const QUrl url = server.url(UpdateTest::kPath);

    std::vector<double> check, plain;
    for (int i = 0; i < checks; ++i) {
        Clock::time_point t0 = Clock::now();
        w->checkForUpdates(true);
        while (UpdateTest::managers(w) > 0) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        check.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());

        t0 = Clock::now();
        auto* nam = new QNetworkAccessManager;
        QNetworkRequest req(url);
        QNetworkReply* reply = nam->get(req);
        bool done = false;
        QObject::connect(reply, &QNetworkReply::finished, [&] {
            reply->readAll();
            reply->deleteLater();
            nam->deleteLater();
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        plain.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        QCoreApplication::processEvents();
    }
    if (server.requestCount(UpdateTest::kPath) != 2 * checks)
        return 2;
    const double c50 = nearestRank(check, 0.5), p50 = nearestRank(plain, 0.5);
    std::printf("requests per path: %d\n", checks);
    std::printf("plain GET:       median %7.3f ms  p90 %7.3f ms\n", p50, nearestRank(plain, 0.9));
    std::printf("update check:    median %7.3f ms  p90 %7.3f ms\n", c50, nearestRank(check, 0.9));
    std::printf("ratio check / plain GET: median %.2f\n", c50 / p50);
    delete w;
    return 0;
}
