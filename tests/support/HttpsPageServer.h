// One HTML page served over TLS on 127.0.0.1, with a self-signed certificate made by openssl at start
// (test helper). Lives in the test's thread.
#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

class HttpsPageServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit HttpsPageServer(QObject* parent = nullptr);

    // Makes a certificate for the host names and listens on an ephemeral port of 127.0.0.1.
    // False when either failed; problem() says why.
    bool start(const QStringList& hosts, const QByteArray& page);
    QString problem() const { return failure; }
    // Base64 SHA-256 of the certificate's SubjectPublicKeyInfo: Chromium trusts the certificate
    // when given this in --ignore-certificate-errors-spki-list, without any certificate error.
    QByteArray publicKeyHash() const { return keyHash; }
    // Requests for the page, counted as they are answered.
    int pageRequests() const { return served; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    bool makeCertificate(const QStringList& hosts);

    QTemporaryDir folder;
    QSslCertificate certificate;
    QSslKey key;
    QByteArray keyHash;
    QByteArray html;
    QString failure;
    int served = 0;
};
