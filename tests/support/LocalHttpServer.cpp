#include "LocalHttpServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

struct LocalHttpServer::Conn
{
    QByteArray in;
    bool answered = false;
    // A slow drip's rest of the body, and its timer.
    QByteArray rest;
    QTimer* timer = nullptr;
};

namespace {

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray chunk(const QByteArray& data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

QString pathOnly(const QByteArray& target)
{
    const int q = target.indexOf('?');
    return QString::fromLatin1(q < 0 ? target : target.left(q));
}

} // namespace

LocalHttpServer::Response LocalHttpServer::Response::ok(const QByteArray& body, const QByteArray& contentType)
{
    Response r;
    r.body = body;
    r.headers.append({"Content-Type", contentType});
    return r;
}

LocalHttpServer::Response LocalHttpServer::Response::json(const QByteArray& body)
{
    return ok(body, "application/json");
}

LocalHttpServer::Response LocalHttpServer::Response::withStatus(int code, const QByteArray& body)
{
    Response r = ok(body, "text/html");
    r.status = code;
    return r;
}

LocalHttpServer::Response LocalHttpServer::Response::redirect(const QByteArray& location, int code)
{
    Response r = withStatus(code);
    r.headers.append({"Location", location});
    return r;
}

LocalHttpServer::LocalHttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    m_notFound = Response::withStatus(404, "<html><body>Not Found</body></html>");
    connect(m_server, &QTcpServer::newConnection, this, &LocalHttpServer::onNewConnection);
}

LocalHttpServer::~LocalHttpServer()
{
    close();
}

bool LocalHttpServer::listen()
{
    return m_server->isListening() || m_server->listen(QHostAddress::LocalHost, 0);
}

void LocalHttpServer::close()
{
    m_server->close();
    const QList<QTcpSocket*> sockets = m_conns.keys();
    for (QTcpSocket* s : sockets)
        drop(s, false);
}

bool LocalHttpServer::isListening() const
{
    return m_server->isListening();
}

quint16 LocalHttpServer::port() const
{
    return m_server->serverPort();
}

QUrl LocalHttpServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void LocalHttpServer::route(const QString& path, const Response& response)
{
    m_routes.insert(path, response);
}

void LocalHttpServer::removeRoute(const QString& path)
{
    m_routes.remove(path);
}

void LocalHttpServer::setNotFound(const Response& response)
{
    m_notFound = response;
}

int LocalHttpServer::requestCount(const QString& path) const
{
    if (path.isEmpty())
        return int(m_requests.size());
    int n = 0;
    for (const Request& r : m_requests)
        n += pathOnly(r.path) == path ? 1 : 0;
    return n;
}

int LocalHttpServer::openConnections() const
{
    return int(m_conns.size());
}

QUrl LocalHttpServer::refusedUrl(const QString& path)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
}

void LocalHttpServer::onNewConnection()
{
    while (QTcpSocket* s = m_server->nextPendingConnection()) {
        m_conns.insert(s, new Conn);
        connect(s, &QTcpSocket::readyRead, this, [this, s] { onReadyRead(s); });
        connect(s, &QTcpSocket::disconnected, this, [this, s] { drop(s, false); });
    }
}

void LocalHttpServer::onReadyRead(QTcpSocket* s)
{
    Conn* c = m_conns.value(s);
    if (!c)
        return;
    c->in += s->readAll();
    if (c->answered)
        return;
    const int end = c->in.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    Request req;
    const QList<QByteArray> lines = c->in.left(end).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    req.method = first.value(0);
    req.path = first.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            req.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qint64 bodyLen = req.headers.value("content-length").toLongLong();
    if (c->in.size() < end + 4 + bodyLen)
        return;
    req.body = c->in.mid(end + 4, bodyLen);
    c->answered = true;
    m_requests.append(req);
    const QString path = pathOnly(req.path);
    emit requestReceived(path);
    // The receiver may have closed the server.
    if (!m_conns.contains(s))
        return;
    respond(s, m_routes.value(path, m_notFound));
}

void LocalHttpServer::respond(QTcpSocket* s, const Response& r)
{
    Conn* c = m_conns.value(s);
    if (r.misbehaviour == StallBeforeHeaders)
        return;
    if (r.misbehaviour == Reset && r.cutAt < 0) {
        drop(s, true);
        return;
    }
    const bool chunked = r.chunked || r.misbehaviour == ChunkedCut;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' '
        + (r.reason.isEmpty() ? reasonFor(r.status) : r.reason) + "\r\n";
    head += "Connection: close\r\n";
    if (chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else
        head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    for (const auto& h : r.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";
    s->write(head);

    const qint64 cut = r.cutAt < 0 ? r.body.size() : qMin<qint64>(r.cutAt, r.body.size());
    switch (r.misbehaviour) {
    case None:
    case StallBeforeHeaders:
        if (chunked) {
            const qint64 step = qMax(1, r.chunkBytes);
            for (qint64 at = 0; at < r.body.size(); at += step)
                s->write(chunk(r.body.mid(at, step)));
            s->write("0\r\n\r\n");
        } else {
            s->write(r.body);
        }
        s->disconnectFromHost();
        return;
    case StallMidBody:
        s->write(r.body.left(cut));
        return;
    case Reset:
        s->write(r.body.left(cut));
        s->flush();
        drop(s, true);
        return;
    case ShortBody:
        s->write(r.body.left(cut));
        s->disconnectFromHost();
        return;
    case ChunkedCut:
        if (cut > 0)
            s->write(chunk(r.body.left(cut)));
        s->disconnectFromHost();
        return;
    case SlowDrip:
        c->rest = r.body;
        c->timer = new QTimer(s);
        connect(c->timer, &QTimer::timeout, this, [this, s, step = qMax(1, r.dripBytes)] {
            Conn* cc = m_conns.value(s);
            if (!cc)
                return;
            s->write(cc->rest.left(step));
            cc->rest.remove(0, step);
            if (cc->rest.isEmpty()) {
                cc->timer->stop();
                s->disconnectFromHost();
            }
        });
        c->timer->start(qMax(1, r.dripMs));
        return;
    }
}

void LocalHttpServer::drop(QTcpSocket* s, bool reset)
{
    Conn* c = m_conns.take(s);
    if (!c)
        return;
    delete c;
    s->disconnect(this);
    if (reset && s->socketDescriptor() >= 0) {
        // A zero linger time makes the close send a reset instead of a FIN.
        struct linger l = {1, 0};
        ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    s->abort();
    s->deleteLater();
}
