// The service as clients see it, in-process: requests and their exact answers, origins, the port setting, the
// deferred methods and the QSO relay over real UDP on loopback.
#include "ServiceHost.h"
#include "app/AppSettings.h"
#include "app/Orvessa.h"
#include "server/MyFuture.h"
#include "server/jcon/JsonRpcDebugLogger.h"
#include "server/jcon/JsonRpcWebSocketServer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <hamlib/rig.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

QString compact(const QString& text)
{
    return QString::fromUtf8(QJsonDocument::fromJson(text.toUtf8()).toJson(QJsonDocument::Compact));
}

QJsonObject envelope(const char* key, const char* text)
{
    return {{QString::fromLatin1(key), QString::fromLatin1(text)}};
}

bool isolated()
{
    return qEnvironmentVariableIsSet("ORVESSA_ISOLATED");
}

// A client's opening handshake; without Origin when the origin is empty.
QByteArray handshake(const QString& origin)
{
    QString text = QStringLiteral("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n");
    if (!origin.isEmpty()) {
        text += QStringLiteral("Origin: %1\r\n").arg(origin);
    }
    return (text + QStringLiteral("\r\n")).toUtf8();
}

// A client's frame (masked, mask 0): 0x1 text, 0x9 ping.
QByteArray frame(char opcode, const QByteArray& payload)
{
    QByteArray header(1, char(0x80 | opcode));
    if (payload.size() < 126) {
        header += char(0x80 | payload.size());
    } else {
        header += char(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8) {
            header += char((quint64(payload.size()) >> shift) & 0xFF);
        }
    }
    return header + QByteArray(4, '\0') + payload;
}

// A client on a bare socket, from a loopback address and port of its choosing, upgraded to WebSocket.
bool openBare(QTcpSocket& socket, const QHostAddress& from, quint16 fromPort, quint16 port)
{
    if (!socket.bind(from, fromPort)) {
        return false;
    }
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected()) {
        return false;
    }
    socket.write(handshake(RpcClient::defaultOrigin()));
    return QTest::qWaitFor([&] { return socket.bytesAvailable() > 0; }, 5000);
}

// A service whose methods fail as no method should, for the server's own safety net.
class Failing : public QObject
{
    Q_OBJECT

public slots:
    int fail() { throw std::runtime_error("boom"); }
    MyFuture failLater()
    {
        return MyFuture([]() -> QVariant { throw std::runtime_error("late boom"); });
    }
};

} // namespace

class TestService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void answers_data();
    void answers();
    void wireLayout();
    void stationInformation();
    void futureNumberWaitsItsTurn();
    void origins_data();
    void origins();
    void clientKnownBeforeItsFirstRequest();
    void restartKeepsOrMovesClients();
    void takenPortIsRetried();
    void oneClientCannotBloatTheServer();
    void pingFloodClosesItsSender();
    void floodThatReadsIsServedWhole();
    void pushReachesOnlyItsConnection();
    void unfinishedHandshakesAreClosed();
    void acceptsAgainOnceDescriptorsFree();
    void failuresAreAnswered();
    void relayStartAndStatus_data();
    void relayStartAndStatus();
    void relay_data();
    void relay();
    void relaySubscriptions();
    void relayStartsInOrder();
    void burstArrivesWhole();
    void multicastGroup();
    void cleanupTestCase();

private:
    // Sends one datagram to the relay on 127.0.0.1.
    void sendDatagram(const QByteArray& datagram, quint16 port);
    QJsonValue start(const QJsonArray& params);

    std::unique_ptr<ServiceHost> host;
    std::unique_ptr<RpcClient> client;
    QUdpSocket sender;
    quint16 relayPort = 0;
};

void TestService::initTestCase()
{
    host = std::make_unique<ServiceHost>();
    QVERIFY(host->isListening());
    relayPort = ServiceHost::freeUdpPort();
}

void TestService::init()
{
    client = host->client();
    QVERIFY(client);
}

void TestService::cleanupTestCase()
{
    client.reset();
    host.reset();
}

void TestService::answers_data()
{
    QTest::addColumn<QString>("request");
    // The answer in compact form, or empty when nothing may be answered.
    QTest::addColumn<QString>("answer");

    const QString notFound
        = R"({"error":{"code":-32601,"message":"method '%1' not found, check name and parameter types "},"id":"1","jsonrpc":"2.0"})";
    const QString call = R"({"jsonrpc":"2.0","method":"%1","params":%2,"id":1})";
    const QString noRig = R"({"id":"1","jsonrpc":"2.0","result":{"Error":"Rig not connected"}})";
    QTest::newRow("id number 7") << R"({"jsonrpc":"2.0","method":"listConnectedRigs","id":7})"
                                 << R"({"id":"7","jsonrpc":"2.0","result":[]})";
    QTest::newRow("id true") << R"({"jsonrpc":"2.0","method":"listConnectedRigs","id":true})"
                             << R"({"id":"true","jsonrpc":"2.0","result":[]})";
    QTest::newRow("no id, null id, empty id") << R"({"jsonrpc":"2.0","method":"udpQsoStatus"})"
                                                 R"({"jsonrpc":"2.0","method":"udpQsoStatus","id":null})"
                                                 R"({"jsonrpc":"2.0","method":"nope","id":""})"
                                              << "";
    QTest::newRow("wrong protocol tags") << R"({"jsonrpc":"2.0 ","method":"ovInfo","id":1})"
                                            R"({"jsonrpc":2,"method":"ovInfo","id":1})"
                                            R"({"method":"ovInfo","id":1})"
                                         << "";
    QTest::newRow("batch") << R"([{"jsonrpc":"2.0","method":"ovInfo","id":1}])"
                           << "";
    QTest::newRow("binary message") << "binary"
                                    << "";
    QTest::newRow("unknown method") << call.arg("nope", "[]") << notFound.arg("nope");
    QTest::newRow("method missing") << R"({"jsonrpc":"2.0","id":1})" << notFound.arg("");
    QTest::newRow("params by name in any order")
        << call.arg("setPTT", R"({"ptt":1,"serialName":"/dev/none"})") << noRig;
    QTest::newRow("params by name with an extra key")
        << call.arg("setPTT", R"({"ptt":1,"serialName":"x","vfo":"A"})") << notFound.arg("setPTT");
    QTest::newRow("params by name with a missing key")
        << call.arg("setPTT", R"({"ptt":1,"port":"x"})") << notFound.arg("setPTT");
    QTest::newRow("one argument too many") << call.arg("rigInfo", R"(["x",1])") << notFound.arg("rigInfo");
    QTest::newRow("params as a number") << call.arg("rigInfo", "5") << notFound.arg("rigInfo");
    QTest::newRow("null argument") << call.arg("rigInfo", "[null]") << notFound.arg("rigInfo");
    QTest::newRow("number for a text") << call.arg("rigInfo", "[5]") << notFound.arg("rigInfo");
    QTest::newRow("integer past 32 bits") << call.arg("setPTT", R"(["x",4294967297])") << notFound.arg("setPTT");
    QTest::newRow("port past 65535") << call.arg("udpQsoStart", R"([65537,"",""])") << notFound.arg("udpQsoStart");
    QTest::newRow("pointer parameter") << call.arg("newEndpoint", "[{}]") << notFound.arg("newEndpoint");
    QTest::newRow("private slot is found")
        << call.arg("rigInfoPush", "[]") << R"({"id":"1","jsonrpc":"2.0","result":null})";
    QTest::newRow("QSO push is not reachable")
        << call.arg("udpQsoPush", R"([{"qso":"forged"}])") << notFound.arg("udpQsoPush");
    QTest::newRow("inherited method is not") << call.arg("deleteLater", "[]") << notFound.arg("deleteLater");
    QTest::newRow("a radio method's refusal, answered before what follows")
        << R"({"jsonrpc":"2.0","method":"rigInfo","params":["/dev/none"],"id":10})"
           R"({"jsonrpc":"2.0","method":"ovInfo","id":11})"
        << QString(R"({"id":"10","jsonrpc":"2.0","result":{"Error":"Rig not connected"}})"
                   "\n"
                   R"({"id":"11","jsonrpc":"2.0","result":{"HamLibVersion":"%1","OrvessaVersion":"25.12.0"}})")
               .arg(QString::fromUtf8(rig_version()));
}

void TestService::answers()
{
    QFETCH(QString, request);
    QFETCH(QString, answer);
    if (request == QLatin1String("binary")) {
        client->socket.sendBinaryMessage(R"({"jsonrpc":"2.0","method":"ovInfo","id":1})");
    } else {
        client->send(request);
    }
    QStringList answers = client->settle();
    std::transform(answers.begin(), answers.end(), answers.begin(), compact);
    QCOMPARE(answers, answer.isEmpty() ? QStringList() : answer.split('\n'));
}

void TestService::wireLayout()
{
    // Qt's indented layout, keys in order: pages that compare texts rely on it.
    client->send(R"({"jsonrpc":"2.0","method":"udpQsoUnsubscribe","id":"a"})");
    client->send(R"({"jsonrpc":"2.0","method":"nope","id":"b"})");
    QCOMPARE(
        client->settle(),
        QStringList({"{\n    \"id\": \"a\",\n    \"jsonrpc\": \"2.0\",\n    \"result\": {\n        \"Error\": \"Not "
                     "subscribed to UDP QSO\"\n    }\n}\n",
                     "{\n    \"error\": {\n        \"code\": -32601,\n        \"message\": \"method 'nope' not "
                     "found, check name and parameter types \"\n    },\n    \"id\": \"b\",\n    \"jsonrpc\": "
                     "\"2.0\"\n}\n"}));
}

void TestService::stationInformation()
{
    QCOMPARE(client->call("ovInfo").toObject(),
             QJsonObject({{"OrvessaVersion", "25.12.0"}, {"HamLibVersion", QString::fromUtf8(rig_version())}}));
    const QJsonValue addresses = client->call("allAddresses");
    QVERIFY(addresses.isArray());
    for (const QJsonValue& address : addresses.toArray()) {
        const QHostAddress parsed(address.toString());
        QVERIFY2(parsed.protocol() == QAbstractSocket::IPv4Protocol && !parsed.isLoopback(),
                 qPrintable(address.toString()));
    }
    // Where only loopback exists there is nothing to list.
    QVERIFY(!isolated() || addresses.toArray().isEmpty());
}

void TestService::futureNumberWaitsItsTurn()
{
    const QRegularExpression invoked(R"(: futureNumber invoked without arguments -> returning: 2$)");
    const int invokedBefore = host->log.lines(invoked).size();
    QElapsedTimer clock;
    clock.start();
    const int first = client->request("futureNumber");
    const int second = client->request("futureNumber");
    QCOMPARE(client->response(first, 5000).value("result"), QJsonValue(2));
    const qint64 firstAt = clock.elapsed();
    QCOMPARE(client->response(second, 5000).value("result"), QJsonValue(2));
    const qint64 secondAt = clock.elapsed();
    QVERIFY2(firstAt >= 1000 && secondAt - firstAt >= 900 && secondAt - firstAt < 1800,
             qPrintable(QStringLiteral("%1 then %2 ms").arg(firstAt).arg(secondAt)));
    // Logged once each, with the value, when it is known.
    QCOMPARE(host->log.lines(invoked).size(), invokedBefore + 2);

    // A client that leaves before its answers gets nothing, and what it had queued is not carried out.
    const QRegularExpression cancelled(R"(\[operator\(\):\d+\]: Future cancelled$)");
    const int before = host->log.lines(cancelled).size();
    for (int i = 0; i < 5; ++i) {
        client->request("futureNumber");
    }
    client->settle();
    // Meanwhile the relay answers another client at once: its work never waits behind these.
    std::unique_ptr<RpcClient> other = host->client();
    clock.restart();
    QCOMPARE(other->call("udpQsoStart", QJsonArray {relayPort, "127.0.0.1", ""}).toObject(),
             envelope("Success", "Started UDP QSO"));
    QVERIFY2(clock.elapsed() < 800, qPrintable(QString::number(clock.elapsed())));
    client->socket.close();
    QTRY_VERIFY_WITH_TIMEOUT(host->log.lines(cancelled).size() > before, 5000);
    clock.restart();
    QCOMPARE(host->client()->call("futureNumber", QJsonValue::Undefined, 10000), QJsonValue(2));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
}

void TestService::origins_data()
{
    QTest::addColumn<QString>("origin");
    QTest::addColumn<bool>("admitted");
    const QStringList allowed = allowedOrigins();
    QTest::newRow("first site") << allowed.at(0) << true;
    QTest::newRow("www form of the second site") << allowed.at(8) << true;
    QTest::newRow("www form of the first site") << QString(allowed.at(0)).insert(8, "www.") << false;
    QTest::newRow("trailing slash") << allowed.at(1) + "/" << false;
    QTest::newRow("explicit port") << allowed.at(1) + ":443" << false;
    QTest::newRow("upper case") << allowed.at(1).toUpper() << false;
    QTest::newRow("plain http") << QString(allowed.at(1)).replace("https", "http") << false;
    QTest::newRow("no Origin header") << QString() << false;
}

void TestService::origins()
{
    QFETCH(QString, origin);
    QFETCH(bool, admitted);
    RpcClient visitor(origin);
    QCOMPARE(visitor.open(host->port), admitted);
}

void TestService::clientKnownBeforeItsFirstRequest()
{
    RpcClient fresh;
    QVERIFY(fresh.open(host->port));
    QCOMPARE(fresh.call("udpQsoSubscribe").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    const QStringList lines = host->log.lines(
        QRegularExpression(R"(\]: (NEW CLIENT: 127\.0\.0\.1|SUBSCRIBED UDP QSO to 0x[0-9a-f]+ \(127\.0\.0\.1\))$)"));
    QVERIFY(lines.size() >= 2 && lines.last().contains("[udpQsoSubscribe:")
            && lines.at(lines.size() - 2).contains("[newEndpoint:"));
    // A radio method's refusal is logged with what it returns, once.
    const QRegularExpression refused(
        R"(\]: Debug: JSON RPC server: rigInfo invoked with argument: serialName: /dev/gone -> returning: map \(1 elements\)$)");
    QCOMPARE(fresh.call("rigInfo", QJsonArray {"/dev/gone"}).toObject(), envelope("Error", "Rig not connected"));
    QCOMPARE(host->log.lines(refused).size(), 1);
    // The layer's own lines reach the same log as debug messages.
    QVERIFY(!host->log
                 .lines(QRegularExpression(R"(\[QtLogs:0\]: Debug: JSON RPC server: udpQsoSubscribe invoked )"
                                           R"(without arguments -> returning: map \(1 elements\)$)"))
                 .isEmpty());
}

void TestService::restartKeepsOrMovesClients()
{
    host->restartWith(host->port);
    QVERIFY(client->settle().isEmpty());

    const quint16 moved = ServiceHost::freeTcpPort();
    host->restartWith(moved);
    QVERIFY(client->waitForClosed());
    QCOMPARE(client->socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QVERIFY(RpcClient().open(moved));
    QVERIFY(!RpcClient().open(host->port, 1000));
    host->restartWith(host->port);
    QVERIFY(RpcClient().open(host->port));
}

void TestService::takenPortIsRetried()
{
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::LocalHost, ServiceHost::freeTcpPort()));
    const quint16 taken = squatter.serverPort();
    const QRegularExpression failed(QStringLiteral(R"(\]: Cannot listen on port %1: .+$)").arg(taken));
    const QRegularExpression listening(QStringLiteral("listening on port %1$").arg(taken));
    host->restartWith(taken);
    QTRY_COMPARE(host->log.lines(failed).size(), 1);
    QVERIFY(host->log.lines(listening).isEmpty());
    // Freed by the other program, the port is taken up without a word from the operator; the failure said once.
    squatter.close();
    QTRY_COMPARE_WITH_TIMEOUT(host->log.lines(listening).size(), 1, 10000);
    QVERIFY(RpcClient().open(taken));
    QCOMPARE(host->log.lines(failed).size(), 1);
    host->restartWith(host->port);
}

void TestService::oneClientCannotBloatTheServer()
{
    // Up to the bound a message is served, in however many frames it comes; past it, it closes its sender as too
    // big, and nobody else notices.
    std::unique_ptr<RpcClient> big = host->client();
    big->send(R"({"jsonrpc":"2.0","method":"ovInfo","id":1,"pad":")" + QString(3 << 20, 'x') + R"("})");
    QTRY_COMPARE(big->messages.size(), 1);
    big->send(QString(5 * 1024 * 1024, QLatin1Char(' ')));
    // Qt closes with 1009, though the closing frame may be lost when the connection drops while the sender writes.
    QVERIFY(big->waitForClosed());
    QCOMPARE(client->call("ovInfo").toObject().size(), 2);

    // A subscriber that stops reading: a bare socket whose one-byte buffer is never emptied.
    QCOMPARE(start({relayPort, "127.0.0.1", "", QJsonArray()}).toObject(), envelope("Success", "Started UDP QSO"));
    QCOMPARE(client->call("udpQsoSubscribe").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    QTcpSocket stalled;
    stalled.setReadBufferSize(1);
    QVERIFY(openBare(stalled, QHostAddress::LocalHost, 0, host->port));
    stalled.write(frame(0x1, R"({"jsonrpc":"2.0","method":"udpQsoSubscribe","id":1})"));

    const QRegularExpression dropped(R"(does not read what is sent to it \(\d+ bytes waiting\): closing it$)");
    const QByteArray record(60000, 'q');
    int sent = 0;
    while (host->log.lines(dropped).isEmpty() && sent < 1000) {
        for (int i = 0; i < 20; ++i, ++sent) {
            sendDatagram(record, relayPort);
        }
        QVERIFY(client->waitForNotifications("QsoInfo", sent, 10000));
    }
    QCOMPARE(host->log.lines(dropped).size(), 1);
    sendDatagram(record, relayPort);
    QVERIFY(client->waitForNotifications("QsoInfo", sent + 1));
    QCOMPARE(client->call("udpQsoStop").toObject(), envelope("Success", "Stopped UDP QSO"));
}

void TestService::pingFloodClosesItsSender()
{
    // Qt answers every ping by itself: a client that pings and never reads must not fill the server with pongs.
    QTcpSocket flooder;
    flooder.setReadBufferSize(1);
    QVERIFY(openBare(flooder, QHostAddress::LocalHost, 0, host->port));
    const QRegularExpression dropped(R"(does not read what is sent to it \(\d+ bytes waiting\): closing it$)");
    const int before = host->log.lines(dropped).size();
    const QByteArray pings = frame(0x9, QByteArray(125, 'p')).repeated(1000);
    QElapsedTimer clock;
    clock.start();
    qint64 sent = 0;
    while (flooder.state() == QAbstractSocket::ConnectedState && sent < (64 << 20) && clock.elapsed() < 20000) {
        if (flooder.bytesToWrite() < (1 << 20)) {
            sent += flooder.write(pings);
        }
        flooder.waitForBytesWritten(10);
    }
    QVERIFY2(flooder.state() != QAbstractSocket::ConnectedState, qPrintable(QString::number(sent >> 20)));
    QTRY_COMPARE(host->log.lines(dropped).size(), before + 1);
    QCOMPARE(client->call("ovInfo").toObject().size(), 2);
}

void TestService::floodThatReadsIsServedWhole()
{
    // A burst of requests whose answers far outgrow what may wait for a client, from one that reads them all at a
    // steady pace: it gets them all, the server waiting for it instead of dropping it.
    QTcpSocket reader;
    reader.setReadBufferSize(32 * 1024);
    QVERIFY(openBare(reader, QHostAddress::LocalHost, 0, host->port));
    const QByteArray request = R"({"jsonrpc":"2.0","id":1,"method":"ovInfo"})";
    const int perFrame = 25000;
    const int frames = 4;
    for (int i = 0; i < frames; ++i) {
        reader.write(frame(0x1, request.repeated(perFrame)));
    }
    QByteArray tail = reader.readAll();
    int answers = 0;
    QElapsedTimer clock;
    clock.start();
    while (answers < frames * perFrame && reader.state() == QAbstractSocket::ConnectedState
           && clock.elapsed() < 60000) {
        QThread::msleep(5);
        reader.waitForReadyRead(5);
        tail += reader.read(32 * 1024);
        answers += tail.count("OrvessaVersion");
        // Shorter than the word: what is kept was not counted, and an answer cut in two is counted once.
        tail = tail.right(13);
    }
    QCOMPARE(answers, frames * perFrame);
    QCOMPARE(reader.state(), QAbstractSocket::ConnectedState);
}

void TestService::pushReachesOnlyItsConnection()
{
    // Two loopback addresses, one port: a connection that never finished its handshake shares the subscriber's
    // port, and must get none of its pushes.
    const quint16 shared = ServiceHost::freeTcpPort();
    QTcpSocket half;
    QVERIFY(half.bind(QHostAddress(QStringLiteral("127.0.0.2")), shared));
    half.connectToHost(QHostAddress::LocalHost, host->port);
    QVERIFY(half.waitForConnected());
    half.write(handshake(QString()).left(60));
    QTcpSocket subscriber;
    QVERIFY(openBare(subscriber, QHostAddress::LocalHost, shared, host->port));
    subscriber.write(frame(0x1, R"({"jsonrpc":"2.0","method":"udpQsoSubscribe","id":1})"));
    QByteArray received;
    QTRY_VERIFY((received += subscriber.readAll()).contains("Subscribed to UDP QSO"));
    QCOMPARE(start({relayPort, "127.0.0.1", ""}).toObject(), envelope("Success", "Started UDP QSO"));
    sendDatagram("ADDQSO: for the subscriber", relayPort);
    QTRY_VERIFY((received += subscriber.readAll()).contains("QsoInfo"));
    QTest::qWait(50);
    QCOMPARE(half.readAll(), QByteArray());
}

void TestService::unfinishedHandshakesAreClosed()
{
    // A server of its own, with a short handshake time-out; its clients are served from this thread.
    jcon::JsonRpcWebSocketServer server(
        {RpcClient::defaultOrigin()}, nullptr, std::make_shared<jcon::JsonRpcDebugLogger>());
    server.setHandshakeTimeout(300);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const quint16 port = quint16(server.port());
    QTcpSocket silent;
    QTcpSocket half;
    for (QTcpSocket* idle : {&silent, &half}) {
        idle->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(idle->waitForConnected());
    }
    half.write(handshake(RpcClient::defaultOrigin()).left(40));
    RpcClient page;
    QVERIFY(page.open(port));
    QTRY_VERIFY_WITH_TIMEOUT(
        silent.state() == QAbstractSocket::UnconnectedState && half.state() == QAbstractSocket::UnconnectedState, 3000);
    // A client whose handshake is done stays, however long it has been connected.
    QVERIFY(!page.waitForClosed(500));
    QCOMPARE(server.connectedEndpoints().size(), 1);
}

void TestService::acceptsAgainOnceDescriptorsFree()
{
    // The process out of descriptors as a client connects: the server cannot accept it until some are free.
    rlimit saved {};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
    const int own = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    rlimit low = saved;
    low.rlim_cur = rlim_t(own) + 64;
    QVERIFY(own >= 0 && ::setrlimit(RLIMIT_NOFILE, &low) == 0);
    // Whatever another thread frees meanwhile is taken too.
    std::vector<int> hogs;
    const auto hogAll = [&] {
        for (int descriptor; (descriptor = ::dup(own)) >= 0;) {
            hogs.push_back(descriptor);
        }
    };
    hogAll();
    const QRegularExpression cannot(R"(cannot accept clients: .+; waiting for descriptors to free up$)");
    const int before = host->log.lines(cannot).size();
    sockaddr_in server {};
    server.sin_family = AF_INET;
    server.sin_port = htons(host->port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(own, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    const bool refused = QTest::qWaitFor(
        [&] {
            hogAll();
            return host->log.lines(cannot).size() > before;
        },
        5000);
    for (const int descriptor : hogs) {
        ::close(descriptor);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    QVERIFY(connected && refused);
    QTcpSocket late;
    QVERIFY(late.setSocketDescriptor(own));
    late.write(handshake(RpcClient::defaultOrigin()));
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += late.readAll()).startsWith("HTTP/1.1 101"), 5000);
    late.write(frame(0x1, R"({"jsonrpc":"2.0","method":"ovInfo","id":1})"));
    QTRY_VERIFY((received += late.readAll()).contains("OrvessaVersion"));
}

void TestService::failuresAreAnswered()
{
    Failing failing;
    jcon::JsonRpcWebSocketServer server(allowedOrigins(), nullptr, std::make_shared<jcon::JsonRpcDebugLogger>());
    server.registerServices({&failing});
    QSignalSpy connected(&server, &jcon::JsonRpcServer::clientConnected);
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    RpcClient caller;
    QVERIFY(caller.open(quint16(server.port())));
    QCOMPARE(caller.call("fail").toObject(), envelope("Error", "Internal error: boom"));
    QCOMPARE(caller.call("failLater").toObject(), envelope("Error", "Internal error: late boom"));

    // The socket of a client that has gone may be handed in after its deletion: it must merely not be found.
    QTRY_COMPARE(connected.size(), 1);
    QObject* gone = connected.first().first().value<QObject*>();
    QPointer<QObject> watch = gone;
    caller.socket.close();
    QTRY_VERIFY(watch.isNull());
    QVERIFY(!server.endpointForSocket(gone));
}

void TestService::sendDatagram(const QByteArray& datagram, quint16 port)
{
    QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, port), qint64(datagram.size()));
}

QJsonValue TestService::start(const QJsonArray& params)
{
    return client->call(params.size() == 4 ? "udpQsoStartFilters" : "udpQsoStart", params);
}

void TestService::relayStartAndStatus_data()
{
    QTest::addColumn<QJsonArray>("params");
    // The program holding the port first: nobody, one that shares it, one that does not.
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QJsonObject>("answer");
    QTest::addColumn<QJsonObject>("status");

    const quint16 port = ServiceHost::freeUdpPort();
    const QJsonObject started = envelope("Success", "Started UDP QSO");
    const QJsonObject refused = envelope("Error", "Cannot start UDP QSO");
    const QJsonObject idle {{"Receiving", false}};
    QTest::newRow("loopback") << QJsonArray {port, "127.0.0.1", ""} << "" << started
                              << QJsonObject {
                                     {"Receiving", true}, {"Port", port}, {"Address", "127.0.0.1"}, {"Group", ""}};
    if (isolated()) {
        QTest::newRow("empty texts: every address, no group")
            << QJsonArray {port, "", ""} << "" << started
            << QJsonObject {{"Receiving", true}, {"Port", port}, {"Address", "0.0.0.0"}, {"Group", ""}};
    }
    QTest::newRow("port 0 leaves the running one")
        << QJsonArray {0, "127.0.0.1", ""} << "" << envelope("Error", "Invalid params")
        << QJsonObject {{"Receiving", true}, {"Port", relayPort}, {"Address", "127.0.0.1"}, {"Group", ""}};
    QTest::newRow("unreadable address") << QJsonArray {port, "127.0.0.l", ""} << "" << refused << idle;
    QTest::newRow("port held without sharing") << QJsonArray {port, "127.0.0.1", ""} << "exclusive" << refused << idle;
    QTest::newRow("port shared with another program")
        << QJsonArray {port, "127.0.0.1", ""} << "shared" << started
        << QJsonObject {{"Receiving", true}, {"Port", port}, {"Address", "127.0.0.1"}, {"Group", ""}};
}

void TestService::relayStartAndStatus()
{
    QFETCH(QJsonArray, params);
    QFETCH(QString, holder);
    QFETCH(QJsonObject, answer);
    QFETCH(QJsonObject, status);
    QUdpSocket other;
    if (!holder.isEmpty()) {
        QVERIFY(other.bind(QHostAddress::LocalHost,
                           quint16(params.at(0).toInt()),
                           holder == "shared" ? QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint
                                              : QAbstractSocket::DontShareAddress));
    }
    QCOMPARE(start({relayPort, "127.0.0.1", ""}).toObject(), envelope("Success", "Started UDP QSO"));
    QCOMPARE(start(params).toObject(), answer);
    QCOMPARE(client->call("udpQsoStatus").toObject(), status);
    QCOMPARE(client->call("udpQsoStop").toObject(), envelope("Success", "Stopped UDP QSO"));
    QCOMPARE(client->call("udpQsoStatus").toObject(), QJsonObject({{"Receiving", false}}));
    QCOMPARE(client->call("udpQsoStop").toObject(), envelope("Success", "Stopped UDP QSO"));
}

void TestService::relay_data()
{
    QTest::addColumn<QJsonValue>("filters");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("relayed");
    const QJsonValue defaults = QJsonValue::Undefined;
    const QByteArray adif = "<adif_ver:5>3.1.0 <eoh> <CALL:5>IK2XY <BAND:3>20m <MODE:3>FT8 <EOR>";
    QTest::newRow("ADIF record") << defaults << adif << true;
    QTest::newRow("contest logger's XML contact")
        << defaults << QByteArray("<?xml version=\"1.0\"?><contactinfo><call>IK2XY</call></contactinfo>") << true;
    QTest::newRow("text without a marker") << defaults << QByteArray("hello") << false;
    QTest::newRow("own filter rejects ADIF") << QJsonValue(QJsonArray {"QSO"}) << adif << false;
    QTest::newRow("own filter accepts") << QJsonValue(QJsonArray {"QSO"}) << QByteArray("a QSO line") << true;
    QTest::newRow("defaults again after a start without filters") << defaults << QByteArray("a QSO line") << false;
    QTest::newRow("no filters: every byte") << QJsonValue(QJsonArray {}) << QByteArray("\0\xff\xfe\n", 4) << true;
    QTest::newRow("largest datagram, whole") << QJsonValue(QJsonArray {}) << QByteArray(65507, 'q') << true;
}

void TestService::relay()
{
    QFETCH(QJsonValue, filters);
    QFETCH(QByteArray, datagram);
    QFETCH(bool, relayed);
    QJsonArray params {relayPort, "127.0.0.1", ""};
    if (!filters.isUndefined()) {
        params.append(filters);
    }
    QCOMPARE(start(params).toObject(), envelope("Success", "Started UDP QSO"));
    QCOMPARE(client->call("udpQsoSubscribe").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    // Accepted by every list here, and sent after: its arrival proves the first was judged.
    const QByteArray sentinel = "ADDQSO: QSO sentinel";
    sendDatagram(datagram, relayPort);
    sendDatagram(sentinel, relayPort);
    QVERIFY(client->waitForNotifications("QsoInfo", relayed ? 2 : 1));
    QByteArrayList received;
    for (const QJsonObject& push : client->notifications("QsoInfo")) {
        const QJsonObject qso = push.value("params").toObject();
        QCOMPARE(qso.value("CacheID"), QJsonValue("not implemented"));
        received << QByteArray::fromBase64(qso.value("UDPData").toString().toLatin1(),
                                           QByteArray::AbortOnBase64DecodingErrors);
    }
    const QByteArrayList expected = relayed ? QByteArrayList {datagram, sentinel} : QByteArrayList {sentinel};
    QCOMPARE(received, expected);
}

void TestService::relaySubscriptions()
{
    QCOMPARE(start({relayPort, "127.0.0.1", "", QJsonArray()}).toObject(), envelope("Success", "Started UDP QSO"));
    std::unique_ptr<RpcClient> other = host->client();
    std::unique_ptr<RpcClient> leaving = host->client();
    QCOMPARE(client->call("udpQsoSubscribe").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    QCOMPARE(client->call("udpQsoSubscribe").toObject(), envelope("Error", "already subscribed"));
    QCOMPARE(leaving->call("udpQsoSubscribe").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    leaving->socket.close();
    QVERIFY(leaving->waitForClosed());
    sendDatagram("A", relayPort);
    QVERIFY(client->waitForNotifications("QsoInfo", 1));
    QCOMPARE(client->settle(),
             QStringList {"{\n    \"jsonrpc\": \"2.0\",\n    \"method\": \"QsoInfo\",\n    \"params\": {\n        "
                          "\"CacheID\": \"not implemented\",\n        \"UDPData\": \"QQ==\"\n    }\n}\n"});
    QVERIFY(other->settle().isEmpty());

    QCOMPARE(other->call("udpQsoSubscribe").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    QCOMPARE(client->call("udpQsoStop").toObject(), envelope("Success", "Stopped UDP QSO"));
    QVERIFY(other->waitForNotifications("RigInfo", 1));
    QCOMPARE(other->notifications("RigInfo").first().value("params").toObject(), envelope("Error:", "UDP QSO stopped"));
    QVERIFY(client->notifications("RigInfo").isEmpty());
    for (RpcClient* subscriber : {client.get(), other.get()}) {
        QCOMPARE(subscriber->call("udpQsoUnsubscribe").toObject(), envelope("Error", "Not subscribed to UDP QSO"));
    }

    // Stop, subscribe, start in one message: the subscription made after the stop holds.
    QCOMPARE(client->call("udpQsoSubscribe").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    client->send(QStringLiteral(R"({"jsonrpc":"2.0","method":"udpQsoStop","id":101})"
                                R"({"jsonrpc":"2.0","method":"udpQsoSubscribe","id":102})"
                                R"({"jsonrpc":"2.0","method":"udpQsoStart","params":[%1,"127.0.0.1",""],"id":103})")
                     .arg(relayPort));
    QCOMPARE(client->response(101).value("result").toObject(), envelope("Success", "Stopped UDP QSO"));
    QCOMPARE(client->response(102).value("result").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    QCOMPARE(client->response(103).value("result").toObject(), envelope("Success", "Started UDP QSO"));
    sendDatagram("ADDQSO: after the stop", relayPort);
    QVERIFY(client->waitForNotifications("QsoInfo", 1));
}

void TestService::relayStartsInOrder()
{
    QList<quint16> ports;
    QList<int> ids;
    for (int i = 0; i < 4; ++i) {
        ports << ServiceHost::freeUdpPort();
        ids << client->request("udpQsoStart", QJsonArray {ports.last(), "127.0.0.1", ""});
    }
    QTRY_COMPARE(client->messages.size(), 4);
    QStringList answered;
    for (const QString& message : client->messages) {
        const QJsonObject answer = QJsonDocument::fromJson(message.toUtf8()).object();
        QCOMPARE(answer.value("result").toObject(), envelope("Success", "Started UDP QSO"));
        answered << answer.value("id").toString();
    }
    QCOMPARE(answered.join(' '),
             QStringLiteral("%1 %2 %3 %4").arg(ids.at(0)).arg(ids.at(1)).arg(ids.at(2)).arg(ids.at(3)));
    QCOMPARE(client->call("udpQsoStatus").toObject().value("Port"), QJsonValue(ports.last()));

    // Without an id a start is a notification: nothing is bound.
    const quint16 unbound = ServiceHost::freeUdpPort();
    client->send(
        QStringLiteral(R"({"jsonrpc":"2.0","method":"udpQsoStart","params":[%1,"127.0.0.1",""]})").arg(unbound));
    QCOMPARE(client->call("udpQsoStatus").toObject().value("Port"), QJsonValue(ports.last()));
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::LocalHost, unbound, QAbstractSocket::DontShareAddress));

    // A stop right behind a start is carried out after it: the client's last word holds.
    for (int trial = 0; trial < 3; ++trial) {
        client->request("udpQsoStart", QJsonArray {relayPort, "127.0.0.1", ""});
        QCOMPARE(client->response(client->request("udpQsoStop")).value("result").toObject(),
                 envelope("Success", "Stopped UDP QSO"));
        QCOMPARE(client->call("udpQsoStatus").toObject(), QJsonObject({{"Receiving", false}}));
    }
}

void TestService::burstArrivesWhole()
{
    QCOMPARE(start({relayPort, "127.0.0.1", "", QJsonArray()}).toObject(), envelope("Success", "Started UDP QSO"));
    QCOMPARE(client->call("udpQsoSubscribe").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    // Loggers send in bursts faster than one thread reads: the socket's buffer must hold them.
    const QByteArray record(1000, 'r');
    for (int i = 0; i < 2000; ++i) {
        sendDatagram(record, relayPort);
    }
    QVERIFY2(client->waitForNotifications("QsoInfo", 2000, 30000),
             qPrintable(QString::number(client->notifications("QsoInfo").size())));
}

void TestService::multicastGroup()
{
    if (!isolated()) {
        QSKIP("a multicast group is joined only in a private network");
    }
    const QHostAddress group("239.255.73.51");
    QCOMPARE(start({relayPort, "", group.toString()}).toObject(), envelope("Success", "Started UDP QSO"));
    QCOMPARE(client->call("udpQsoStatus").toObject().value("Group"), QJsonValue(group.toString()));
    QCOMPARE(client->call("udpQsoSubscribe").toObject(), envelope("Success", "Subscribed to UDP QSO"));
    QUdpSocket groupSender;
    groupSender.setMulticastInterface(QNetworkInterface::interfaceFromName("lo"));
    QVERIFY(groupSender.bind(QHostAddress(QHostAddress::LocalHost), 0));
    groupSender.writeDatagram("ADDQSO: by group", group, relayPort);
    QVERIFY(client->waitForNotifications("QsoInfo", 1));
    QCOMPARE(client->call("udpQsoStop").toObject(), envelope("Success", "Stopped UDP QSO"));
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
