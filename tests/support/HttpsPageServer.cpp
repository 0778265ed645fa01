#include "HttpsPageServer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

HttpsPageServer::HttpsPageServer(QObject* parent)
    : QTcpServer(parent)
{ }

bool HttpsPageServer::start(const QStringList& hosts, const QByteArray& page)
{
    html = page;
    if (!makeCertificate(hosts)) {
        return false;
    }
    if (!listen(QHostAddress::LocalHost, 0)) {
        failure = errorString();
        return false;
    }
    return true;
}

bool HttpsPageServer::makeCertificate(const QStringList& hosts)
{
    if (!folder.isValid()) {
        failure = QStringLiteral("no temporary folder");
        return false;
    }
    QStringList names;
    for (const QString& host : hosts) {
        names << QStringLiteral("DNS:") + host;
    }
    const QString certPath = folder.filePath(QStringLiteral("cert.pem"));
    const QString keyPath = folder.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"),
                   QStringLiteral("-x509"),
                   QStringLiteral("-newkey"),
                   QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"),
                   QStringLiteral("-nodes"),
                   QStringLiteral("-days"),
                   QStringLiteral("2"),
                   QStringLiteral("-subj"),
                   QStringLiteral("/CN=") + hosts.value(0),
                   QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") + names.join(QLatin1Char(',')),
                   QStringLiteral("-keyout"),
                   keyPath,
                   QStringLiteral("-out"),
                   certPath});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        failure = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(openssl.readAll());
        return false;
    }
    certificate = QSslCertificate(readAll(certPath), QSsl::Pem);
    key = QSslKey(readAll(keyPath), QSsl::Ec, QSsl::Pem);
    if (certificate.isNull() || key.isNull()) {
        failure = QStringLiteral("the certificate or its key does not load");
        return false;
    }

    // openssl prints the public key as PEM, whose body is the DER SubjectPublicKeyInfo.
    openssl.start(
        QStringLiteral("openssl"),
        {QStringLiteral("x509"), QStringLiteral("-in"), certPath, QStringLiteral("-noout"), QStringLiteral("-pubkey")});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
        failure = QStringLiteral("openssl cannot read the public key back");
        return false;
    }
    QByteArray body;
    for (const QByteArray& line : openssl.readAll().split('\n')) {
        if (!line.startsWith("-----")) {
            body += line.trimmed();
        }
    }
    keyHash = QCryptographicHash::hash(QByteArray::fromBase64(body), QCryptographicHash::Sha256).toBase64();
    return true;
}

void HttpsPageServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    QSslConfiguration configuration = socket->sslConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket->setSslConfiguration(configuration);
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QSslSocket::readyRead, socket, [this, socket] {
        QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        if (!request.contains("\r\n\r\n")) {
            return;
        }
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        const QByteArray path = words.value(1);
        QByteArray answer;
        if (words.value(0) == "GET" && (path == "/" || path.startsWith("/?"))) {
            ++served;
            answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                     "Content-Length: "
                + QByteArray::number(html.size()) + "\r\nConnection: close\r\n\r\n" + html;
        } else {
            answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        }
        socket->write(answer);
        socket->disconnectFromHost();
    });
    socket->startServerEncryption();
}
