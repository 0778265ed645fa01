// The program as the trusted sites meet it: a real page in headless Chromium, served over https under
// a site's name, calling the real program over ws://127.0.0.1 with the Origin the browser itself sends.
#include "AppSettings.h"
#include "HeadlessBrowser.h"
#include "HttpsPageServer.h"
#include "Orvessa.h"
#include "OrvessaRun.h"
#include "RigSimulator.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {

const QString listedOrigin = allowedOrigins().value(1);
const QString listedHost = QUrl(listedOrigin).host();
const QString unlistedHost = QStringLiteral("elsewhere.example");
const QRegularExpression clientConnected(QStringLiteral("JSON RPC server: client connected: "));

QString jsText(const QString& text)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray {text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

} // namespace

class TestBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pageDrivesStation();
    void originDecides_data();
    void originDecides();
    void loopbackPermission_data();
    void loopbackPermission();
    void framedPage_data();
    void framedPage();

private:
    // Switches that put the test's sites on the page server: a name alone means port 443, which
    // lands on the server's port; a name with a port keeps it.
    QStringList siteSwitches() const;
    int connectionsSoFar() const { return orvessa->lines().filter(clientConnected).size(); }

    std::unique_ptr<RigSimulator> radio;
    std::unique_ptr<OrvessaRun> orvessa;
    HttpsPageServer pages;
    quint16 serverPort = 0;
};

void TestBrowser::initTestCase()
{
    QVERIFY2(!HeadlessBrowser::executable().isEmpty(), "Chromium is missing: run scripts/setup.sh");
    QVERIFY2(!allowedOrigins().contains(QStringLiteral("https://") + unlistedHost), "the unlisted host is listed");

    QFile page(QStringLiteral(ORVESSA_STATION_PAGE));
    QVERIFY(page.open(QIODevice::ReadOnly));
    QVERIFY2(pages.start({listedHost, QStringLiteral("www.") + listedHost, unlistedHost}, page.readAll()),
             qPrintable(pages.problem()));

    radio = std::make_unique<RigSimulator>();
    QVERIFY2(radio->isOpen(), qPrintable(radio->errorString()));

    // Another program on this machine may hold the default port; a free one keeps the run its own.
    orvessa = std::make_unique<OrvessaRun>();
    const quint16 wanted = TestEnvironment::freeTcpPort();
    QVERIFY(wanted >= 1024);
    orvessa->storePort(wanted);
    serverPort = orvessa->startListening();
    QCOMPARE(serverPort, wanted);
}

QStringList TestBrowser::siteSwitches() const
{
    return {QStringLiteral("--host-resolver-rules=MAP *:443 127.0.0.1:%1, MAP * 127.0.0.1").arg(pages.serverPort()),
            QStringLiteral("--ignore-certificate-errors-spki-list=") + QString::fromLatin1(pages.publicKeyHash())};
}

void TestBrowser::pageDrivesStation()
{
    HeadlessBrowser browser;
    QVERIFY2(browser.start(siteSwitches()), qPrintable(browser.problem()));
    const QString tab = browser.openPage(QUrl(QStringLiteral("https://") + listedHost + QLatin1Char('/')));
    QVERIFY2(!tab.isEmpty(), qPrintable(browser.problem()));

    const quint16 udpPort = TestEnvironment::freeUdpPort();
    QVERIFY(udpPort != 0);
    const int pushMs = 2000;
    const QJsonValue value = browser.evaluate(tab,
                                              QStringLiteral("stationCheck(%1, %2, %3, %4, %5)")
                                                  .arg(serverPort)
                                                  .arg(jsText(radio->portName()))
                                                  .arg(RigSimulator::modelId)
                                                  .arg(pushMs)
                                                  .arg(udpPort),
                                              30000);
    QVERIFY2(value.isObject(), qPrintable(browser.problem()));
    const QJsonObject report = value.toObject();
    const QByteArray shown = QJsonDocument(report).toJson(QJsonDocument::Compact);

    QVERIFY2(report.value(QStringLiteral("opened")).toBool(), shown.constData());
    const QJsonObject versions = report.value(QStringLiteral("ovInfo")).toObject();
    QCOMPARE(versions.value(QStringLiteral("OrvessaVersion")).toString(), AppSettings::version);
    QVERIFY2(!versions.value(QStringLiteral("HamLibVersion")).toString().isEmpty(), shown.constData());
    QVERIFY2(report.value(QStringLiteral("modelCount")).toInt() > 1, shown.constData());
    QCOMPARE(report.value(QStringLiteral("listed"))[QStringLiteral("ID")].toInt(), int(RigSimulator::modelId));
    QCOMPARE(report.value(QStringLiteral("connect"))[QStringLiteral("Success")].toString(),
             QStringLiteral("Rig connected"));
    QCOMPARE(report.value(QStringLiteral("subscribe"))[QStringLiteral("Success")].toString(),
             QStringLiteral("subscribed"));

    // Four pushes a second; a loaded machine may lose a tick or two, never gain many.
    const int pushes = report.value(QStringLiteral("pushes")).toInt();
    QVERIFY2(pushes >= 3 && pushes <= pushMs * 4 / 1000 + 2, shown.constData());
    const qint64 radioFrequency = radio->withRadio([](Ft991Protocol& r) { return r.frequency(0); });
    QCOMPARE(qint64(report.value(QStringLiteral("firstPush"))[QStringLiteral("freq")].toDouble()), radioFrequency);

    QCOMPARE(report.value(QStringLiteral("udpStart"))[QStringLiteral("Success")].toString(),
             QStringLiteral("Started UDP QSO"));
    QCOMPARE(report.value(QStringLiteral("udpSubscribe"))[QStringLiteral("Success")].toString(),
             QStringLiteral("Subscribed to UDP QSO"));
    QCOMPARE(report.value(QStringLiteral("udpStatus"))[QStringLiteral("Port")].toInt(), int(udpPort));

    // Bytes that survive only a byte-exact relay: UTF-8, a NUL, a byte that is no UTF-8 at all.
    const QByteArray datagram = QByteArrayLiteral("<CALL:5>IK2XY <NAME:6>Nicol\xc3\xb2 <COMMENT:3>\x00\xff\x7f <EOR>");
    QUdpSocket sender;
    QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, udpPort), qint64(datagram.size()));

    const QJsonValue qso = browser.evaluate(tab, QStringLiteral("nextQso(10000)"), 15000);
    QVERIFY2(qso.isObject(), qPrintable(browser.problem()));
    QCOMPARE(qso[QStringLiteral("cacheId")].toString(), QStringLiteral("not implemented"));
    QByteArray decoded;
    for (const QJsonValue& byte : qso[QStringLiteral("bytes")].toArray()) {
        decoded.append(char(byte.toInt()));
    }
    QCOMPARE(decoded, datagram);
}

void TestBrowser::originDecides_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("admitted");

    QTest::newRow("listed host") << QStringLiteral("https://%1/").arg(listedHost) << true;
    QTest::newRow("www form of a listed host") << QStringLiteral("https://www.%1/").arg(listedHost) << true;
    QTest::newRow("unlisted host") << QStringLiteral("https://%1/").arg(unlistedHost) << false;
    // The page's own port is in its Origin, and no listed origin has one.
    QTest::newRow("listed host with explicit port") << QStringLiteral("https://%1:%2/").arg(listedHost) << false;
}

void TestBrowser::originDecides()
{
    QFETCH(QString, page);
    QFETCH(bool, admitted);
    if (page.contains(QLatin1String("%2"))) {
        page = page.arg(pages.serverPort());
    }

    HeadlessBrowser browser;
    QVERIFY2(browser.start(siteSwitches()), qPrintable(browser.problem()));
    const int requestsBefore = pages.pageRequests();
    const QString tab = browser.openPage(QUrl(page));
    QVERIFY2(!tab.isEmpty(), qPrintable(browser.problem()));
    QCOMPARE(pages.pageRequests(), requestsBefore + 1);

    const int connectionsBefore = connectionsSoFar();
    const QJsonValue outcome = browser.evaluate(tab, QStringLiteral("tryOrvessa(%1)").arg(serverPort));
    QVERIFY2(outcome.isObject(), qPrintable(browser.problem()));
    const QByteArray shown = QJsonDocument(outcome.toObject()).toJson(QJsonDocument::Compact);
    QCOMPARE(outcome[QStringLiteral("opened")].toBool(), admitted);
    if (admitted) {
        QCOMPARE(outcome[QStringLiteral("ovInfo")][QStringLiteral("OrvessaVersion")].toString(), AppSettings::version);
        QTRY_COMPARE(connectionsSoFar(), connectionsBefore + 1);
    } else {
        // The page sees only the generic failure a refused handshake gives.
        QVERIFY2(outcome[QStringLiteral("code")].toInt() == 1006, shown.constData());
        QVERIFY2(!browser.logTexts(tab).filter(QStringLiteral("403")).isEmpty(),
                 qPrintable(browser.logTexts(tab).join(QLatin1Char('\n'))));
        QCOMPARE(connectionsSoFar(), connectionsBefore);
    }
}

void TestBrowser::loopbackPermission_data()
{
    QTest::addColumn<QString>("grantedTo");
    QTest::addColumn<bool>("admitted");

    QTest::newRow("not granted") << QString() << false;
    QTest::newRow("granted to the site") << QStringLiteral("https://%1").arg(listedHost) << true;
    // A permission belongs to one origin: the www. form is another site and asks again.
    QTest::newRow("granted to the www form only") << QStringLiteral("https://www.%1").arg(listedHost) << false;
}

void TestBrowser::loopbackPermission()
{
    QFETCH(QString, grantedTo);
    QFETCH(bool, admitted);

    // As an operator's browser sees a trusted site: a page of the public internet reaching for loopback.
    HeadlessBrowser browser;
    QVERIFY2(browser.start(siteSwitches() << QStringLiteral("--ip-address-space-overrides=127.0.0.1:%1=public")
                                                 .arg(pages.serverPort())),
             qPrintable(browser.problem()));
    if (!grantedTo.isEmpty()) {
        const QJsonObject granted
            = browser.command(QStringLiteral("Browser.grantPermissions"),
                              {{QStringLiteral("origin"), grantedTo},
                               {QStringLiteral("permissions"), QJsonArray {QStringLiteral("loopbackNetwork")}}});
        QVERIFY2(granted.contains(QStringLiteral("result")), qPrintable(browser.problem()));
    }
    const QString tab = browser.openPage(QUrl(QStringLiteral("https://%1/").arg(listedHost)));
    QVERIFY2(!tab.isEmpty(), qPrintable(browser.problem()));

    const int connectionsBefore = connectionsSoFar();
    const QJsonValue outcome = browser.evaluate(tab, QStringLiteral("tryOrvessa(%1)").arg(serverPort));
    QVERIFY2(outcome.isObject(), qPrintable(browser.problem()));
    const QString log = browser.logTexts(tab).join(QLatin1Char('\n'));
    QVERIFY2(outcome[QStringLiteral("opened")].toBool() == admitted, qPrintable(log));
    if (admitted) {
        QCOMPARE(outcome[QStringLiteral("ovInfo")][QStringLiteral("OrvessaVersion")].toString(), AppSettings::version);
        QTRY_COMPARE(connectionsSoFar(), connectionsBefore + 1);
    } else {
        QVERIFY2(log.contains(QLatin1String("ERR_BLOCKED_BY_LOCAL_NETWORK_ACCESS_CHECKS")), qPrintable(log));
        QCOMPARE(connectionsSoFar(), connectionsBefore);
    }
}

void TestBrowser::framedPage_data()
{
    QTest::addColumn<QString>("grantedTo");
    QTest::addColumn<bool>("admitted");

    // A listed site framed by another: the permission is the framing site's, the Origin the frame's.
    QTest::newRow("granted to the framing site") << QStringLiteral("https://%1").arg(unlistedHost) << true;
    QTest::newRow("granted to the framed site only") << QStringLiteral("https://%1").arg(listedHost) << false;
}

void TestBrowser::framedPage()
{
    QFETCH(QString, grantedTo);
    QFETCH(bool, admitted);

    HeadlessBrowser browser;
    QVERIFY2(browser.start(siteSwitches() << QStringLiteral("--ip-address-space-overrides=127.0.0.1:%1=public")
                                                 .arg(pages.serverPort())),
             qPrintable(browser.problem()));
    QVERIFY2(browser
                 .command(QStringLiteral("Browser.grantPermissions"),
                          {{QStringLiteral("origin"), grantedTo},
                           {QStringLiteral("permissions"), QJsonArray {QStringLiteral("loopbackNetwork")}}})
                 .contains(QStringLiteral("result")),
             qPrintable(browser.problem()));
    const QString tab = browser.openPage(QUrl(QStringLiteral("https://%1/").arg(unlistedHost)));
    QVERIFY2(!tab.isEmpty(), qPrintable(browser.problem()));

    const int connectionsBefore = connectionsSoFar();
    const QJsonValue outcome = browser.evaluate(tab,
                                                QStringLiteral("tryInFrame(%1, \"loopback-network\", %2, 15000)")
                                                    .arg(jsText(QStringLiteral("https://%1/").arg(listedHost)))
                                                    .arg(serverPort),
                                                20000);
    QVERIFY2(outcome.isObject(), qPrintable(browser.problem()));
    QCOMPARE(outcome[QStringLiteral("opened")].toBool(), admitted);
    if (admitted) {
        QTRY_COMPARE(connectionsSoFar(), connectionsBefore + 1);
    } else {
        QCOMPARE(connectionsSoFar(), connectionsBefore);
    }
}

QTEST_GUILESS_MAIN(TestBrowser)
#include "tst_browser.moc"
