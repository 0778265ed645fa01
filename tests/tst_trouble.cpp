// Radios in trouble as pages see them, through the in-process service and simulated radios: silent, slow, stuck,
// refusing, disconnected mid-request, left keyed; and each bound a page or a radio's process can push against.
#include "ServiceHost.h"
#include "SimRadio.h"
#include "radio/RadioLink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

QJsonObject envelope(const char* key, const QString& text)
{
    return {{QString::fromLatin1(key), text}};
}

// orvessa-radio processes this test process started, by process id.
QList<int> radioChildren()
{
    QList<int> found;
    const QRegularExpression child(QStringLiteral("^Name:\torvessa-radio\n(.*\n)*PPid:\t%1\n").arg(::getpid()));
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile status("/proc/" + pid + "/status");
        if (status.open(QIODevice::ReadOnly) && child.match(QString::fromLatin1(status.readAll())).hasMatch()) {
            found << pid.toInt();
        }
    }
    return found;
}

} // namespace

class TestTrouble : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void readBacks_data();
    void readBacks();
    void silenceAndSlowness_data();
    void silenceAndSlowness();
    void stuckHost();
    void disconnectMidRequest();
    void releasedWhenKeyerLeaves_data();
    void releasedWhenKeyerLeaves();
    void readings_data();
    void readings();
    void pushOrderAndPort();
    void oneDeviceOneAnswer();
    void processLimit();
    void textBounds_data();
    void textBounds();
    void portTextIsAPath_data();
    void portTextIsAPath();
    void unstartableHost_data();
    void unstartableHost();
    void hostLogFlood();
    void cleanupTestCase();

private:
    QJsonObject call(const QString& method, const QJsonArray& params, RpcClient* caller = nullptr);
    // Starts the radio playing that model, connects it as model (the same unless given) and, if asked, subscribes
    // the client; false when any of it fails.
    bool connected(SimRadio& radio, int played = SimRadio::modelId, int model = 0, bool subscribe = false);
    // RigInfo pushes client received from the index on, their params.
    QList<QJsonObject> pushes(int from = 0) const;
    // Waits for a push from the index on that satisfies test; its index, or -1.
    int waitForPush(int from, const std::function<bool(const QJsonObject&)>& test, int timeoutMs);
    int logCount(const QString& pattern) { return host->log.lines(QRegularExpression(pattern)).size(); }

    std::unique_ptr<ServiceHost> host;
    std::unique_ptr<RpcClient> client;
};

void TestTrouble::initTestCase()
{
    host = std::make_unique<ServiceHost>();
    QVERIFY(host->isListening());
}

void TestTrouble::init()
{
    client = host->client();
    QVERIFY(client);
}

void TestTrouble::cleanup()
{
    // A row's radio goes with it: its port number may come back for the next.
    for (const QJsonValue& rig : client->call("listConnectedRigs").toArray()) {
        client->call("disconnectRig", QJsonArray {rig.toObject().value("Location")});
    }
    // Their processes count against the next row's bound until they have ended.
    QTRY_COMPARE_WITH_TIMEOUT(radioChildren(), QList<int>(), 10000);
    RadioLink::setProgram(qEnvironmentVariable("ORVESSA_TEST_RADIO", QStringLiteral(ORVESSA_RADIO)));
    client.reset();
}

void TestTrouble::cleanupTestCase()
{
    host.reset();
}

QJsonObject TestTrouble::call(const QString& method, const QJsonArray& params, RpcClient* caller)
{
    return (caller ? caller : client.get())->call(method, params, 30000).toObject();
}

bool TestTrouble::connected(SimRadio& radio, int played, int model, bool subscribe)
{
    return radio.start({}, played)
        && call("connectRig", {radio.port, model ? model : played, "38400"}) == envelope("Success", "Rig connected")
        && (!subscribe || call("rigInfoSubscribe", {radio.port}) == envelope("Success", "subscribed"));
}

QList<QJsonObject> TestTrouble::pushes(int from) const
{
    QList<QJsonObject> params;
    for (const QJsonObject& push : client->notifications("RigInfo").mid(from)) {
        params << push.value("params").toObject();
    }
    return params;
}

int TestTrouble::waitForPush(int from, const std::function<bool(const QJsonObject&)>& test, int timeoutMs)
{
    int found = -1;
    (void)QTest::qWaitFor(
        [&] {
            const QList<QJsonObject> all = pushes();
            for (int i = from; i < all.size() && found < 0; ++i) {
                found = test(all.at(i)) ? i : -1;
            }
            return found >= 0;
        },
        timeoutMs);
    return found;
}

void TestTrouble::readBacks_data()
{
    QTest::addColumn<int>("played");
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QJsonArray>("args");
    QTest::addColumn<int>("calls");
    // The answer's entries that must be there; "Error" stands for any error.
    QTest::addColumn<QJsonObject>("answer");
    // Each call must have reached the radio with this command.
    QTest::addColumn<QString>("wire");

    const QJsonObject error {{"Error", "Communication timed out"}};
    QTest::newRow("frequency set on a silent radio")
        << 1035 << QByteArray("silent") << "setFreq" << QJsonArray {7010000} << 1 << error << QString();
    QTest::newRow("PTT set on a silent radio")
        << 1035 << QByteArray("silent") << "setPTT" << QJsonArray {1} << 1 << error << QString();
    QTest::newRow("mode the radio refuses") << 2028 << QByteArray() << "setMode" << QJsonArray {"PKTUSB", 0} << 1
                                            << QJsonObject {{"Success", "Mode set"}, {"mode", "USB"}} << QString();
    QTest::newRow("status read twice at once")
        << 1035 << QByteArray() << "rigInfo" << QJsonArray() << 2 << QJsonObject {{"freq", 14074000}} << QString("FA;");
}

void TestTrouble::readBacks()
{
    QFETCH(int, played);
    QFETCH(QByteArray, fault);
    QFETCH(QString, method);
    QFETCH(QJsonArray, args);
    QFETCH(int, calls);
    QFETCH(QJsonObject, answer);
    QFETCH(QString, wire);
    SimRadio radio;
    QVERIFY(connected(radio, played));
    if (!fault.isEmpty()) {
        radio.say(fault);
        // Known to be silent by now, as after the first error push.
        QVERIFY(call("rigInfo", {radio.port}).contains("Error"));
    }
    args.prepend(radio.port);
    radio.clearCommands();
    for (int i = 0; i < calls; ++i) {
        const QJsonObject got = call(method, args);
        for (const QString& key : answer.keys()) {
            QVERIFY2(got.value(key) == answer.value(key), QJsonDocument(got).toJson());
        }
    }
    if (!wire.isEmpty()) {
        QCOMPARE(radio.commands().filter(QRegularExpression("^" + QRegularExpression::escape(wire) + "$")).size(),
                 calls);
    }
}

void TestTrouble::silenceAndSlowness_data()
{
    QTest::addColumn<int>("played");
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QByteArray>("recovery");
    // How soon after the fault the first error push must come; 0 when none may come.
    QTest::addColumn<int>("errorWithinMs");
    QTest::newRow("FT-991 falls silent") << 1035 << 1035 << QByteArray("silent") << QByteArray("answer") << 4500;
    // Hamlib's time-out for the TS-2000 is 200 ms.
    QTest::newRow("TS-2000 answering after 100 ms")
        << 2028 << 2014 << QByteArray("slow 100") << QByteArray("obey") << 0;
}

void TestTrouble::silenceAndSlowness()
{
    QFETCH(int, played);
    QFETCH(int, model);
    QFETCH(QByteArray, fault);
    QFETCH(QByteArray, recovery);
    QFETCH(int, errorWithinMs);
    SimRadio radio;
    QVERIFY(connected(radio, played, model, true));
    QVERIFY(client->waitForNotifications("RigInfo", 1));
    const auto failed = [](const QJsonObject& push) { return push.contains("Error"); };
    const auto status = [](const QJsonObject& push) { return push.contains("freq"); };
    const int before = pushes().size();
    QElapsedTimer clock;
    clock.start();
    radio.say(fault);
    if (errorWithinMs == 0) {
        QTest::qWait(4000);
        QVERIFY(pushes(before).size() >= 4);
        QCOMPARE(waitForPush(before, failed, 0), -1);
        QCOMPARE(call("setFreq", {radio.port, 7010000}).value("freq"), QJsonValue(7010000));
    } else {
        const int first = waitForPush(before, failed, errorWithinMs + 2000);
        QVERIFY2(first >= 0 && clock.elapsed() < errorWithinMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(pushes().at(first), QJsonObject({{"Error", "Communication timed out"}, {"port", radio.port}}));
        // From then on every request is answered within a second, none ends the silence, and the pushes go on.
        for (const QJsonArray& params : {QJsonArray {"setFreq", 7010000}, QJsonArray {"setPTT", 1}}) {
            QElapsedTimer asked;
            asked.start();
            QVERIFY(call(params.at(0).toString(), {radio.port, params.at(1)}).contains("Error"));
            QVERIFY2(asked.elapsed() < 1000, qPrintable(QString::number(asked.elapsed())));
        }
        const int later = pushes().size();
        QTest::qWait(2600);
        QVERIFY(pushes(later).size() >= 2);
        QCOMPARE(waitForPush(later, status, 0), -1);
    }
    const int recovered = pushes().size();
    radio.say(recovery);
    QVERIFY(waitForPush(recovered, status, 5000) >= 0);
}

void TestTrouble::stuckHost()
{
    SimRadio radio;
    QVERIFY(connected(radio, SimRadio::modelId, 0, true));
    QVERIFY(client->waitForNotifications("RigInfo", 1));
    QCOMPARE(radio.hosts().size(), 1);
    const int stopped = radio.hosts().first();
    const int before = pushes().size();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::kill(stopped, SIGSTOP), 0);
    const QJsonObject silent {{"Error", "Communication timed out"}, {"port", radio.port}};
    const int first = waitForPush(
        before, [&](const QJsonObject& push) { return push == silent; }, 6500);
    QVERIFY2(first >= 0 && clock.elapsed() < 4500, qPrintable(QString::number(clock.elapsed())));
    QElapsedTimer asked;
    asked.start();
    QCOMPARE(call("rigInfo", {radio.port}), envelope("Error", "Communication timed out"));
    QVERIFY(asked.elapsed() < 1000);
    QTest::qWait(3000);
    QVERIFY(pushes(first + 1).size() >= 2);
    // Ended 20 s after it stopped, and replaced by a fresh process, which serves the subscribers again. Waited for by
    // the log and the pushes: a scan of /proc at every turn would take the CPU the fresh process needs to start.
    const QString ended = QRegularExpression::escape(radio.port) + ": its host has not answered for 20 s: ending it$";
    QVERIFY(QTest::qWaitFor([&] { return logCount(ended) > 0; }, 30000));
    QVERIFY(waitForPush(
                pushes().size(), [](const QJsonObject& push) { return push.contains("freq"); }, 20000)
            >= 0);
    const QList<int> serving = radio.hosts();
    QVERIFY(!serving.isEmpty() && !serving.contains(stopped));
    QCOMPARE(logCount(ended), 1);
}

void TestTrouble::disconnectMidRequest()
{
    SimRadio radio;
    QVERIFY(radio.start());
    const QString released = QRegularExpression::escape(radio.port) + R"(: PTT released \(closing\)$)";
    for (int trial = 1; trial <= 5; ++trial) {
        QCOMPARE(call("connectRig", {radio.port, SimRadio::modelId, "38400"}), envelope("Success", "Rig connected"));
        radio.clearCommands();
        const int key = client->request("setPTT", QJsonArray {radio.port, 1});
        const int tune = client->request("setFreq", QJsonArray {radio.port, 7010000});
        const int disconnect = client->request("disconnectRig", QJsonArray {radio.port});
        // The request under way gets its true answer, the one behind it never reaches the radio.
        QCOMPARE(client->response(key).value("result").toObject(), QJsonObject({{"Success", "PTT set"}, {"ptt", 1}}));
        QCOMPARE(client->response(tune).value("result").toObject(), envelope("Error", "Rig not connected"));
        QCOMPARE(client->response(disconnect).value("result").toObject(), envelope("Success", "Rig disconnected"));
        QTRY_VERIFY(radio.hosts().isEmpty());
        QCOMPARE(radio.commands().filter(QRegularExpression("^TX[01];$")), QStringList({"TX1;", "TX0;"}));
        QVERIFY(!radio.commands().contains("FA007010000;"));
        QTRY_COMPARE(logCount(released), trial);
    }
}

void TestTrouble::releasedWhenKeyerLeaves_data()
{
    QTest::addColumn<bool>("releasedByAnother");
    QTest::newRow("the keying page leaves while transmitting") << false;
    QTest::newRow("another page released it before") << true;
}

void TestTrouble::releasedWhenKeyerLeaves()
{
    QFETCH(bool, releasedByAnother);
    SimRadio radio;
    QVERIFY(connected(radio));
    std::unique_ptr<RpcClient> keyer = host->client();
    QCOMPARE(call("setPTT", {radio.port, 1}, keyer.get()).value("ptt"), QJsonValue(1));
    if (releasedByAnother) {
        QCOMPARE(call("setPTT", {radio.port, 0}).value("ptt"), QJsonValue(0));
    }
    const QString released
        = QRegularExpression::escape(radio.port) + R"(: PTT released \(the connection that keyed it has gone\)$)";
    const int logged = logCount(released);
    radio.clearCommands();
    keyer->socket.close();
    QVERIFY(keyer->waitForClosed());
    if (releasedByAnother) {
        QTest::qWait(500);
        QVERIFY(!radio.commands().contains("TX0;"));
    } else {
        QTRY_VERIFY(radio.commands().contains("TX0;"));
        QCOMPARE(call("rigInfo", {radio.port}).value("ptt"), QJsonValue(0));
    }
    QTRY_COMPARE(logCount(released), logged + (releasedByAnother ? 0 : 1));
}

void TestTrouble::readings_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("fault");
    // Applied before the radio is connected: the reading never answers on this connection.
    QTest::addColumn<bool>("fromTheStart");
    // Error pushes to wait for before the fault ends; 0 to wait instead for the reading to be named missing.
    QTest::addColumn<int>("errors");
    QTest::addColumn<QJsonValue>("missing");
    const QJsonValue none = QJsonValue::Undefined;
    QTest::newRow("a Yaesu refuses the mode once") << 1035 << QByteArray("refuse MD0 1 N;") << false << 1 << none;
    QTest::newRow("an Icom's PTT query goes unanswered after it answered")
        << 3073 << QByteArray("ignore FEFE94E01C00") << false << 3 << none;
    QTest::newRow("an Icom's firmware without the S-meter Hamlib lists")
        << 3073 << QByteArray("ignore FEFE94E01502") << true << 0 << QJsonValue(QJsonArray {"signal"});
}

void TestTrouble::readings()
{
    QFETCH(int, model);
    QFETCH(QByteArray, fault);
    QFETCH(bool, fromTheStart);
    QFETCH(int, errors);
    QFETCH(QJsonValue, missing);
    SimRadio radio;
    QVERIFY(radio.start({}, model));
    if (fromTheStart) {
        radio.say(fault);
    }
    QCOMPARE(call("connectRig", {radio.port, model, "38400"}), envelope("Success", "Rig connected"));
    QCOMPARE(call("rigInfoSubscribe", {radio.port}), envelope("Success", "subscribed"));
    const auto failed = [](const QJsonObject& push) { return push.contains("Error"); };
    int from = 0;
    if (!fromTheStart) {
        QVERIFY(client->waitForNotifications("RigInfo", 1));
        from = pushes().size();
        radio.say(fault);
    }
    for (int i = 0; i < errors; ++i) {
        from = waitForPush(from, failed, 5000) + 1;
        QVERIFY(from > 0);
    }
    const auto named = [](const QJsonObject& push) { return push.contains("missing"); };
    if (errors > 0) {
        // A failed read, never a reading the radio lacks.
        QCOMPARE(waitForPush(0, named, 0), -1);
        radio.say("obey");
        const int back = waitForPush(
            from, [](const QJsonObject& push) { return push.contains("freq"); }, 5000);
        QVERIFY(back >= 0);
        QVERIFY2(!named(pushes().at(back)) && !pushes().at(back).value("mode").toString().isEmpty(),
                 QJsonDocument(pushes().at(back)).toJson());
    } else {
        const int learned = waitForPush(0, named, 15000);
        QVERIFY(learned >= 0);
        QCOMPARE(pushes().at(learned).value("missing"), missing);
        QCOMPARE(logCount(QRegularExpression::escape(radio.port) + ": \"signal\" reads 0: it went unanswered"), 1);
    }
}

void TestTrouble::pushOrderAndPort()
{
    SimRadio one;
    SimRadio two;
    QVERIFY(connected(one, 1035, 0, true) && connected(two, 1035, 0, true));
    const QString low = qMin(one.port, two.port);
    const QString high = qMax(one.port, two.port);
    // A tick's pushes leave in port order, each naming its radio: from the first tick that read both, the one with
    // the second radio's first push (first in it when its port is the lower).
    const int first = waitForPush(
        0, [&](const QJsonObject& push) { return push.value("port") == two.port; }, 5000);
    QVERIFY(first >= 0);
    const int from = two.port == high ? first + 1 : first;
    QVERIFY(client->waitForNotifications("RigInfo", from + 12));
    QStringList ports;
    for (const QJsonObject& push : pushes(from).mid(0, 12)) {
        QVERIFY(push.contains("freq"));
        ports << push.value("port").toString();
    }
    QStringList expected;
    for (int tick = 0; tick < 6; ++tick) {
        expected << low << high;
    }
    QCOMPARE(ports, expected);
}

void TestTrouble::oneDeviceOneAnswer()
{
    SimRadio radio;
    QVERIFY(radio.start());
    QTemporaryDir folder;
    const QString link = folder.filePath("rig");
    QVERIFY(QFile::link(radio.port, link));
    // Sent at once: one opens the device, the other waits for that open and is told under which name it is.
    const int first = client->request("connectRig", QJsonArray {link, SimRadio::modelId, "38400"});
    const int second = client->request("connectRig", QJsonArray {radio.port, SimRadio::modelId, "38400"});
    QJsonObject answers {{link, client->response(first).value("result")},
                         {radio.port, client->response(second).value("result")}};
    const QString winner = answers.value(link) == envelope("Success", "Rig connected") ? link : radio.port;
    const QString loser = winner == link ? radio.port : link;
    QCOMPARE(answers.value(winner).toObject(), envelope("Success", "Rig connected"));
    QCOMPARE(answers.value(loser).toObject(), envelope("Error", "Serial port already connected as " + winner));
    QCOMPARE(call("rigInfo", {loser}), envelope("Error", "Rig not connected"));
    // Names of no device match nothing: each is tried on its own.
    const int none = client->request("connectRig", QJsonArray {"/dev/orvessa-none-1", SimRadio::modelId, "38400"});
    const int other = client->request("connectRig", QJsonArray {"/dev/orvessa-none-2", SimRadio::modelId, "38400"});
    for (int id : {none, other}) {
        QCOMPARE(client->response(id).value("result").toObject(), envelope("Error", "Cannot connect rig"));
    }
}

void TestTrouble::processLimit()
{
    // Names of one switched-off radio: the first open takes seconds, the others wait to learn its outcome.
    SimRadio radio;
    QVERIFY(radio.start());
    radio.setAnswering(false);
    QTemporaryDir folder;
    QList<int> ids;
    for (int i = 0; i < 70; ++i) {
        const QString name = folder.filePath(QString::number(i));
        QVERIFY(QFile::link(radio.port, name));
        ids << client->request("connectRig", QJsonArray {name, SimRadio::modelId, "38400"});
    }
    const QString limit = "Orvessa runs at most 64 radios at once, counting those being connected or disconnected";
    // After the 64 processes have been started: seconds under the sanitizers.
    for (int id : ids.mid(64)) {
        QCOMPARE(client->response(id, 30000).value("result").toObject(),
                 QJsonObject({{"Error", "Cannot connect rig"}, {"reason", limit}}));
    }
    QCOMPARE(logCount(": not connected: 64 radio processes run already, the most Orvessa starts at once$"), 1);
    QTRY_COMPARE(radioChildren().size(), 64);
    // What waits for a radio being opened is bounded as what waits for an open one.
    QList<int> asks;
    for (int i = 0; i < 300; ++i) {
        asks << client->request("rigInfo", QJsonArray {folder.filePath("0")});
    }
    for (int id : asks.mid(256)) {
        QCOMPARE(client->response(id, 2000).value("result").toObject(),
                 envelope("Error", "Rig busy: too many requests are waiting for it"));
    }
    // Given up while opening: answered within a second, what waited first, the processes ended.
    QElapsedTimer clock;
    clock.start();
    QList<int> disconnects;
    for (int i = 0; i < 64; ++i) {
        disconnects << client->request("disconnectRig", QJsonArray {folder.filePath(QString::number(i))});
    }
    for (int i = 0; i < 64; ++i) {
        QCOMPARE(client->response(disconnects.at(i), 2000).value("result").toObject(),
                 envelope("Success", "Rig disconnected"));
        QCOMPARE(client->response(ids.at(i), 0).value("result").toObject(), envelope("Error", "Cannot connect rig"));
    }
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    for (int id : asks.mid(0, 256)) {
        QCOMPARE(client->response(id, 0).value("result").toObject(), envelope("Error", "Rig not connected"));
    }
    QTRY_COMPARE(radioChildren(), QList<int>());
}

void TestTrouble::textBounds_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QJsonArray>("args");
    QTest::addColumn<QJsonObject>("answer");
    const QString huge(600000, 'U');
    const QJsonObject invalid = envelope("Error", "Invalid params");
    QTest::newRow("mode of 600,000 characters") << "setMode" << QJsonArray {huge, 0} << invalid;
    QTest::newRow("VFO name of 600,000 characters") << "setVFO" << QJsonArray {huge} << invalid;
    QTest::newRow("mode of 256 bytes, at the bound")
        << "setMode" << QJsonArray {QString(128, QChar(0xE9)), 0} << envelope("Error", "Invalid mode");
    QTest::newRow("port text of 257 bytes")
        << "connectRig" << QJsonArray {"/" + QString(256, 'x'), 1035, "38400"} << invalid;
    QTest::newRow("speed of 300 characters")
        << "connectRig" << QJsonArray {"/dev/none", 1035, QString(300, '9')} << invalid;
}

void TestTrouble::textBounds()
{
    QFETCH(QString, method);
    QFETCH(QJsonArray, args);
    QFETCH(QJsonObject, answer);
    SimRadio radio;
    QVERIFY(connected(radio));
    if (method != "connectRig") {
        args.prepend(radio.port);
    }
    const QString ended = QRegularExpression::escape(radio.port) + ": its host ended";
    const int before = logCount(ended);
    QCOMPARE(call(method, args), answer);
    // The radio's process was never given what it cannot take.
    QCOMPARE(call("rigInfo", {radio.port}).value("freq"), QJsonValue(14074000));
    QCOMPARE(logCount(ended), before);
}

void TestTrouble::portTextIsAPath_data()
{
    QTest::addColumn<int>("model");
    // %1 is a port on 127.0.0.1 that listens.
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("reached");
    QTest::newRow("serial radio given an address and port") << 1035 << "127.0.0.1:%1" << false;
    QTest::newRow("serial radio given a host name") << 1035 << "localhost" << false;
    QTest::newRow("network radio given an address and port") << 4 << "127.0.0.1:%1" << true;
}

void TestTrouble::portTextIsAPath()
{
    QFETCH(int, model);
    QFETCH(QString, text);
    QFETCH(bool, reached);
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    const QString port = text.arg(listener.serverPort());
    const int connect = client->request("connectRig", QJsonArray {port, model, "38400"});
    if (reached) {
        QTRY_VERIFY(listener.hasPendingConnections());
        QCOMPARE(call("disconnectRig", {port}), envelope("Success", "Rig disconnected"));
    }
    QCOMPARE(client->response(connect).value("result").toObject(), envelope("Error", "Cannot connect rig"));
    if (!reached) {
        QCOMPARE(logCount(QRegularExpression::escape(port) + ": not a device path"), 1);
        QTest::qWait(300);
        QVERIFY(!listener.hasPendingConnections());
    }
}

void TestTrouble::unstartableHost_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing") << false;
    QTest::newRow("not executable") << true;
}

void TestTrouble::unstartableHost()
{
    QFETCH(bool, exists);
    QTemporaryDir folder;
    const QString program = folder.filePath("orvessa-radio");
    if (exists) {
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n") > 0);
    }
    RadioLink::setProgram(program);
    SimRadio radio;
    QVERIFY(radio.start());
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(call("connectRig", {radio.port, SimRadio::modelId, "38400"}), envelope("Error", "Cannot connect rig"));
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(logCount("\\]: Cannot start " + QRegularExpression::escape(program) + ": "), 1);
    // Each connectRig tries again.
    RadioLink::setProgram(qEnvironmentVariable("ORVESSA_TEST_RADIO", QStringLiteral(ORVESSA_RADIO)));
    QCOMPARE(call("connectRig", {radio.port, SimRadio::modelId, "38400"}), envelope("Success", "Rig connected"));
}

void TestTrouble::hostLogFlood()
{
    // A process that writes 30 MB without a line break where the radio's process writes its log lines.
    QTemporaryDir folder;
    QFile script(folder.filePath("orvessa-radio"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nhead -c 30000000 /dev/zero | tr '\\0' x >&2\necho >&2\necho after the flood >&2\n"
                 "exec sleep 60\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    RadioLink::setProgram(script.fileName());
    const int connect = client->request("connectRig", QJsonArray {"/dev/orvessa-flood", SimRadio::modelId, "38400"});
    QTRY_COMPARE_WITH_TIMEOUT(logCount("^after the flood$"), 1, 20000);
    QCOMPARE(logCount("^x{4096} \\[cut: the line goes on past 4096 bytes\\]$"), 1);
    QCOMPARE(logCount("^xxxx"), 1);
    QCOMPARE(call("disconnectRig", {"/dev/orvessa-flood"}), envelope("Success", "Rig disconnected"));
    QCOMPARE(client->response(connect, 0).value("result").toObject(), envelope("Error", "Cannot connect rig"));
}

QTEST_GUILESS_MAIN(TestTrouble)
#include "tst_trouble.moc"
