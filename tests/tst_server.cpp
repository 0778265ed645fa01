#include "AppSettings.h"
#include "Orvessa.h"
#include "OrvessaRun.h"
#include "RigSimulator.h"
#include "RpcClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QNetworkInterface>
#include <QTest>

#include <hamlib/rig.h>

#include <csignal>

namespace {

const QString allowedOrigin = allowedOrigins().value(1);

struct Listener
{
    QString address;
    quint16 port;
};

// Listening TCP sockets, read from the kernel's own table: which addresses a port is bound to.
QList<Listener> listeners(const QString& table)
{
    QList<Listener> found;
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly)) {
        return found;
    }
    file.readLine();
    while (!file.atEnd()) {
        const QStringList fields = QString::fromLatin1(file.readLine()).simplified().split(QLatin1Char(' '));
        if (fields.size() > 3 && fields.at(3) == QLatin1String("0A")) {
            const QStringList local = fields.at(1).split(QLatin1Char(':'));
            found.append({local.at(0), quint16(local.at(1).toUInt(nullptr, 16))});
        }
    }
    return found;
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

private slots:
    void listensOnLoopbackOnly_data();
    void listensOnLoopbackOnly();
    void smallMethods();
    void futureNumberWaitsOneSecondInTurn();
    void refusedOriginGetsNoConnection();
    void clientIsKnownBeforeItsFirstRequest();
    void disconnectedClientLeavesSubscriptionsButNotRigs();
    void quitClosesClientsNormally();
};

void TestServer::listensOnLoopbackOnly_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("no stored port") << QVariant() << 7351;
    QTest::newRow("stored 7390") << QVariant(7390) << 7390;
    QTest::newRow("stored 80 is below the range") << QVariant(80) << 7351;
    QTest::newRow("stored 65536 is above the range") << QVariant(65536) << 7351;
    QTest::newRow("stored text") << QVariant(QStringLiteral("port")) << 7351;
    QTest::newRow("stored 0") << QVariant(0) << 7351;
}

void TestServer::listensOnLoopbackOnly()
{
    QFETCH(QVariant, stored);
    QFETCH(int, expected);

    OrvessaRun orvessa;
    orvessa.storePort(stored);
    QCOMPARE(orvessa.startListening(), quint16(expected));

    RpcClient client(allowedOrigin);
    QVERIFY(client.open(quint16(expected)));

    QStringList bound;
    for (const Listener& listener : listeners(QStringLiteral("/proc/net/tcp"))) {
        if (listener.port == expected) {
            bound << listener.address;
        }
    }
    QCOMPARE(bound, QStringList {QStringLiteral("0100007F")});
    for (const Listener& listener : listeners(QStringLiteral("/proc/net/tcp6"))) {
        QVERIFY2(listener.port != expected, "the server also listens on IPv6");
    }
}

void TestServer::smallMethods()
{
    OrvessaRun orvessa;
    const quint16 port = orvessa.startListening();
    QVERIFY(port != 0);
    RpcClient client(allowedOrigin);
    QVERIFY(client.open(port));

    const QJsonObject info = client.result(QStringLiteral("ovInfo")).toObject();
    QCOMPARE(info.size(), 2);
    QCOMPARE(info.value(QStringLiteral("OrvessaVersion")).toString(), AppSettings::version);
    QCOMPARE(info.value(QStringLiteral("HamLibVersion")).toString(), QString::fromUtf8(rig_version()));

    QJsonArray expectedAddresses;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol) {
            expectedAddresses.append(address.toString());
        }
    }
    const QJsonValue addresses = client.result(QStringLiteral("allAddresses"));
    QVERIFY(addresses.isArray());
    QCOMPARE(addresses.toArray(), expectedAddresses);

    const QJsonValue rigs = client.result(QStringLiteral("listConnectedRigs"));
    QVERIFY(rigs.isArray());
    QCOMPARE(rigs.toArray().size(), 0);
}

void TestServer::futureNumberWaitsOneSecondInTurn()
{
    OrvessaRun orvessa;
    const quint16 port = orvessa.startListening();
    RpcClient client(allowedOrigin);
    QVERIFY(client.open(port));

    QElapsedTimer clock;
    clock.start();
    const int first = client.request(QStringLiteral("futureNumber"));
    const int second = client.request(QStringLiteral("futureNumber"));

    QCOMPARE(client.waitForResponse(first, 5000).value(QStringLiteral("result")).toInt(), 2);
    const qint64 firstAt = clock.elapsed();
    QVERIFY2(client.waitForResponse(second, 0).isEmpty(), "both answers came at once");
    QCOMPARE(client.waitForResponse(second, 5000).value(QStringLiteral("result")).toInt(), 2);
    const qint64 secondAt = clock.elapsed();

    QVERIFY2(firstAt >= 1000, qPrintable(QString::number(firstAt)));
    QVERIFY2(secondAt - firstAt >= 900 && secondAt - firstAt < 1800,
             qPrintable(QStringLiteral("%1 then %2").arg(firstAt).arg(secondAt)));
}

void TestServer::refusedOriginGetsNoConnection()
{
    OrvessaRun orvessa;
    const quint16 port = orvessa.startListening();

    RpcClient stranger(QStringLiteral("https://stranger.example"));
    QVERIFY(!stranger.open(port));

    RpcClient friendly(allowedOrigin);
    QVERIFY(friendly.open(port));
    QCOMPARE(orvessa.lineIndex(QRegularExpression(QStringLiteral("NEW CLIENT: .*$"))) >= 0, true);
}

void TestServer::clientIsKnownBeforeItsFirstRequest()
{
    OrvessaRun orvessa;
    const quint16 port = orvessa.startListening();
    RpcClient client(allowedOrigin);
    QVERIFY(client.open(port));
    QVERIFY(!client.result(QStringLiteral("udpQsoSubscribe")).isUndefined());

    const QRegularExpression newClient(QStringLiteral(R"(\]\[newEndpoint:\d+\]: NEW CLIENT: 127\.0\.0\.1$)"));
    const QRegularExpression subscribed(QStringLiteral(R"(\]\[udpQsoSubscribe:\d+\]: SUBSCRIBED UDP QSO to 0x)"));
    QVERIFY(!orvessa.waitForLine(subscribed).isNull());
    QVERIFY(orvessa.lineIndex(newClient) >= 0);
    QVERIFY(orvessa.lineIndex(newClient) < orvessa.lineIndex(subscribed));

    client.socket.close();
    QVERIFY(!orvessa.waitForLine(QRegularExpression(QStringLiteral(R"(DISCONNECTED 0x[0-9a-f]+ \()"))).isNull());
}

void TestServer::disconnectedClientLeavesSubscriptionsButNotRigs()
{
    RigSimulator radio;
    QVERIFY2(radio.isOpen(), qPrintable(radio.errorString()));
    OrvessaRun orvessa;
    const quint16 port = orvessa.startListening();
    RpcClient leaving(allowedOrigin);
    RpcClient staying(allowedOrigin);
    QVERIFY(leaving.open(port));
    QVERIFY(staying.open(port));

    const QJsonArray rig {radio.portName()};
    const QJsonValue connected = leaving.result(
        QStringLiteral("connectRig"), QJsonArray {radio.portName(), int(RigSimulator::modelId), "38400"}, 30000);
    QCOMPARE(connected.toObject().value(QStringLiteral("Success")).toString(), QStringLiteral("Rig connected"));
    QCOMPARE(leaving.result(QStringLiteral("rigInfoSubscribe"), rig).toObject().value(QStringLiteral("Success")),
             QJsonValue(QStringLiteral("subscribed")));
    QVERIFY(leaving.waitForNotifications(QStringLiteral("RigInfo"), 2));

    leaving.socket.close();
    QVERIFY(!orvessa.waitForLine(QRegularExpression(QStringLiteral(R"(DISCONNECTED 0x[0-9a-f]+ \()"))).isNull());
    // An answer after the disconnection means any tick that was reading the radio has ended.
    QCOMPARE(staying.result(QStringLiteral("ovInfo")).toObject().size(), 2);
    radio.resetCommandCount();

    // With its only subscriber gone the radio is left alone, yet it stays connected.
    QTest::qWait(1000);
    QCOMPARE(radio.commandCount(), 0);
    const QJsonArray rigs = staying.result(QStringLiteral("listConnectedRigs")).toArray();
    QCOMPARE(rigs.size(), 1);
    QCOMPARE(rigs.at(0).toObject().value(QStringLiteral("Location")).toString(), radio.portName());
    QCOMPARE(staying.result(QStringLiteral("rigInfoSubscribe"), rig).toObject().value(QStringLiteral("Success")),
             QJsonValue(QStringLiteral("subscribed")));
    QVERIFY(staying.waitForNotifications(QStringLiteral("RigInfo"), 2));
}

void TestServer::quitClosesClientsNormally()
{
    OrvessaRun orvessa;
    const quint16 port = orvessa.startListening();
    RpcClient first(allowedOrigin);
    RpcClient second(allowedOrigin);
    QVERIFY(first.open(port));
    QVERIFY(second.open(port));

    ::kill(pid_t(orvessa.pid()), SIGTERM);
    QVERIFY(first.waitForClosed());
    QVERIFY(second.waitForClosed());
    QCOMPARE(first.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QCOMPARE(second.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QCOMPARE(orvessa.waitForExit(), 0);
    const int closing = orvessa.lineIndex(QRegularExpression(QStringLiteral(R"(\[finish:\d+\]: closing thread$)")));
    QVERIFY(closing >= 0);
    // Tearing down must not touch objects from a thread that does not own them.
    const QStringList teardown = orvessa.lines().mid(closing);
    QVERIFY2(teardown.filter(QStringLiteral("]: Warning: ")).isEmpty(), qPrintable(teardown.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
