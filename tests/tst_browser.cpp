// A trusted site's page in a real browser (headless Chromium) calling the real program: the page is served over
// https under an allowed host name, so the browser itself sends the Origin.
#include "ProgramRun.h"
#include "ServiceHost.h"
#include "SimRadio.h"
#include "app/Orvessa.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

// Serves the station page over TLS on 127.0.0.1 to whoever asks, whatever the path.
class PageServer : public QTcpServer
{
public:
    QSslCertificate certificate;
    QSslKey key;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        connect(socket, &QSslSocket::readyRead, socket, [socket] {
            if (!socket->readAll().contains("GET / ")) {
                socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                return;
            }
            QFile page(ORVESSA_SOURCE_DIR "/tests/support/StationPage.html");
            page.open(QIODevice::ReadOnly);
            const QByteArray body = page.readAll();
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                          + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        });
        socket->startServerEncryption();
    }
};

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void allowedPageDrivesTheStation();
    void otherSiteIsRefused();

private:
    // Opens the page as the browser would for https://host; returns the browser with its reports.
    std::unique_ptr<ProgramRun> openPage(const QString& host);
    // The reports of the page so far that carry this key.
    static QList<QJsonObject> reports(ProgramRun& browser, const QString& key);

    QTemporaryDir work;
    PageServer pages;
    SimRadio radio;
    ProgramRun orvessa;
    quint16 port = 0;
    quint16 relayPort = 0;
};

void TestBrowser::initTestCase()
{
    ProgramRun openssl;
    openssl.start("openssl",
                  {"req",
                   "-x509",
                   "-newkey",
                   "rsa:2048",
                   "-nodes",
                   "-days",
                   "2",
                   "-subj",
                   "/CN=station",
                   "-keyout",
                   work.filePath("key.pem"),
                   "-out",
                   work.filePath("cert.pem")});
    QCOMPARE(openssl.waitForExit(30000), 0);
    QFile key(work.filePath("key.pem"));
    QVERIFY(key.open(QIODevice::ReadOnly));
    pages.key = QSslKey(&key, QSsl::Rsa);
    pages.certificate = QSslCertificate::fromPath(work.filePath("cert.pem")).value(0);
    QVERIFY(pages.listen(QHostAddress::LocalHost, 0));
    QVERIFY(radio.start());
    const quint16 wanted = ServiceHost::freeTcpPort();
    orvessa.storePort(wanted);
    port = orvessa.startOrvessa();
    QCOMPARE(port, wanted);
    relayPort = ServiceHost::freeUdpPort();
}

std::unique_ptr<ProgramRun> TestBrowser::openPage(const QString& host)
{
    auto browser = std::make_unique<ProgramRun>();
    browser->start(
        "chromium",
        {"--headless",
         "--no-sandbox",
         "--disable-gpu",
         "--no-first-run",
         "--disable-background-networking",
         "--disable-component-update",
         "--disable-sync",
         "--ignore-certificate-errors",
         "--user-data-dir=" + work.filePath("profile-" + host),
         "--enable-logging=stderr",
         "--v=0",
         QStringLiteral("--host-resolver-rules=MAP %1:443 127.0.0.1:%2").arg(host).arg(pages.serverPort()),
         QStringLiteral("https://%1/#ws=%2&rig=%3&udp=%4").arg(host).arg(port).arg(radio.port).arg(relayPort)});
    return browser;
}

QList<QJsonObject> TestBrowser::reports(ProgramRun& browser, const QString& key)
{
    QTest::qWait(0);
    QList<QJsonObject> found;
    const QRegularExpression line(R"re(:INFO:CONSOLE:\d+\] "ORVESSA (.*)", source: )re");
    for (const QByteArray& text : browser.errors.split('\n')) {
        const QJsonObject report
            = QJsonDocument::fromJson(line.match(QString::fromUtf8(text)).captured(1).toUtf8()).object();
        if (report.contains(key)) {
            found << report;
        }
    }
    return found;
}

void TestBrowser::allowedPageDrivesTheStation()
{
    const std::unique_ptr<ProgramRun> browser = openPage(QUrl(allowedOrigins().at(0)).host());
    QTRY_VERIFY_WITH_TIMEOUT(!reports(*browser, "relay").isEmpty(), 30000);
    QCOMPARE(reports(*browser, "info").first().value("info").toObject().value("OrvessaVersion"), QJsonValue("25.12.0"));
    QCOMPARE(reports(*browser, "relay").first().value("relay").toObject().value("Success"),
             QJsonValue("Subscribed to UDP QSO"));

    // Bytes no text decoding may touch: UTF-8, a NUL, 0xFF.
    const QByteArray datagram = "ADDQSO: Citt\xc3\xa0 \0 \xff";
    QUdpSocket().writeDatagram(datagram, QHostAddress::LocalHost, relayPort);
    QTRY_VERIFY_WITH_TIMEOUT(!reports(*browser, "qso").isEmpty(), 10000);
    QJsonArray bytes;
    for (const char byte : datagram) {
        bytes.append(int(uchar(byte)));
    }
    QCOMPARE(reports(*browser, "qso").first().value("qso").toArray(), bytes);

    QTRY_VERIFY_WITH_TIMEOUT(!reports(*browser, "pushes").isEmpty(), 10000);
    const QJsonObject status = reports(*browser, "pushes").first();
    QVERIFY2(status.value("pushes").toInt() >= 3 && status.value("pushes").toInt() <= 10,
             qPrintable(QJsonDocument(status).toJson()));
    QCOMPARE(status.value("firstFreq"), QJsonValue(14074000));
}

void TestBrowser::otherSiteIsRefused()
{
    const int clients = orvessa.lines.filter("client connected").size();
    const std::unique_ptr<ProgramRun> browser = openPage("stranger.example");
    QTRY_VERIFY_WITH_TIMEOUT(!reports(*browser, "closed").isEmpty(), 30000);
    QCOMPARE(reports(*browser, "closed").first().value("closed"), QJsonValue(1006));
    QVERIFY(reports(*browser, "info").isEmpty());
    QCOMPARE(orvessa.lines.filter("client connected").size(), clients);
}

QTEST_GUILESS_MAIN(TestBrowser)
#include "tst_browser.moc"
