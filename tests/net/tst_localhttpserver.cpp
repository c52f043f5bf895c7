// The test HTTP server as Qt's client sees it: every misbehaviour ends the
// way a real broken server or network would, and requests are counted.
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

#include "LocalHttpServer.h"

using S = LocalHttpServer;
Q_DECLARE_METATYPE(LocalHttpServer::Response)

namespace {

struct Outcome
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    qint64 announced = -1;
    bool finished = false;
};

Outcome get(QNetworkAccessManager& nam, const QUrl& url, int timeoutMs = 0)
{
    QNetworkRequest req(url);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    if (timeoutMs > 0)
        req.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = nam.get(req);
    Outcome o;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] { o.body += reply->readAll(); });
    o.finished = QTest::qWaitFor([&] { return reply->isFinished(); }, 10000);
    if (reply->isOpen())
        o.body += reply->readAll();
    o.error = reply->error();
    o.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    o.announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    delete reply;
    return o;
}

} // namespace

class TestLocalHttpServer : public QObject
{
    Q_OBJECT
    const QByteArray big = QByteArray(20000, 'b');

private slots:
    void answers_data()
    {
        QTest::addColumn<S::Response>("response");
        QTest::addColumn<bool>("error");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("received"); // -1: the whole body

        auto with = [this](S::Misbehaviour m, qint64 cut, bool chunked = false) {
            S::Response r = S::Response::ok(big);
            r.misbehaviour = m;
            r.cutAt = cut;
            r.chunked = chunked;
            return r;
        };
        QTest::newRow("plain") << S::Response::ok(big) << false << 200 << -1;
        QTest::newRow("chunked") << with(S::None, -1, true) << false << 200 << -1;
        S::Response drip = with(S::SlowDrip, -1);
        drip.body = big.left(600);
        drip.dripBytes = 100;
        drip.dripMs = 5;
        QTest::newRow("slow drip") << drip << false << 200 << 600;
        QTest::newRow("404") << S::Response::withStatus(404, "gone") << true << 404 << 4;
        QTest::newRow("500") << S::Response::withStatus(500, "oops") << true << 500 << 4;
        QTest::newRow("reset before anything") << with(S::Reset, -1) << true << 0 << 0;
        // The body may be cut short without an error: the client has to
        // compare what came with what was announced.
        QTest::newRow("short body") << with(S::ShortBody, 7000) << false << 200 << 7000;
        QTest::newRow("chunked cut") << with(S::ChunkedCut, 5000) << false << 200 << 5000;
    }
    void answers()
    {
        QFETCH(S::Response, response);
        QFETCH(bool, error);
        QFETCH(int, status);
        QFETCH(int, received);
        S server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/f"), response);
        QNetworkAccessManager nam;
        const Outcome o = get(nam, server.url(QStringLiteral("/f?x=1")));
        QVERIFY(o.finished);
        QCOMPARE(o.status, status);
        if (status != 0 && status != 200)
            QVERIFY(o.error != QNetworkReply::NoError);
        if (status == 200 && !error && received >= 0 && received < big.size()) {
            // A cut: fewer bytes than announced, whatever the error says.
            QCOMPARE(o.body, response.body.left(received));
            if (response.misbehaviour == S::ShortBody)
                QCOMPARE(o.announced, qint64(big.size()));
        } else if (!error) {
            QCOMPARE(o.error, QNetworkReply::NoError);
            QCOMPARE(o.body, received < 0 ? response.body : response.body.left(received));
        } else {
            QVERIFY(o.error != QNetworkReply::NoError);
            QCOMPARE(o.body.size(), received);
        }
        // Qt sends a GET again, once, when the connection drops before any answer.
        const int sent = server.requestCount(QStringLiteral("/f"));
        QVERIFY(sent == 1 || (status == 0 && sent == 2));
        QCOMPARE(server.requests().first().path, QByteArray("/f?x=1"));
    }

    // A reset after part of the body, and stalls that only a timeout ends.
    void brokenTransfers_data()
    {
        QTest::addColumn<int>("misbehaviour");
        QTest::addColumn<int>("cut");
        QTest::newRow("reset mid-body") << int(S::Reset) << 3000;
        QTest::newRow("stall before headers") << int(S::StallBeforeHeaders) << -1;
        QTest::newRow("stall mid-body") << int(S::StallMidBody) << 3000;
    }
    void brokenTransfers()
    {
        QFETCH(int, misbehaviour);
        QFETCH(int, cut);
        S server;
        QVERIFY(server.listen());
        S::Response r = S::Response::ok(big);
        r.misbehaviour = S::Misbehaviour(misbehaviour);
        r.cutAt = cut;
        server.route(QStringLiteral("/f"), r);
        QNetworkAccessManager nam;
        const Outcome o = get(nam, server.url(QStringLiteral("/f")), 300);
        QVERIFY(o.finished);
        QVERIFY(o.error != QNetworkReply::NoError);
        QVERIFY(o.body.size() < big.size());
    }

    void redirects_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("301") << 301;
        QTest::newRow("302") << 302;
        QTest::newRow("307") << 307;
        QTest::newRow("308") << 308;
    }
    void redirects()
    {
        QFETCH(int, code);
        S server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/old"), S::Response::redirect("/new", code));
        server.route(QStringLiteral("/new"), S::Response::ok("moved here"));
        QNetworkAccessManager nam;
        const Outcome o = get(nam, server.url(QStringLiteral("/old")));
        QCOMPARE(o.error, QNetworkReply::NoError);
        QCOMPARE(o.body, QByteArray("moved here"));
        QCOMPARE(server.requestCount(), 2);
        QCOMPARE(server.requestCount(QStringLiteral("/new")), 1);
    }

    void refusedAndHeaders()
    {
        QNetworkAccessManager nam;
        const Outcome refused = get(nam, S::refusedUrl(QStringLiteral("/x")));
        QCOMPARE(refused.error, QNetworkReply::ConnectionRefusedError);

        S server;
        QVERIFY(server.listen());
        QNetworkRequest req(server.url(QStringLiteral("/h")));
        req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        QNetworkReply* reply = nam.get(req);
        QVERIFY(QTest::qWaitFor([&] { return reply->isFinished(); }, 10000));
        delete reply;
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(server.requests().first().method, QByteArray("GET"));
        QCOMPARE(server.requests().first().headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(server.openConnections(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLocalHttpServer)
#include "tst_localhttpserver.moc"
