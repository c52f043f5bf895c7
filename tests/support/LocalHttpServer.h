#pragma once
// A small HTTP/1.1 server for tests, on 127.0.0.1 only (port chosen by the
// system). It answers each path with a canned response and can misbehave on
// request the way real servers and networks do: stall before the headers,
// stall in the middle of the body, reset the connection, send fewer bytes
// than Content-Length announces, cut a chunked body short, redirect, or drip
// the body out slowly. It counts and keeps every request it reads.
//
// It runs on the thread that owns it and needs that thread's event loop to
// turn (QTest::qWaitFor, QSignalSpy::wait, or the client's own loop). Every
// connection is closed after its response (Connection: close), so a client
// opens one connection per request.
//
//   LocalHttpServer server;
//   QVERIFY(server.listen());
//   server.route("/settings", LocalHttpServer::Response::json(R"({"success":true})"));
//   auto cut = LocalHttpServer::Response::ok(QByteArray(50000, 'x'));
//   cut.misbehaviour = LocalHttpServer::ShortBody;
//   cut.cutAt = 1000;
//   server.route("/file.bin", cut);
//   ... get(server.url("/settings")) ...
//   QCOMPARE(server.requestCount("/settings"), 1);
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

class QTcpServer;
class QTcpSocket;
class QTimer;

class LocalHttpServer : public QObject
{
    Q_OBJECT
public:
    enum Misbehaviour {
        None,
        // Reads the request and never answers (the client's timeout decides).
        StallBeforeHeaders,
        // Sends the headers and cutAt bytes of the body, then holds the
        // connection open without sending more.
        StallMidBody,
        // Sends the headers and cutAt bytes of the body (cutAt < 0: nothing
        // at all, not even the headers), then resets the connection (RST).
        Reset,
        // Announces the whole body in Content-Length, sends cutAt bytes of
        // it and closes the connection cleanly.
        ShortBody,
        // Sends the body chunked, cutAt bytes of it, and closes without the
        // last (empty) chunk.
        ChunkedCut,
        // Sends the headers, then dripBytes of the body every dripMs.
        SlowDrip,
    };
    Q_ENUM(Misbehaviour)

    struct Response
    {
        int status = 200;
        QByteArray reason;                               // empty: the usual phrase for status
        QList<QPair<QByteArray, QByteArray>> headers;    // added after the server's own
        QByteArray body;
        bool chunked = false;                            // Transfer-Encoding: chunked
        int chunkBytes = 4096;                           // body bytes per chunk when chunked
        Misbehaviour misbehaviour = None;
        qint64 cutAt = -1;                               // body bytes sent before misbehaving
        int dripBytes = 64;
        int dripMs = 20;

        static Response ok(const QByteArray& body, const QByteArray& contentType = "application/octet-stream");
        static Response json(const QByteArray& body);
        static Response withStatus(int code, const QByteArray& body = QByteArray());
        // A redirect (301, 302, 303, 307 or 308) to location, which may be a
        // path of this server or a whole URL.
        static Response redirect(const QByteArray& location, int code = 302);
    };

    struct Request
    {
        QByteArray method;
        QByteArray path;                                 // with the query, as sent
        QHash<QByteArray, QByteArray> headers;           // names in lower case
        QByteArray body;
    };

    explicit LocalHttpServer(QObject* parent = nullptr);
    ~LocalHttpServer() override;

    // Listens on 127.0.0.1 on a port the system picks. False when it cannot.
    bool listen();
    // Stops listening and drops every open connection.
    void close();
    bool isListening() const;
    quint16 port() const;
    // "http://127.0.0.1:<port>" followed by path.
    QUrl url(const QString& path = QString()) const;

    // The response for a path (without the query; the query is ignored when
    // matching). A path without a route gets notFound (a 404 by default).
    void route(const QString& path, const Response& response);
    void removeRoute(const QString& path);
    void setNotFound(const Response& response);

    // Requests read so far, in order of arrival; the count for one path
    // (matched without its query) or for all when path is empty.
    QList<Request> requests() const { return m_requests; }
    int requestCount(const QString& path = QString()) const;
    void clearRequests() { m_requests.clear(); }

    // Connections still held open by a stall or a drip.
    int openConnections() const;

    // An address on 127.0.0.1 where nothing listens: a port that was just
    // free; a connection there is refused.
    static QUrl refusedUrl(const QString& path = QString());

signals:
    void requestReceived(const QString& path);

private:
    struct Conn;
    void onNewConnection();
    void onReadyRead(QTcpSocket* s);
    void respond(QTcpSocket* s, const Response& r);
    void drip(QTcpSocket* s);
    void drop(QTcpSocket* s, bool reset);

    QTcpServer* m_server = nullptr;
    QHash<QString, Response> m_routes;
    Response m_notFound;
    QList<Request> m_requests;
    QHash<QTcpSocket*, Conn*> m_conns;
};
