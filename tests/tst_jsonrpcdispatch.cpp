#include "MessageCapture.h"
#include "MyFuture.h"
#include "RpcClient.h"
#include "RpcProbeService.h"
#include "StdoutCapture.h"
#include "jcon/JsonRpcDebugLogger.h"
#include "jcon/JsonRpcEndpoint.h"
#include "jcon/JsonRpcWebSocketServer.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString origin = QStringLiteral("https://qsl.example");

QJsonObject parsed(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

} // namespace

class TestJsonRpcDispatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void wireText_data();
    void wireText();
    void arguments_data();
    void arguments();
    void pointerParameterIsNeverCalled();
    void currentEndpointIsTheCaller();
    void namespacedServices();
    void invocationIsLogged();
    void deferredAnsweredAfterWork();
    void deferredWorksOnOneThreadAnswerInOrder();
    void deferredNotStartedForNotification();
    void deferredDroppedWhenClientLeaves();
    void deferredWorkThatThrowsIsAnswered();
    void futureStartsOnceAcrossCopies();
    void unstartedFutureReleasesWatcher();

private:
    std::unique_ptr<MessageCapture> capture;
    std::unique_ptr<RpcProbeService> service;
    std::unique_ptr<jcon::JsonRpcWebSocketServer> server;
    std::unique_ptr<RpcClient> client;
};

void TestJsonRpcDispatch::init()
{
    capture = std::make_unique<MessageCapture>();
    service = std::make_unique<RpcProbeService>();
    server = std::make_unique<jcon::JsonRpcWebSocketServer>(
        QStringList {origin}, nullptr, std::make_shared<jcon::JsonRpcDebugLogger>());
    server->setNotificationsEnabled(true);
    server->registerServices({service.get()});
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    client = std::make_unique<RpcClient>(origin);
    QVERIFY(client->open(static_cast<quint16>(server->port())));
    QTRY_COMPARE(server->connectedEndpoints().size(), 1);
}

void TestJsonRpcDispatch::cleanup()
{
    client.reset();
    server.reset();
    service.reset();
    QCOMPARE(MessageCapture::otherMessages(), 0);
    capture.reset();
}

void TestJsonRpcDispatch::wireText_data()
{
    QTest::addColumn<QString>("request");
    // The exact text of the one answer, or empty when nothing may be answered.
    QTest::addColumn<QString>("answer");

    const QString five = QStringLiteral("{\n    \"id\": \"%1\",\n    \"jsonrpc\": \"2.0\",\n    \"result\": 5\n}\n");
    const QString add = QStringLiteral(R"({"jsonrpc":"2.0","method":"add","params":[2,3],"id":%1})");
    QTest::newRow("id number 7") << add.arg(7) << five.arg(7);
    QTest::newRow("id 7.5") << add.arg(7.5) << five.arg(7.5);
    QTest::newRow("id string 7") << add.arg(QStringLiteral("\"7\"")) << five.arg(7);
    QTest::newRow("id true") << add.arg(QStringLiteral("true")) << five.arg(QStringLiteral("true"));
    QTest::newRow("id false is answered") << add.arg(QStringLiteral("false")) << five.arg(QStringLiteral("false"));
    QTest::newRow("id 0 is answered") << add.arg(0) << five.arg(0);
    QTest::newRow("id null") << add.arg(QStringLiteral("null")) << QString();
    QTest::newRow("id empty string") << add.arg(QStringLiteral("\"\"")) << QString();
    QTest::newRow("id array") << add.arg(QStringLiteral("[1]")) << QString();
    QTest::newRow("no id") << R"({"jsonrpc":"2.0","method":"add","params":[2,3]})" << QString();
    QTest::newRow("unknown method without id") << R"({"jsonrpc":"2.0","method":"nope"})" << QString();
    QTest::newRow("tag with a trailing blank")
        << R"({"jsonrpc":"2.0 ","method":"add","params":[2,3],"id":1})" << QString();
    QTest::newRow("tag as a number") << R"({"jsonrpc":2,"method":"add","params":[2,3],"id":1})" << QString();
    QTest::newRow("tag missing") << R"({"method":"add","params":[2,3],"id":1})" << QString();
    QTest::newRow("batch") << R"([{"jsonrpc":"2.0","method":"add","params":[2,3],"id":1}])" << QString();
    QTest::newRow("not an object") << R"("add")" << QString();

    QTest::newRow("void gives a null result") << R"({"jsonrpc":"2.0","method":"nothing","id":1})"
                                              << "{\n    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\",\n"
                                                 "    \"result\": null\n}\n";
    QTest::newRow("string result") << R"({"jsonrpc":"2.0","method":"echo","params":["Citt\u00e0"],"id":"a"})"
                                   << QString::fromUtf8("{\n    \"id\": \"a\",\n    \"jsonrpc\": \"2.0\",\n"
                                                        "    \"result\": \"Citt\u00e0\"\n}\n");
    QTest::newRow("bool result") << R"({"jsonrpc":"2.0","method":"flag","id":1})"
                                 << "{\n    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\",\n    \"result\": true\n}\n";
    QTest::newRow("64-bit result")
        << R"({"jsonrpc":"2.0","method":"big","id":1})"
        << "{\n    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\",\n    \"result\": 1099511627776\n}\n";
    QTest::newRow("map result, keys sorted")
        << R"({"jsonrpc":"2.0","method":"map","id":1})"
        << "{\n    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\",\n    \"result\": {\n        \"Success\": \"ok\",\n"
           "        \"freq\": 14074000.5,\n        \"list\": [\n            1,\n            \"b\"\n        ]\n"
           "    }\n}\n";
    QTest::newRow("list result") << R"({"jsonrpc":"2.0","method":"list","id":1})"
                                 << "{\n    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\",\n    \"result\": [\n        1,\n"
                                    "        \"two\",\n        {\n            \"k\": true\n        }\n    ]\n}\n";
    QTest::newRow("private slot is found") << R"({"jsonrpc":"2.0","method":"hidden","id":1})"
                                           << "{\n    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\",\n"
                                              "    \"result\": \"hidden\"\n}\n";
    QTest::newRow("uint result is -32600 naming type 3")
        << R"({"jsonrpc":"2.0","method":"unsignedValue","id":1})"
        << "{\n    \"error\": {\n        \"code\": -32600,\n"
           "        \"message\": \"method 'unsignedValue' has unknown return type: 3\"\n    },\n"
           "    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\"\n}\n";
    QTest::newRow("string list result is -32600 naming type 11")
        << R"({"jsonrpc":"2.0","method":"stringList","id":1})"
        << "{\n    \"error\": {\n        \"code\": -32600,\n"
           "        \"message\": \"method 'stringList' has unknown return type: 11\"\n    },\n"
           "    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\"\n}\n";
    QTest::newRow("unknown method is -32601 with trailing blank")
        << R"({"jsonrpc":"2.0","method":"nope","id":1})"
        << "{\n    \"error\": {\n        \"code\": -32601,\n"
           "        \"message\": \"method 'nope' not found, check name and parameter types \"\n    },\n"
           "    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\"\n}\n";
    QTest::newRow("missing method is -32601") << R"({"jsonrpc":"2.0","id":1})"
                                              << "{\n    \"error\": {\n        \"code\": -32601,\n"
                                                 "        \"message\": \"method '' not found, check name and "
                                                 "parameter types \"\n    },\n    \"id\": \"1\",\n"
                                                 "    \"jsonrpc\": \"2.0\"\n}\n";
    QTest::newRow("inherited method is not offered") << R"({"jsonrpc":"2.0","method":"deleteLater","id":1})"
                                                     << "{\n    \"error\": {\n        \"code\": -32601,\n"
                                                        "        \"message\": \"method 'deleteLater' not found, "
                                                        "check name and parameter types \"\n    },\n"
                                                        "    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\"\n}\n";
    QTest::newRow("method that throws answers an error envelope")
        << R"({"jsonrpc":"2.0","method":"fail","id":1})"
        << "{\n    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\",\n    \"result\": {\n"
           "        \"Error\": \"Internal error: boom\"\n    }\n}\n";
}

void TestJsonRpcDispatch::wireText()
{
    QFETCH(QString, request);
    QFETCH(QString, answer);
    client->send(request);
    const QStringList before = client->drainUntilSentinel();
    QCOMPARE(before, answer.isEmpty() ? QStringList() : QStringList {answer});
}

void TestJsonRpcDispatch::arguments_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("params");
    // The expected result as JSON text, or empty for error -32601.
    QTest::addColumn<QString>("result");

    QTest::newRow("by position") << "add"
                                 << "[2, 3]"
                                 << "5";
    QTest::newRow("by name in declaration order") << "add"
                                                  << R"({"a": 2, "b": 3})"
                                                  << "5";
    QTest::newRow("by name in any order") << "overloaded"
                                          << R"({"b": 30, "a": 4})"
                                          << R"("two:34")";
    QTest::newRow("by name with an extra key") << "add"
                                               << R"({"a": 1, "b": 2, "c": 3})"
                                               << "";
    QTest::newRow("by name with a missing key") << "add"
                                                << R"({"a": 1, "c": 2})"
                                                << "";
    QTest::newRow("one argument too many") << "add"
                                           << "[1, 2, 3]"
                                           << "";
    QTest::newRow("one argument too few") << "add"
                                          << "[1]"
                                          << "";
    QTest::newRow("params absent, no parameters") << "nothing"
                                                  << ""
                                                  << "null";
    QTest::newRow("params absent, parameters wanted") << "add"
                                                      << ""
                                                      << "";
    QTest::newRow("params a number") << "echo"
                                     << "5"
                                     << "";
    QTest::newRow("params a string") << "echo"
                                     << R"("x")"
                                     << "";
    QTest::newRow("params null") << "nothing"
                                 << "null"
                                 << "";
    QTest::newRow("null argument") << "echo"
                                   << "[null]"
                                   << "";
    QTest::newRow("numeric string for a double converts") << "half"
                                                          << R"(["2.5"])"
                                                          << "1.25";
    QTest::newRow("letters for a double") << "half"
                                          << R"(["abc"])"
                                          << "";
    QTest::newRow("number for a double") << "half"
                                         << "[3]"
                                         << "1.5";
    QTest::newRow("string for a QString reference") << "append"
                                                    << R"(["ab"])"
                                                    << R"("ab!")";
    QTest::newRow("number for a QString reference") << "append"
                                                    << "[5]"
                                                    << "";
    QTest::newRow("overload chosen by count") << "overloaded"
                                              << "[4]"
                                              << R"("one:4")";
    QTest::newRow("first declared overload that converts") << "first"
                                                           << "[5]"
                                                           << R"("text:5")";
    QTest::newRow("overload that cannot convert is skipped") << "typed"
                                                             << "[5]"
                                                             << R"("number:5")";
    QTest::newRow("object argument for a map") << "typed"
                                               << R"([{"x": 1}])"
                                               << R"("map:1")";
}

void TestJsonRpcDispatch::arguments()
{
    QFETCH(QString, method);
    QFETCH(QString, params);
    QFETCH(QString, result);
    client->call(method, params, QStringLiteral("1"));
    QVERIFY(client->waitForMessages(1));
    const QJsonObject answer = parsed(client->messages.first());
    if (result.isEmpty()) {
        QCOMPARE(answer.value("error").toObject().value("code").toInt(), -32601);
        QVERIFY(!answer.contains("result"));
    } else {
        const QJsonValue expected = parsed(QStringLiteral(R"({"r": %1})").arg(result)).value("r");
        QCOMPARE(answer.value("result"), expected);
    }
}

void TestJsonRpcDispatch::pointerParameterIsNeverCalled()
{
    for (const char* params : {"[null]", "[{}]", "[5]", R"({"endpoint": null})", R"(["0x1"])"}) {
        client->call(QStringLiteral("takesEndpoint"), QString::fromLatin1(params), QStringLiteral("1"));
    }
    // Also the notification signal itself, which takes an endpoint.
    client->call(QStringLiteral("sendUnsolicitedNotification"), R"([null, "Note", 1])", QStringLiteral("1"));
    QVERIFY(client->waitForMessages(6));
    for (const QString& message : client->messages) {
        QCOMPARE(parsed(message).value("error").toObject().value("code").toInt(), -32601);
    }
    QCOMPARE(service->endpointCalls, 0);
}

void TestJsonRpcDispatch::currentEndpointIsTheCaller()
{
    RpcClient second(origin);
    QVERIFY(second.open(static_cast<quint16>(server->port())));
    client->call(QStringLiteral("callerPort"), QString(), QStringLiteral("1"));
    second.call(QStringLiteral("callerPort"), QString(), QStringLiteral("1"));
    QVERIFY(client->waitForMessages(1));
    QVERIFY(second.waitForMessages(1));
    QCOMPARE(parsed(client->messages.first()).value("result").toInt(), int(client->socket.localPort()));
    QCOMPARE(parsed(second.messages.first()).value("result").toInt(), int(second.socket.localPort()));
}

void TestJsonRpcDispatch::namespacedServices()
{
    server->registerServices({{service.get(), QStringLiteral("rig")}}, QStringLiteral("."));
    client->call(QStringLiteral("rig.add"), QStringLiteral("[1, 2]"), QStringLiteral("1"));
    client->call(QStringLiteral("add"), QStringLiteral("[1, 2]"), QStringLiteral("2"));
    client->call(QStringLiteral("other.add"), QStringLiteral("[1, 2]"), QStringLiteral("3"));
    QVERIFY(client->waitForMessages(3));
    QCOMPARE(parsed(client->messages.at(0)).value("result").toInt(), 3);
    QCOMPARE(parsed(client->messages.at(1)).value("error").toObject().value("code").toInt(), -32601);
    QCOMPARE(parsed(client->messages.at(2)).value("error").toObject().value("code").toInt(), -32601);
}

void TestJsonRpcDispatch::invocationIsLogged()
{
    MessageCapture::clear();
    client->call(QStringLiteral("typed"), QStringLiteral(R"([{"x": 1, "y": 2}])"), QStringLiteral("1"));
    client->call(QStringLiteral("add"), QStringLiteral(R"({"b": 3, "a": 2})"), QStringLiteral("2"));
    client->call(QStringLiteral("nothing"), QString(), QStringLiteral("3"));
    client->call(QStringLiteral("add"), QStringLiteral("[1]"), QStringLiteral("4"));
    client->send(QStringLiteral(R"({"jsonrpc":"2.1","method":"add","id":5})"));
    client->call(QStringLiteral("echo"), QStringLiteral("[null]"), QStringLiteral("6"));
    QVERIFY(client->waitForMessages(5));
    QCOMPARE(MessageCapture::debugLines(),
             QStringList({
                 "JSON RPC server: typed invoked with argument: map: map (2 elements) -> returning: map:2",
                 "JSON RPC server: add invoked with arguments: a: 2, b: 3 -> returning: 5",
                 "JSON RPC server: nothing invoked without arguments",
                 "JSON RPC server error: wrong number of arguments to method add(int,int) -- expected 2 "
                 "arguments, but got 1",
                 "JSON RPC server error: method 'add' not found, check name and parameter types ",
                 "JSON RPC server error: invalid protocol tag",
                 "JSON RPC server error: argument 1 of 1 to method echo(QString) is invalid",
                 "JSON RPC server error: method 'echo' not found, check name and parameter types ",
             }));
}

void TestJsonRpcDispatch::deferredAnsweredAfterWork()
{
    QElapsedTimer timer;
    timer.start();
    client->call(QStringLiteral("deferred"), QStringLiteral("[4, 300]"), QStringLiteral("1"));
    QVERIFY(client->waitForMessages(1, 10000));
    QVERIFY(timer.elapsed() >= 300);
    QCOMPARE(client->messages.first(),
             QStringLiteral("{\n    \"id\": \"1\",\n    \"jsonrpc\": \"2.0\",\n"
                            "    \"result\": 4\n}\n"));
    QCOMPARE(service->worksFinished.load(), 1);
}

void TestJsonRpcDispatch::deferredWorksOnOneThreadAnswerInOrder()
{
    client->call(QStringLiteral("deferred"), QStringLiteral("[1, 300]"), QStringLiteral("slow"));
    client->call(QStringLiteral("deferred"), QStringLiteral("[2, 0]"), QStringLiteral("fast"));
    QVERIFY(client->waitForMessages(2, 10000));
    QCOMPARE(parsed(client->messages.at(0)).value("id").toString(), QStringLiteral("slow"));
    QCOMPARE(parsed(client->messages.at(1)).value("id").toString(), QStringLiteral("fast"));
    QCOMPARE(parsed(client->messages.at(1)).value("result").toInt(), 2);
}

void TestJsonRpcDispatch::deferredNotStartedForNotification()
{
    client->call(QStringLiteral("deferred"), QStringLiteral("[1, 0]"), QString());
    QCOMPARE(client->drainUntilSentinel(), QStringList());
    // The dropped future's watcher goes with it; a started work would have been counted by now.
    QTRY_VERIFY(service->lastWatcher.isNull());
    QTest::qWait(200);
    QCOMPARE(service->worksStarted.load(), 0);
}

void TestJsonRpcDispatch::deferredDroppedWhenClientLeaves()
{
    StdoutCapture output;
    client->call(QStringLiteral("deferred"), QStringLiteral("[1, 400]"), QStringLiteral("1"));
    QTRY_COMPARE(service->worksStarted.load(), 1);
    client->socket.close();
    QTRY_VERIFY(server->connectedEndpoints().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(service->worksFinished.load(), 1, 10000);
    // The finished work must not reach the gone client's endpoint.
    QTest::qWait(200);
    const QString log = QString::fromUtf8(output.take());
    QVERIFY2(log.contains(QRegularExpression(R"(\]\[operator\(\):\d+\]: Future cancelled\n)")), qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("Future success")), qPrintable(log));
    QVERIFY(!MessageCapture::debugLines().contains(
        QStringLiteral("JSON RPC server error: invalid client socket, cannot send response")));
}

void TestJsonRpcDispatch::deferredWorkThatThrowsIsAnswered()
{
    client->call(QStringLiteral("failLater"), QString(), QStringLiteral("1"));
    QVERIFY(client->waitForMessages(1, 10000));
    QCOMPARE(parsed(client->messages.first()).value("result").toObject().value("Error").toString(),
             QStringLiteral("Internal error: late boom"));
}

void TestJsonRpcDispatch::futureStartsOnceAcrossCopies()
{
    std::atomic<int> runs {0};
    QThreadPool pool;
    MyFuture future(
        [&runs] {
            ++runs;
            return QVariant(9);
        },
        &pool);
    MyFuture copy = future;
    QVariantList answers;
    StdoutCapture output;
    future.start(this, nullptr, [&answers](const QVariant& value) { answers.append(value); });
    copy.start(this, nullptr, [&answers](const QVariant& value) { answers.append(value); });
    future.start(this, nullptr, [&answers](const QVariant& value) { answers.append(value); });
    QTRY_COMPARE(answers, QVariantList {9});
    pool.waitForDone();
    QTest::qWait(100);
    QCOMPARE(runs.load(), 1);
    QCOMPARE(answers.size(), 1);
    QVERIFY(QString::fromUtf8(output.take()).contains(QRegularExpression(R"(\[operator\(\):\d+\]: Future success\n)")));
}

void TestJsonRpcDispatch::unstartedFutureReleasesWatcher()
{
    QPointer<QObject> watcher;
    {
        MyFuture future([] { return QVariant(); });
        const MyFuture copy = future;
        watcher = copy.watcherObject();
        QVERIFY(watcher);
    }
    QTRY_VERIFY(watcher.isNull());

    // A started one is released by its own end, however long its copies live on.
    MyFuture kept([] { return QVariant(1); });
    watcher = kept.watcherObject();
    bool answered = false;
    kept.start(this, nullptr, [&answered](const QVariant&) { answered = true; });
    QTRY_VERIFY(answered);
    QTRY_VERIFY(watcher.isNull());
}

QTEST_GUILESS_MAIN(TestJsonRpcDispatch)
#include "tst_jsonrpcdispatch.moc"
