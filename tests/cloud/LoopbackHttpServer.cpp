#include "LoopbackHttpServer.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>

QByteArray LoopbackHttpServer::Received::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : m_handler(std::move(handler))
{
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            socket->setParent(this);
            socket->setProperty("pending", QByteArray());
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                if (!socket->property("closedByServer").toBool())
                    ++m_closedByClient;
                socket->deleteLater();
            });
        }
    });
}

QUrl LoopbackHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

QByteArray LoopbackHttpServer::answer(int status, const QByteArray &body, const QByteArray &extraHeaders)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n" + extraHeaders + "\r\n" + body;
}

const QByteArray LoopbackHttpServer::kFolderAuthority = R"(-----BEGIN CERTIFICATE-----
MIIBlzCCAT2gAwIBAgIUdtG7Yt+voL80rOKHRj2Ds7cIL3cwCgYIKoZIzj0EAwIw
IDEeMBwGA1UEAwwVSHViIHRlc3QgdHJ1c3QgZm9sZGVyMCAXDTI2MTIxMDEyNTY1
OVoYDzIxMjYxMTE2MTI1NjU5WjAgMR4wHAYDVQQDDBVIdWIgdGVzdCB0cnVzdCBm
b2xkZXIwWTATBgcqhkjOPQIBBggqhkjOPQMBBwNCAARGqb10zCg0Ix+pgmOAqHlo
Vi2Z+CS0Sm9PMHAwJxN/ieMBBf8IBzTwCPy5nTmfUhEnJvbvtZUmMaOuFovFjpte
o1MwUTAdBgNVHQ4EFgQUOY6nyDS/odYT4SNDimwisvuDfXQwHwYDVR0jBBgwFoAU
OY6nyDS/odYT4SNDimwisvuDfXQwDwYDVR0TAQH/BAUwAwEB/zAKBggqhkjOPQQD
AgNIADBFAiEA6FiPrcHVHpD8iwDhVnai+XgvgwzUXKoSiTwKyBl/vI8CIHEGkO6f
MXRZsxWWuD3BZrI4/zn/R6wcRKs5e813aMkK
-----END CERTIFICATE-----
)";

HubNetwork &LoopbackHttpServer::directNetwork()
{
    static QTemporaryDir trustFolder;
    static HubNetwork &network = []() -> HubNetwork & {
        for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
        // A certificate folder as OpenSSL keeps one: the file and its hash link.
        testsupport::writeFile(trustFolder.filePath(QStringLiteral("hub-test.pem")), kFolderAuthority);
        QFile::link(trustFolder.filePath(QStringLiteral("hub-test.pem")),
                    trustFolder.filePath(QStringLiteral("1a2b3c4d.0")));
        qputenv("SSL_CERT_DIR", (QStringLiteral("/nonexistent/certs:") + trustFolder.path()).toUtf8());
        qunsetenv("SSL_CERT_FILE");
        return HubNetwork::shared();
    }();
    return network;
}

void LoopbackHttpServer::drop(QTcpSocket *socket)
{
    socket->setProperty("closedByServer", true);
    socket->disconnectFromHost();
}

void LoopbackHttpServer::readFrom(QTcpSocket *socket)
{
    QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
    for (;;) {
        const qsizetype headerEnd = pending.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            break;
        Received request;
        const QList<QByteArray> lines = pending.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        const qsizetype length = request.header("Content-Length").toLongLong();
        if (pending.size() < headerEnd + 4 + length)
            break;
        request.body = pending.mid(headerEnd + 4, length);
        pending.remove(0, headerEnd + 4 + length);
        m_requests.append(request);
        m_handler(socket, request);
    }
    socket->setProperty("pending", pending);
}
