#include "MessageCapture.h"
#include "RpcClient.h"
#include "RpcProbeService.h"
#include "jcon/JsonRpcDebugLogger.h"
#include "jcon/JsonRpcEndpoint.h"
#include "jcon/JsonRpcFramer.h"
#include "jcon/JsonRpcWebSocket.h"
#include "jcon/JsonRpcWebSocketServer.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

const QString allowedOrigin = QStringLiteral("https://qsl.example");
const QString malformed = QStringLiteral("Malformed request");

// "id=result" for every answer, in order.
QStringList answers(const QStringList& messages)
{
    QStringList texts;
    for (const QString& message : messages) {
        const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
        texts.append(object.value("id").toString() + QLatin1Char('=') + object.value("result").toString());
    }
    return texts;
}

QString echo(const QString& id, const QString& text)
{
    return QStringLiteral(R"({"jsonrpc": "2.0", "method": "echo", "params": ["%1"], "id": "%2"})").arg(text, id);
}

QByteArray rawHandshake(quint16 port, const QByteArray& originHeader)
{
    // The server shares this thread: wait by running the event loop, never by blocking on the socket.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
                 + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                   "Sec-WebSocket-Version: 13\r\n"
                 + originHeader + "\r\n");
    QByteArray response;
    QElapsedTimer timer;
    timer.start();
    while (!response.contains("\r\n") && timer.elapsed() < 5000) {
        QTest::qWait(10);
        response += socket.readAll();
    }
    return response.left(response.indexOf("\r\n"));
}

// Everything the client received before two sentinel answers: a notification queued while the first
// was handled has gone out before the second is answered.
QStringList settled(RpcClient& client)
{
    QStringList received = client.drainUntilSentinel();
    received += client.drainUntilSentinel();
    return received;
}

} // namespace

class TestJsonRpcTransport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void framing_data();
    void framing();
    void unfinishedObjectIsBounded();
    void binaryMessagesAreIgnored();
    void origin_data();
    void origin();
    void handshakeWithoutOrigin();
    void broadcastReachesEveryClient();
    void notificationsForOneOrGoneEndpoints();
    void disconnectionIsAnnounced();
    void closeEndsEveryClientNormally();
    void outgoingTransport();

private:
    std::unique_ptr<MessageCapture> capture;
    std::unique_ptr<RpcProbeService> service;
    std::unique_ptr<jcon::JsonRpcWebSocketServer> server;
    std::unique_ptr<RpcClient> client;
};

void TestJsonRpcTransport::init()
{
    capture = std::make_unique<MessageCapture>();
    service = std::make_unique<RpcProbeService>();
    server = std::make_unique<jcon::JsonRpcWebSocketServer>(
        QStringList {allowedOrigin, QStringLiteral("https://www.qsl.example")},
        nullptr,
        std::make_shared<jcon::JsonRpcDebugLogger>());
    server->setNotificationsEnabled(true);
    server->registerServices({service.get()});
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    client = std::make_unique<RpcClient>(allowedOrigin);
    QVERIFY(client->open(static_cast<quint16>(server->port())));
    QTRY_COMPARE(server->connectedEndpoints().size(), 1);
}

void TestJsonRpcTransport::cleanup()
{
    client.reset();
    server.reset();
    service.reset();
    QCOMPARE(MessageCapture::otherMessages(), 0);
    capture.reset();
}

void TestJsonRpcTransport::framing_data()
{
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("malformedLines");

    const QString one = echo("1", "x");
    const QString two = echo("2", "y");
    QTest::newRow("two objects in one message") << QStringList {one + two} << QStringList {"1=x", "2=y"} << 0;
    QTest::newRow("blanks between objects") << QStringList {one + "\n \t" + two} << QStringList {"1=x", "2=y"} << 0;
    QTest::newRow("blanks around one object") << QStringList {" \r\n" + one + "\n "} << QStringList {"1=x"} << 0;
    QTest::newRow("object over three messages")
        << QStringList {one.left(10), one.mid(10, 20), one.mid(30)} << QStringList {"1=x"} << 0;
    QTest::newRow("braces inside a string") << QStringList {echo("1", "}{")} << QStringList {"1=}{"} << 0;
    QTest::newRow("escaped quote before a brace")
        << QStringList {echo("1", R"(a\"}b)")} << QStringList {"1=a\"}b"} << 0;
    QTest::newRow("escaped backslash ends the string")
        << QStringList {echo("1", R"(a\\)") + two} << QStringList {"1=a\\", "2=y"} << 0;
    const QString blanks = echo("1", "a   b");
    QTest::newRow("blanks at a split inside a string survive")
        << QStringList {blanks.left(blanks.indexOf("b")), blanks.mid(blanks.indexOf("b"))} << QStringList {"1=a   b"}
        << 0;
    QTest::newRow("blanks on both sides of a split inside a string")
        << QStringList {R"({"jsonrpc": "2.0", "method": "echo", "params": ["a  )", R"(  b"], "id": "1"})"}
        << QStringList {"1=a    b"} << 0;
    QTest::newRow("garbage after an object does not swallow the next message")
        << QStringList {one + "xyz", two} << QStringList {"1=x", "2=y"} << 1;
    QTest::newRow("stray closing brace after an object")
        << QStringList {one + "}", two} << QStringList {"1=x", "2=y"} << 1;
    QTest::newRow("text after an object that may start one is kept")
        << QStringList {one + R"( {"jsonrpc": "2.0", "method": "echo",)", R"( "params": ["z"], "id": "3"})"}
        << QStringList {"1=x", "3=z"} << 0;
    QTest::newRow("batch is dropped, the next message is read")
        << QStringList {"[" + one + "]", two} << QStringList {"2=y"} << 1;
    QTest::newRow("garbage before an object loses that message")
        << QStringList {"x" + one, two} << QStringList {"2=y"} << 1;
    QTest::newRow("empty message") << QStringList {QString()} << QStringList {} << 1;
    QTest::newRow("all-blank message") << QStringList {" \n\t"} << QStringList {} << 1;
    QTest::newRow("object that is not JSON is dropped silently")
        << QStringList {R"({"a": })", two} << QStringList {"2=y"} << 0;
    QTest::newRow("unclosed object absorbs later messages until balanced")
        << QStringList {R"({"jsonrpc": "2.0", "method": "echo", "params": [)", R"("{"], )", R"("id": "4"})"}
        << QStringList {"4={"} << 0;
}

void TestJsonRpcTransport::framing()
{
    QFETCH(QStringList, messages);
    QFETCH(QStringList, expected);
    QFETCH(int, malformedLines);
    MessageCapture::clear();
    for (const QString& message : messages) {
        client->send(message);
    }
    QCOMPARE(answers(client->drainUntilSentinel()), expected);
    QCOMPARE(MessageCapture::debugLines().count(malformed), malformedLines);
}

void TestJsonRpcTransport::unfinishedObjectIsBounded()
{
    MessageCapture::clear();
    const QString open = QStringLiteral(R"({"jsonrpc": "2.0", "method": "echo", "params": [")");
    client->send(open + QString(jcon::JsonRpcFramer::maxPendingBytes / 2, QLatin1Char('x')));
    client->send(QString(jcon::JsonRpcFramer::maxPendingBytes / 2, QLatin1Char('x')));
    QCOMPARE(answers(client->drainUntilSentinel(20000)), QStringList());
    QCOMPARE(MessageCapture::debugLines().count(malformed), 1);

    // Up to the bound an object may be split over messages and still arrive whole.
    const QString large(jcon::JsonRpcFramer::maxPendingBytes - 1024, QLatin1Char('y'));
    client->send(open + large.left(1000));
    client->send(large.mid(1000) + QStringLiteral(R"("], "id": "5"})"));
    QCOMPARE(answers(client->drainUntilSentinel(20000)), QStringList {"5=" + large});
}

void TestJsonRpcTransport::binaryMessagesAreIgnored()
{
    MessageCapture::clear();
    client->socket.sendBinaryMessage(echo("1", "x").toUtf8());
    client->socket.sendBinaryMessage("garbage");
    QCOMPARE(client->drainUntilSentinel(), QStringList());
    QCOMPARE(MessageCapture::debugLines().count(malformed), 0);
}

void TestJsonRpcTransport::origin_data()
{
    QTest::addColumn<bool>("restricted");
    QTest::addColumn<QString>("clientOrigin");
    QTest::addColumn<bool>("admitted");

    QTest::newRow("allowed origin") << true << "https://qsl.example" << true;
    QTest::newRow("allowed www twin") << true << "https://www.qsl.example" << true;
    QTest::newRow("trailing slash") << true << "https://qsl.example/" << false;
    QTest::newRow("origin with port") << true << "https://qsl.example:443" << false;
    QTest::newRow("upper case") << true << "https://QSL.example" << false;
    QTest::newRow("http scheme") << true << "http://qsl.example" << false;
    QTest::newRow("other site") << true << "https://evil.example" << false;
    QTest::newRow("no origin header") << true << "" << false;
    QTest::newRow("unrestricted admits any origin") << false << "https://evil.example" << true;
    QTest::newRow("unrestricted admits no origin") << false << "" << true;
}

void TestJsonRpcTransport::origin()
{
    QFETCH(bool, restricted);
    QFETCH(QString, clientOrigin);
    QFETCH(bool, admitted);
    jcon::JsonRpcWebSocketServer unrestricted(nullptr, std::make_shared<jcon::JsonRpcDebugLogger>());
    jcon::JsonRpcWebSocketServer& tried = restricted ? *server : unrestricted;
    if (!restricted) {
        QVERIFY(tried.listen(QHostAddress::LocalHost, 0));
    }
    QSignalSpy connected(&tried, &jcon::JsonRpcServer::clientConnected);
    const int before = tried.connectedEndpoints().size();

    RpcClient other(clientOrigin);
    QCOMPARE(other.open(static_cast<quint16>(tried.port())), admitted);
    if (admitted) {
        QTRY_COMPARE(connected.size(), 1);
        QCOMPARE(tried.connectedEndpoints().size(), before + 1);
    } else {
        QVERIFY(!connected.wait(200));
        QCOMPARE(tried.connectedEndpoints().size(), before);
    }
}

void TestJsonRpcTransport::handshakeWithoutOrigin()
{
    QSignalSpy connected(server.get(), &jcon::JsonRpcServer::clientConnected);
    const quint16 port = static_cast<quint16>(server->port());
    // The same raw handshake with an allowed origin proves the refusal is about the origin alone.
    QCOMPARE(rawHandshake(port, "Origin: " + allowedOrigin.toUtf8() + "\r\n"),
             QByteArray("HTTP/1.1 101 Switching Protocols"));
    QTRY_COMPARE(connected.size(), 1);
    const QByteArray refused = rawHandshake(port, QByteArray());
    QVERIFY2(refused.startsWith("HTTP/1.1 ") && !refused.contains(" 101 "), refused.constData());
    QVERIFY(!connected.wait(200));
    QCOMPARE(connected.size(), 1);
}

void TestJsonRpcTransport::broadcastReachesEveryClient()
{
    RpcClient second(allowedOrigin);
    QVERIFY(second.open(static_cast<quint16>(server->port())));
    QTRY_COMPARE(server->connectedEndpoints().size(), 2);
    // Registering again must not connect the notifications twice.
    server->registerServices({service.get()});
    client->call(QStringLiteral("notifyAll"), QStringLiteral(R"(["hi"])"), QString());
    const QString note = QStringLiteral("{\n    \"jsonrpc\": \"2.0\",\n    \"method\": \"Note\",\n"
                                        "    \"params\": \"hi\"\n}\n");
    QVERIFY(client->waitForMessages(1));
    QVERIFY(second.waitForMessages(1));
    QCOMPARE(settled(*client), QStringList {note});
    QCOMPARE(settled(second), QStringList {note});
}

void TestJsonRpcTransport::notificationsForOneOrGoneEndpoints()
{
    RpcClient second(allowedOrigin);
    QVERIFY(second.open(static_cast<quint16>(server->port())));
    QTRY_COMPARE(server->connectedEndpoints().size(), 2);

    client->call(QStringLiteral("notifyMe"), QStringLiteral(R"(["mine"])"), QString());
    QVERIFY(client->waitForMessages(1));
    QCOMPARE(answers(client->messages), QStringList {"="});
    QCOMPARE(settled(second), QStringList());
    client->messages.clear();

    MessageCapture::clear();
    client->call(QStringLiteral("notifyUnsigned"), QString(), QString());
    QCOMPARE(settled(*client), QStringList());
    QVERIFY(MessageCapture::debugLines().contains(QStringLiteral("JSON RPC server error: unknown return type: 3")));

    // The remembered endpoint leaves; a notification addressed to it must reach no one.
    client->call(QStringLiteral("remember"), QString(), QString());
    QCOMPARE(client->drainUntilSentinel(), QStringList());
    client->socket.close();
    QTRY_COMPARE(server->connectedEndpoints().size(), 1);
    second.call(QStringLiteral("notifyRemembered"), QStringLiteral(R"(["late"])"), QString());
    QCOMPARE(settled(second), QStringList());
    // Addressed to one that is still here, it arrives: the silence above is about the leaver alone.
    second.call(QStringLiteral("remember"), QString(), QString());
    second.call(QStringLiteral("notifyRemembered"), QStringLiteral(R"(["here"])"), QString());
    QVERIFY(second.waitForMessages(1));
}

void TestJsonRpcTransport::disconnectionIsAnnounced()
{
    QSignalSpy gone(server.get(), &jcon::JsonRpcServer::clientDisconnected);
    jcon::JsonRpcEndpoint* const endpoint = server->connectedEndpoints().first();
    QObject* clientSocket = nullptr;
    QString addressSeenLater;
    // Connected after the server, as the rig service is: the endpoint must still be alive here.
    connect(endpoint, &jcon::JsonRpcEndpoint::socketDisconnected, this, [&](QObject* which) {
        clientSocket = which;
        addressSeenLater = endpoint->peerAddress().toString();
    });
    QCOMPARE(server->endpointForSocket(this), nullptr);

    MessageCapture::clear();
    client->socket.close();
    QTRY_COMPARE(gone.size(), 1);
    // The socket may be deleted by now: compare the pointer without touching the object.
    QCOMPARE(*static_cast<QObject* const*>(gone.first().first().constData()), clientSocket);
    QCOMPARE(addressSeenLater, QStringLiteral("127.0.0.1"));
    QVERIFY(server->connectedEndpoints().isEmpty());
    QCOMPARE(server->endpointForSocket(clientSocket), nullptr);
    QCOMPARE(MessageCapture::debugLines(), QStringList {"JSON RPC server: client disconnected: 127.0.0.1"});
}

void TestJsonRpcTransport::closeEndsEveryClientNormally()
{
    RpcClient second(allowedOrigin);
    QVERIFY(second.open(static_cast<quint16>(server->port())));
    QTRY_COMPARE(server->connectedEndpoints().size(), 2);
    QSignalSpy firstGone(&client->socket, &QWebSocket::disconnected);
    QSignalSpy secondGone(&second.socket, &QWebSocket::disconnected);

    const quint16 port = static_cast<quint16>(server->port());
    server->close();
    QCOMPARE(server->port(), 0);
    QTRY_COMPARE(firstGone.size(), 1);
    QTRY_COMPARE(secondGone.size(), 1);
    QCOMPARE(client->socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QCOMPARE(second.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QTRY_VERIFY(server->connectedEndpoints().isEmpty());

    // Closed means not listening: a new client is not let in until the next listen.
    RpcClient late(allowedOrigin);
    QVERIFY(!late.open(port, 2000));
}

void TestJsonRpcTransport::outgoingTransport()
{
    jcon::JsonRpcWebSocketServer open(nullptr, std::make_shared<jcon::JsonRpcDebugLogger>());
    open.registerServices({service.get()});
    QVERIFY(open.listen(QHostAddress::LocalHost, 0));
    jcon::JsonRpcWebSocket transport;
    QSignalSpy received(&transport, &jcon::JsonRpcSocket::dataReceived);
    transport.connectToHost(QStringLiteral("127.0.0.1"), open.port());
    QVERIFY(transport.waitForConnected(5000));
    QVERIFY(transport.isConnected());
    // Text ends at the first zero byte: what follows it never goes out.
    transport.send(echo("1", "x").toUtf8() + QByteArray(1, '\0') + echo("2", "y").toUtf8());
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(answers({QString::fromUtf8(received.first().first().toByteArray())}), QStringList {"1=x"});
    QVERIFY(!received.wait(200));
}

QTEST_GUILESS_MAIN(TestJsonRpcTransport)
#include "tst_jsonrpctransport.moc"
