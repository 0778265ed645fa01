// The QSO relay end to end: the real program, real WebSocket clients and real UDP datagrams on loopback.
#include "Orvessa.h"
#include "OrvessaRun.h"
#include "RpcClient.h"
#include "TestEnvironment.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {

const QString allowedOrigin = allowedOrigins().value(1);
const QHostAddress loopback(QHostAddress::LocalHost);
const QHostAddress anyIPv4(QHostAddress::AnyIPv4);
const auto sharedBind = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;

// Nobody holds the port once a socket that refuses sharing can take it.
bool portIsFree(quint16 port)
{
    QUdpSocket probe;
    return probe.bind(anyIPv4, port, QAbstractSocket::DontShareAddress);
}

QJsonObject success(const QString& text)
{
    return {{QStringLiteral("Success"), text}};
}

QJsonObject failure(const QString& text)
{
    return {{QStringLiteral("Error"), text}};
}

QJsonArray startParams(quint16 port, const QVariant& filters = QVariant())
{
    QJsonArray params {port, QString(QLatin1String("")), QString(QLatin1String(""))};
    if (filters.isValid()) {
        params.append(QJsonArray::fromStringList(filters.toStringList()));
    }
    return params;
}

QString startMethod(const QVariant& filters)
{
    return filters.isValid() ? QStringLiteral("udpQsoStartFilters") : QStringLiteral("udpQsoStart");
}

QJsonObject receivingOn(quint16 port, const QString& address = QStringLiteral("0.0.0.0"))
{
    return {{QStringLiteral("Receiving"), true},
            {QStringLiteral("Port"), port},
            {QStringLiteral("Address"), address},
            {QStringLiteral("Group"), QString(QLatin1String(""))}};
}

const QJsonObject notReceiving {{QStringLiteral("Receiving"), false}};

// The datagrams a client was sent as "QsoInfo", decoded; a push of any other form shows up as a
// describing text, so a comparison with the expected datagrams fails on it.
QList<QByteArray> relayed(const RpcClient& client)
{
    QList<QByteArray> datagrams;
    for (const QJsonObject& push : client.notifications(QStringLiteral("QsoInfo"))) {
        const QJsonObject qso = push.value(QStringLiteral("params")).toObject();
        const QJsonValue data = qso.value(QStringLiteral("UDPData"));
        const auto decoded
            = QByteArray::fromBase64Encoding(data.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        static const QRegularExpression standard(QStringLiteral("^(?:[A-Za-z0-9+/]{4})*(?:[A-Za-z0-9+/]{2}==|"
                                                                "[A-Za-z0-9+/]{3}=)?$"));
        if (qso.keys() != QStringList {QStringLiteral("CacheID"), QStringLiteral("UDPData")}
            || qso.value(QStringLiteral("CacheID")) != QStringLiteral("not implemented") || !data.isString()
            || !standard.match(data.toString()).hasMatch() || !decoded) {
            datagrams << "malformed push: " + QJsonDocument(push).toJson(QJsonDocument::Compact).left(200);
        } else {
            datagrams << *decoded;
        }
    }
    return datagrams;
}

} // namespace

class TestQsoRelay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startAndStatus_data();
    void startAndStatus();
    void refusedStart_data();
    void refusedStart();
    void secondStartReplacesFirst();
    void stopAlwaysAnswers_data();
    void stopAlwaysAnswers();
    void portIsShared_data();
    void portIsShared();
    void relay_data();
    void relay();
    void defaultsReturnAfterStartWithoutFilters();
    void nothingSentWithoutSubscribers();
    void subscribeTwicePushesOnce();
    void stopNoticeGoesToTheOthers();
    void closedClientIsDropped();
    void startsRunInOrder();
    void startWithoutIdBindsNothing();
    void steadyStreamArrivesWhole();

private:
    bool startRelay(quint16 port, const QVariant& filters = QVariant());
    QJsonValue status() { return client->result(QStringLiteral("udpQsoStatus")); }
    // Waits until the program has written everything it logged before this call.
    bool logBarrier();
    int logCount(const QString& line) const { return orvessa->lines().count(line); }

    std::unique_ptr<OrvessaRun> orvessa;
    std::unique_ptr<RpcClient> client;
    quint16 serverPort = 0;
    QUdpSocket sender;
    int barriers = 0;
};

void TestQsoRelay::init()
{
    orvessa = std::make_unique<OrvessaRun>();
    // Not the default port: other runs of the program on this machine may hold it.
    QTcpServer probe;
    QVERIFY(probe.listen(loopback, 0));
    const quint16 chosen = probe.serverPort();
    probe.close();
    orvessa->storePort(chosen);
    serverPort = orvessa->startListening();
    QCOMPARE(serverPort, chosen);
    QVERIFY(serverPort != 0);
    client = std::make_unique<RpcClient>(allowedOrigin);
    QVERIFY(client->open(serverPort));
}

void TestQsoRelay::cleanup()
{
    client.reset();
    if (orvessa) {
        QVERIFY2(orvessa->isRunning(), "the program ended during the test");
        orvessa->terminate();
        QCOMPARE(orvessa->waitForExit(), 0);
    }
    orvessa.reset();
}

bool TestQsoRelay::startRelay(quint16 port, const QVariant& filters)
{
    return client->result(startMethod(filters), startParams(port, filters)).toObject()
        == success(QStringLiteral("Started UDP QSO"));
}

bool TestQsoRelay::logBarrier()
{
    // An unknown port gives an error envelope and no rig call; the dispatcher logs its argument.
    const QString marker = QStringLiteral("barrier-%1").arg(++barriers);
    client->request(QStringLiteral("rigInfo"), QJsonArray {marker});
    return !orvessa->waitForLine(QRegularExpression(QRegularExpression::escape(marker))).isNull();
}

void TestQsoRelay::startAndStatus_data()
{
    QTest::addColumn<QJsonValue>("params");
    QTest::addColumn<QString>("address");

    // The port is filled in by the test.
    QTest::newRow("empty texts: every IPv4 address, no group") << QJsonValue(startParams(0)) << "0.0.0.0";
    QTest::newRow("loopback only") << QJsonValue(QJsonArray {0, "127.0.0.1", ""}) << "127.0.0.1";
    QTest::newRow("parameters by name") << QJsonValue(QJsonObject {{"port", 0}, {"add", ""}, {"group", ""}})
                                        << "0.0.0.0";
}

void TestQsoRelay::startAndStatus()
{
    QFETCH(QJsonValue, params);
    QFETCH(QString, address);

    const quint16 port = TestEnvironment::freeUdpPort();
    QJsonValue withPort;
    if (params.isArray()) {
        QJsonArray list = params.toArray();
        list[0] = port;
        withPort = list;
    } else {
        QJsonObject named = params.toObject();
        named[QStringLiteral("port")] = port;
        withPort = named;
    }
    QCOMPARE(status(), QJsonValue(notReceiving));
    QCOMPARE(client->result(QStringLiteral("udpQsoStart"), withPort), QJsonValue(success("Started UDP QSO")));
    QCOMPARE(status(), QJsonValue(receivingOn(port, address)));
    QVERIFY(!portIsFree(port));
}

void TestQsoRelay::refusedStart_data()
{
    QTest::addColumn<QJsonArray>("params");
    QTest::addColumn<bool>("portHeldWithoutSharing");
    QTest::addColumn<QJsonObject>("answer");
    QTest::addColumn<bool>("earlierKeepsRunning");

    const QJsonObject invalid = failure(QStringLiteral("Invalid params"));
    const QJsonObject cannot = failure(QStringLiteral("Cannot start UDP QSO"));
    const QJsonObject notFound {{QStringLiteral("code"), -32601}};
    // A port of -1 is filled in with a port the test finds free.
    QTest::newRow("port 0") << QJsonArray {0, "", ""} << false << invalid << true;
    QTest::newRow("port 0 with filters") << QJsonArray {0, "", "", QJsonArray {"QSO"}} << false << invalid << true;
    QTest::newRow("port held without sharing") << QJsonArray {-1, "", ""} << true << cannot << false;
    // Taken modulo 65536, these would bind a port nobody asked for (65537 is port 1).
    QTest::newRow("port above 65535") << QJsonArray {65537, "", ""} << false << notFound << true;
    QTest::newRow("negative port") << QJsonArray {-65535, "", ""} << false << notFound << true;
    QTest::newRow("unreadable address text") << QJsonArray {-1, "127.0.0.l", ""} << false << cannot << false;
}

void TestQsoRelay::refusedStart()
{
    QFETCH(QJsonArray, params);
    QFETCH(bool, portHeldWithoutSharing);
    QFETCH(QJsonObject, answer);
    QFETCH(bool, earlierKeepsRunning);

    const quint16 earlier = TestEnvironment::freeUdpPort();
    QVERIFY(startRelay(earlier));
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));

    const quint16 port = TestEnvironment::freeUdpPort();
    QUdpSocket holder;
    if (portHeldWithoutSharing) {
        QVERIFY(holder.bind(anyIPv4, port, QAbstractSocket::DontShareAddress));
    }
    if (params.at(0).toInt() == -1) {
        params[0] = port;
    }
    const QString method = params.size() == 4 ? QStringLiteral("udpQsoStartFilters") : QStringLiteral("udpQsoStart");
    const QJsonObject response = client->waitForResponse(client->request(method, params));
    if (answer.contains(QStringLiteral("code"))) {
        QCOMPARE(response.value(QStringLiteral("error")).toObject().value(QStringLiteral("code")),
                 answer.value(QStringLiteral("code")));
    } else {
        QCOMPARE(response.value(QStringLiteral("result")).toObject(), answer);
    }

    QCOMPARE(status(), QJsonValue(earlierKeepsRunning ? receivingOn(earlier) : notReceiving));
    // A refusal leaves the subscription alone: a later start reaches the same subscriber.
    if (!earlierKeepsRunning) {
        QVERIFY(startRelay(earlier));
    }
    QCOMPARE(sender.writeDatagram("ADDQSO: after the refusal", loopback, earlier), qint64(25));
    QTRY_COMPARE(relayed(*client), QList<QByteArray> {"ADDQSO: after the refusal"});
}

void TestQsoRelay::secondStartReplacesFirst()
{
    const quint16 first = TestEnvironment::freeUdpPort();
    const quint16 second = TestEnvironment::freeUdpPort();
    QVERIFY(startRelay(first));
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));
    QVERIFY(startRelay(second));

    QCOMPARE(status(), QJsonValue(receivingOn(second)));
    QVERIFY(portIsFree(first));
    QCOMPARE(sender.writeDatagram("<CALL:4>W1AW <EOR>", loopback, second), qint64(18));
    QTRY_COMPARE(relayed(*client), QList<QByteArray> {"<CALL:4>W1AW <EOR>"});
}

void TestQsoRelay::stopAlwaysAnswers_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("subscribed");

    QTest::newRow("nothing running, nobody subscribed") << false << false;
    QTest::newRow("nothing running, caller subscribed") << false << true;
    QTest::newRow("running, nobody subscribed") << true << false;
    QTest::newRow("running, caller subscribed") << true << true;
}

void TestQsoRelay::stopAlwaysAnswers()
{
    QFETCH(bool, running);
    QFETCH(bool, subscribed);

    const quint16 port = TestEnvironment::freeUdpPort();
    if (running) {
        QVERIFY(startRelay(port));
    }
    if (subscribed) {
        QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));
    }
    QCOMPARE(client->result(QStringLiteral("udpQsoStop")).toObject(), success("Stopped UDP QSO"));
    QCOMPARE(status(), QJsonValue(notReceiving));
    QVERIFY(portIsFree(port));
    QCOMPARE(client->result(QStringLiteral("udpQsoUnsubscribe")).toObject(), failure("Not subscribed to UDP QSO"));
    // The caller learns of the stop from its answer only.
    QVERIFY(client->notifications(QStringLiteral("RigInfo")).isEmpty());
    // Stopping twice is as harmless as the first time.
    QCOMPARE(client->result(QStringLiteral("udpQsoStop")).toObject(), success("Stopped UDP QSO"));
}

void TestQsoRelay::portIsShared_data()
{
    QTest::addColumn<bool>("otherBindsFirst");

    QTest::newRow("another program joins the port") << false;
    QTest::newRow("another program was there first") << true;
}

void TestQsoRelay::portIsShared()
{
    QFETCH(bool, otherBindsFirst);

    const quint16 port = TestEnvironment::freeUdpPort();
    QUdpSocket other;
    if (otherBindsFirst) {
        QVERIFY(other.bind(anyIPv4, port, sharedBind));
    }
    QVERIFY(startRelay(port));
    if (!otherBindsFirst) {
        QVERIFY(other.bind(anyIPv4, port, sharedBind));
    }
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));

    // Unicast reaches one sharer only; a broadcast on the loopback network reaches every one.
    const QByteArray record("<CALL:5>IK2AB <BAND:3>40M <EOR>");
    QCOMPARE(sender.writeDatagram(record, QHostAddress(QStringLiteral("127.255.255.255")), port),
             qint64(record.size()));
    QTRY_COMPARE(relayed(*client), QList<QByteArray> {record});
    QTRY_VERIFY(other.hasPendingDatagrams());
    QCOMPARE(other.receiveDatagram().data(), record);
}

// What crosses the wire: whole records in exact Base64, filters given as JSON. How each datagram is
// judged is pinned without a server by the receiver's own recognition table.
void TestQsoRelay::relay_data()
{
    QTest::addColumn<QVariant>("filters");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("accepted");
    // Accepted by the same filters and sent right after: its arrival proves the first was judged.
    QTest::addColumn<QByteArray>("sentinel");
    QTest::addColumn<int>("unfilteredLines");

    const QVariant defaults;
    const QByteArray addQso("ADDQSO: sentinel");
    const QByteArray adif("<CALL:5>IK2XY <BAND:3>20M <MODE:3>SSB <FREQ:6>14.205 <RST_SENT:2>59 <RST_RCVD:2>57 "
                          "<QSO_DATE:8>20250412 <TIME_ON:6>183200 <STATION_CALLSIGN:5>IK2AB <EOR>\n");
    const QByteArray contact(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<contactinfo>\n  <app>N1MM</app>\n"
        "  <contestname>CQ-WW-SSB</contestname>\n  <timestamp>2025-04-12 18:32:00</timestamp>\n"
        "  <mycall>IK2AB</mycall>\n  <band>14</band>\n  <rxfreq>1420500</rxfreq>\n  <txfreq>1420500</txfreq>\n"
        "  <call>W1AW</call>\n  <mode>USB</mode>\n  <snt>59</snt>\n  <sntnr>15</sntnr>\n  <rcv>59</rcv>\n"
        "  <rcvnr>5</rcvnr>\n</contactinfo>\n");
    const QByteArray binary("\x00\xfb\xff\xbf\x80\x01\x7f\n", 8);
    // The largest UDP payload over IPv4, with its only marker in its last bytes.
    QByteArray largest(65507, '\0');
    for (int i = 0; i < largest.size(); ++i) {
        largest[i] = char((i * 7919) % 251);
    }
    largest.replace(largest.size() - 7, 7, "ADDQSO:");
    const QVariant qso = QStringList {QStringLiteral("QSO")};
    const QVariant everything = QStringList();
    const QVariant oneEmpty = QStringList {QString(QLatin1String(""))};
    const QVariant city = QStringList {QStringLiteral("Citt\u00e0")};

    QTest::newRow("ADIF record as loggers send it") << defaults << adif << true << addQso << 0;
    QTest::newRow("contest logger XML contact") << defaults << contact << true << addQso << 0;
    QTest::newRow("ADDQSO line") << defaults << QByteArray("ADDQSO:IK2XY,20250412,1832,14205.0,SSB,59,57\r\n") << true
                                 << addQso << 0;
    QTest::newRow("one byte") << QVariant(everything) << QByteArray("Q") << true << QByteArray("x") << 2;
    QTest::newRow("65507 bytes relayed whole") << defaults << largest << true << addQso << 0;
    QTest::newRow("filter QSO accepts its marker")
        << qso << QByteArray("QSO IK2XY 14205.0 SSB 59 57") << true << QByteArray("QSO sentinel") << 0;
    QTest::newRow("no filters take non-text bytes") << everything << binary << true << QByteArray("x") << 2;
    QTest::newRow("one empty filter takes everything quietly") << oneEmpty << binary << true << QByteArray("x") << 0;
    QTest::newRow("non-ASCII filter matches its UTF-8 bytes")
        << city << QByteArray("QTH: Citt\xc3\xa0 di Castello") << true << QByteArray("Citt\xc3\xa0") << 0;
}

void TestQsoRelay::relay()
{
    QFETCH(QVariant, filters);
    QFETCH(QByteArray, datagram);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, sentinel);
    QFETCH(int, unfilteredLines);

    const quint16 port = TestEnvironment::freeUdpPort();
    QVERIFY(startRelay(port, filters));
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));
    // One sender keeps the two datagrams in order on loopback.
    QCOMPARE(sender.writeDatagram(datagram, loopback, port), qint64(datagram.size()));
    QCOMPARE(sender.writeDatagram(sentinel, loopback, port), qint64(sentinel.size()));

    const QList<QByteArray> expected = accepted ? QList<QByteArray> {datagram, sentinel} : QList<QByteArray> {sentinel};
    QVERIFY(client->waitForNotifications(QStringLiteral("QsoInfo"), expected.size()));
    QVERIFY(logBarrier());
    QCOMPARE(relayed(*client), expected);
    QCOMPARE(logCount(QStringLiteral("NON FILTRO")), unfilteredLines);
}

void TestQsoRelay::defaultsReturnAfterStartWithoutFilters()
{
    const quint16 port = TestEnvironment::freeUdpPort();
    QVERIFY(startRelay(port, QStringList {QStringLiteral("QSO")}));
    QVERIFY(startRelay(port));
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));

    QCOMPARE(sender.writeDatagram("QSO only", loopback, port), qint64(8));
    QCOMPARE(sender.writeDatagram("<CALL:4>W1AW <EOR>", loopback, port), qint64(18));
    QVERIFY(client->waitForNotifications(QStringLiteral("QsoInfo"), 1));
    QCOMPARE(relayed(*client), QList<QByteArray> {"<CALL:4>W1AW <EOR>"});
}

void TestQsoRelay::nothingSentWithoutSubscribers()
{
    const quint16 port = TestEnvironment::freeUdpPort();
    QVERIFY(startRelay(port));
    QSignalSpy messages(&client->socket, &QWebSocket::textMessageReceived);
    QCOMPARE(sender.writeDatagram("ADDQSO: nobody listens", loopback, port), qint64(22));
    QVERIFY(!orvessa->waitForLine(QRegularExpression(QStringLiteral("UDP received Thread id"))).isNull());
    QVERIFY(!messages.wait(300));

    // The same client, once subscribed, gets the next record only.
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));
    QCOMPARE(sender.writeDatagram("ADDQSO: now somebody does", loopback, port), qint64(25));
    QVERIFY(client->waitForNotifications(QStringLiteral("QsoInfo"), 1));
    QCOMPARE(relayed(*client), QList<QByteArray> {"ADDQSO: now somebody does"});
}

void TestQsoRelay::subscribeTwicePushesOnce()
{
    const quint16 port = TestEnvironment::freeUdpPort();
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), failure("already subscribed"));
    QVERIFY(startRelay(port));

    QCOMPARE(sender.writeDatagram("ADDQSO: first", loopback, port), qint64(13));
    QCOMPARE(sender.writeDatagram("ADDQSO: second", loopback, port), qint64(14));
    QVERIFY(client->waitForNotifications(QStringLiteral("QsoInfo"), 2));
    QVERIFY(logBarrier());
    QCOMPARE(relayed(*client), (QList<QByteArray> {"ADDQSO: first", "ADDQSO: second"}));

    QCOMPARE(client->result(QStringLiteral("udpQsoUnsubscribe")).toObject(), success("Unsubscribed from UDP QSO"));
    QCOMPARE(client->result(QStringLiteral("udpQsoUnsubscribe")).toObject(), failure("Not subscribed to UDP QSO"));
}

void TestQsoRelay::stopNoticeGoesToTheOthers()
{
    RpcClient other(allowedOrigin);
    RpcClient bystander(allowedOrigin);
    QVERIFY(other.open(serverPort));
    QVERIFY(bystander.open(serverPort));
    QVERIFY(startRelay(TestEnvironment::freeUdpPort()));
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));
    QCOMPARE(other.result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));

    QCOMPARE(client->result(QStringLiteral("udpQsoStop")).toObject(), success("Stopped UDP QSO"));
    QVERIFY(other.waitForNotifications(QStringLiteral("RigInfo"), 1));
    // Answers that follow the stop: nothing else was on its way to anybody.
    QCOMPARE(other.result(QStringLiteral("udpQsoUnsubscribe")).toObject(), failure("Not subscribed to UDP QSO"));
    QCOMPARE(client->result(QStringLiteral("udpQsoUnsubscribe")).toObject(), failure("Not subscribed to UDP QSO"));
    QCOMPARE(bystander.result(QStringLiteral("udpQsoStatus")), QJsonValue(notReceiving));

    const QList<QJsonObject> notices = other.notifications(QStringLiteral("RigInfo"));
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices.first().value(QStringLiteral("params")).toObject(),
             (QJsonObject {{QStringLiteral("Error:"), QStringLiteral("UDP QSO stopped")}}));
    QVERIFY(client->notifications(QStringLiteral("RigInfo")).isEmpty());
    QVERIFY(bystander.notifications(QStringLiteral("RigInfo")).isEmpty());
}

void TestQsoRelay::closedClientIsDropped()
{
    auto leaving = std::make_unique<RpcClient>(allowedOrigin);
    QVERIFY(leaving->open(serverPort));
    const quint16 port = TestEnvironment::freeUdpPort();
    QVERIFY(startRelay(port));
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));
    QCOMPARE(leaving->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));

    leaving->socket.close();
    QVERIFY(leaving->waitForClosed());
    leaving.reset();
    QVERIFY(!orvessa->waitForLine(QRegularExpression(QStringLiteral(R"(DISCONNECTED 0x[0-9a-f]+ \()"))).isNull());

    // A newcomer may sit where the one that left was; it subscribed to nothing and gets nothing.
    RpcClient newcomer(allowedOrigin);
    QVERIFY(newcomer.open(serverPort));
    QCOMPARE(sender.writeDatagram("ADDQSO: after the leave", loopback, port), qint64(23));
    QVERIFY(client->waitForNotifications(QStringLiteral("QsoInfo"), 1));
    QCOMPARE(relayed(*client), QList<QByteArray> {"ADDQSO: after the leave"});
    QCOMPARE(newcomer.result(QStringLiteral("udpQsoUnsubscribe")).toObject(), failure("Not subscribed to UDP QSO"));
    QVERIFY(newcomer.notifications(QStringLiteral("QsoInfo")).isEmpty());
}

void TestQsoRelay::startsRunInOrder()
{
    QList<quint16> ports;
    QList<int> ids;
    for (int i = 0; i < 4; ++i) {
        ports << TestEnvironment::freeUdpPort();
        ids << client->request(QStringLiteral("udpQsoStart"), startParams(ports.last()));
    }
    for (const int id : qAsConst(ids)) {
        QCOMPARE(client->waitForResponse(id).value(QStringLiteral("result")).toObject(),
                 success(QStringLiteral("Started UDP QSO")));
    }
    // Answered in the order asked, each after the one before had bound its port.
    QStringList answered;
    for (const QString& text : qAsConst(client->messages)) {
        answered << QJsonDocument::fromJson(text.toUtf8()).object().value(QStringLiteral("id")).toString();
    }
    QCOMPARE(answered, (QStringList {"1", "2", "3", "4"}));
    QCOMPARE(status(), QJsonValue(receivingOn(ports.last())));
    QVERIFY(logBarrier());
    QStringList bound;
    const QRegularExpression setup(QStringLiteral(R"(UDP setup Thread id: \S+, port: (\d+)$)"));
    for (const QString& line : orvessa->lines()) {
        const QRegularExpressionMatch match = setup.match(line);
        if (match.hasMatch()) {
            bound << match.captured(1);
        }
    }
    QStringList asked;
    for (const quint16 port : qAsConst(ports)) {
        asked << QString::number(port);
    }
    QCOMPARE(bound, asked);
    for (int i = 0; i < ports.size() - 1; ++i) {
        QVERIFY(portIsFree(ports.at(i)));
    }
}

void TestQsoRelay::startWithoutIdBindsNothing()
{
    const quint16 port = TestEnvironment::freeUdpPort();
    QSignalSpy messages(&client->socket, &QWebSocket::textMessageReceived);
    client->send(QStringLiteral(R"({"jsonrpc": "2.0", "method": "udpQsoStart", "params": [%1, "", ""]})").arg(port));
    QVERIFY(!messages.wait(1000));
    QCOMPARE(status(), QJsonValue(notReceiving));
    QVERIFY(portIsFree(port));
    QVERIFY(logBarrier());
    QCOMPARE(orvessa->lineIndex(QRegularExpression(QStringLiteral("UDP setup Thread id"))), -1);
}

void TestQsoRelay::steadyStreamArrivesWhole()
{
    // Ten thousand records of about 500 bytes at 2,000 a second, paced against the clock so a slow
    // moment is made up for rather than lost.
    constexpr int total = 10000;
    constexpr int perSecond = 2000;
    const quint16 port = TestEnvironment::freeUdpPort();
    QVERIFY(startRelay(port));
    QCOMPARE(client->result(QStringLiteral("udpQsoSubscribe")).toObject(), success("Subscribed to UDP QSO"));

    QByteArray filler(440, 'x');
    QElapsedTimer clock;
    clock.start();
    for (int sent = 0; sent < total;) {
        const int due = std::min<int>(total, int(clock.elapsed() * perSecond / 1000) + 1);
        for (; sent < due; ++sent) {
            const QByteArray record = QStringLiteral("<CALL:5>IK2AB <QSO_NR:5>%1 <COMMENT:440>")
                                          .arg(sent, 5, 10, QLatin1Char('0'))
                                          .toLatin1()
                + filler + "<EOR>\n";
            QCOMPARE(sender.writeDatagram(record, loopback, port), qint64(record.size()));
        }
        QTest::qWait(1);
    }
    const qint64 sendingMs = clock.elapsed();
    QVERIFY2(
        client->waitForNotifications(QStringLiteral("QsoInfo"), total, 30000),
        qPrintable(QStringLiteral("%1 of %2").arg(client->notifications(QStringLiteral("QsoInfo")).size()).arg(total)));
    QVERIFY2(sendingMs < 6500, qPrintable(QStringLiteral("sending took %1 ms").arg(sendingMs)));
    const QList<QByteArray> records = relayed(*client);
    QCOMPARE(records.size(), total);
    for (int i = 0; i < total; ++i) {
        QVERIFY2(records.at(i).contains(QStringLiteral("<QSO_NR:5>%1 ").arg(i, 5, 10, QLatin1Char('0')).toLatin1()),
                 records.at(i).left(40).constData());
    }
}

QTEST_GUILESS_MAIN(TestQsoRelay)
#include "tst_qsorelay.moc"
