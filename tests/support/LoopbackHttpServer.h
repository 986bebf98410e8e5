#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for tests: answers GET requests from a table of
// fixtures, in the test's own event loop. A route can answer with any status, headers and
// body, redirect, or never answer at all.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

class LoopbackHttpServer : public QObject
{
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        bool silent = false;        // read the request, never answer
        bool withLength = true;     // send Content-Length (else the end of the body is the close)
    };

    LoopbackHttpServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }

    bool isListening() const { return m_server.isListening(); }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    void route(const QByteArray &path, const Reply &reply) { m_routes.insert(path, reply); }
    void ok(const QByteArray &path, const QByteArray &body, const QByteArray &type = "application/rss+xml")
    {
        route(path, {200, body, {{"Content-Type", type}}});
    }
    void redirect(const QByteArray &path, const QString &to, int status = 302)
    {
        route(path, {status, {}, {{"Location", to.toUtf8()}}});
    }
    int hits(const QByteArray &path) const { return m_hits.value(path); }

private:
    void serve(QTcpSocket *socket)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            QByteArray &request = m_pending[socket];
            request += socket->readAll();
            const qsizetype end = request.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
            m_pending.remove(socket);
            const QByteArray path = line.value(1);
            ++m_hits[path];
            const Reply reply = m_routes.value(path, Reply{404, "not found", {}});
            if (reply.silent)
                return;
            QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " Fixture\r\nConnection: close\r\n";
            for (const auto &[name, value] : reply.headers)
                head += name + ": " + value + "\r\n";
            if (reply.withLength)
                head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
            socket->write(head + "\r\n");
            socket->write(reply.body);
            socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

    QTcpServer m_server;
    QHash<QByteArray, Reply> m_routes;
    QHash<QByteArray, int> m_hits;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
