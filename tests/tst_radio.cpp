// Radios as clients see them, the service in-process and the simulated FT-991 on a pseudo-terminal: the catalogue,
// connecting, commanding, reading and the status push.
#include "ServiceHost.h"
#include "SimRadio.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <csignal>
#include <signal.h>

namespace {

QJsonObject envelope(const char* key, const char* text)
{
    return {{QString::fromLatin1(key), QString::fromLatin1(text)}};
}

// Every status read asks the meter once: its queries count the reads.
int meterReads(SimRadio& radio)
{
    return radio.commands().filter(QRegularExpression("^(SM0|RM4);$")).size();
}

} // namespace

class TestRadio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void catalogueAndPorts();
    void connection();
    void control_data();
    void control();
    void oneRadioInOrder();
    void normalPassbandAndVfo();
    void subscriptions();
    void twoRadiosEachFourTimesASecond();
    void disconnectTellsTheOthers();
    void eachRadio_data();
    void eachRadio();
    void otherRadioKeepsItsPace_data();
    void otherRadioKeepsItsPace();
    void pipelinedAfterConnect();
    void boundedQueueAndDisconnect();
    void unpluggedAndPluggedBack();
    void cleanupTestCase();

private:
    QJsonObject call(const QString& method, const QJsonArray& params, RpcClient* caller = nullptr);
    // RigInfo pushes per second to the client, counted over a few seconds.
    double pushRate(RpcClient& subscriber, int rigs = 1);

    std::unique_ptr<ServiceHost> host;
    std::unique_ptr<RpcClient> client;
    SimRadio radio;
    SimRadio second;
};

void TestRadio::initTestCase()
{
    host = std::make_unique<ServiceHost>();
    QVERIFY(host->isListening());
    QVERIFY(radio.start() && second.start());
}

void TestRadio::init()
{
    client = host->client();
    QVERIFY(client);
}

void TestRadio::cleanupTestCase()
{
    client.reset();
    host.reset();
}

QJsonObject TestRadio::call(const QString& method, const QJsonArray& params, RpcClient* caller)
{
    // A silent radio holds Hamlib for seconds.
    return (caller ? caller : client.get())->call(method, params, 30000).toObject();
}

double TestRadio::pushRate(RpcClient& subscriber, int rigs)
{
    (void)subscriber.waitForNotifications("RigInfo", rigs);
    const int before = subscriber.notifications("RigInfo").size();
    QTest::qWait(3000);
    return (subscriber.notifications("RigInfo").size() - before) / (3.0 * rigs);
}

void TestRadio::catalogueAndPorts()
{
    const QRegularExpression threadLine(R"(\[listRig:\d+\]: Thread id: \d+$)");
    const int before = host->log.lines(threadLine).size();
    const QJsonArray models = client->call("listRig").toArray();
    QVERIFY(models.contains(QJsonObject {{"ID", 1035}, {"Model", "FT-991"}, {"Brand", "Yaesu"}}));
    for (int i = 1; i < models.size(); ++i) {
        const QJsonObject a = models.at(i - 1).toObject();
        const QJsonObject b = models.at(i).toObject();
        QVERIFY(!b.value("Brand").toString().contains("Hamlib"));
        const auto key
            = [](const QJsonObject& m) { return qMakePair(m.value("Brand").toString(), m.value("Model").toString()); };
        QVERIFY2(!(key(b) < key(a)), qPrintable(key(b).first + " " + key(b).second));
    }
    QCOMPARE(host->log.lines(threadLine).size(), before + 1);

    for (const QJsonValue& port : client->call("listUSB").toArray()) {
        QCOMPARE(port.toObject().keys(), QStringList({"Brand", "Location", "Model", "Name", "Serial"}));
    }
}

void TestRadio::connection()
{
    const QRegularExpression destroyed(R"(\[~KrRig:\d+\]: KrRig distrutto$)");
    const int before = host->log.lines(destroyed).size();
    const QString missing = "/dev/orvessa-none";
    const QString dotted = QFileInfo(radio.port).path() + "/../" + QFileInfo(radio.port).dir().dirName() + "/"
        + QFileInfo(radio.port).fileName();
    // In order: the refusals come before anything is opened, the first connect wins, under any name.
    const QList<QPair<QJsonArray, QJsonObject>> steps {
        {{radio.port, 999999, "38400"}, envelope("Error", "Rig model not supported")},
        {{missing, SimRadio::modelId, "38400"}, envelope("Error", "Cannot connect rig")},
        {{radio.port, SimRadio::modelId, "38400"}, envelope("Success", "Rig connected")},
        {{radio.port, 2014, "38400"}, envelope("Success", "Serial port already connected")},
        {{dotted, SimRadio::modelId, "38400"},
         QJsonObject {{"Error", "Serial port already connected as " + radio.port}}},
        {{radio.port, 1, "38400"}, envelope("Error", "Rig model not supported")},
    };
    for (const auto& step : steps) {
        QCOMPARE(call("connectRig", step.first), step.second);
    }
    QCOMPARE(
        client->call("listConnectedRigs").toArray(),
        QJsonArray({QJsonObject {{"Location", radio.port}, {"ID", 1035}, {"Model", "FT-991"}, {"Brand", "Yaesu"}}}));
    QTRY_COMPARE(host->log.lines(destroyed).size(), before + 1);
}

void TestRadio::control_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QJsonArray>("params");
    QTest::addColumn<QJsonObject>("answer");
    // Commands the radio must have received; none at all when the list is empty.
    QTest::addColumn<QStringList>("wire");

    const QString port = radio.port;
    const QJsonObject badPtt = envelope("Error", "Invalid PTT value (0=OFF, 1=ON, 2=MIC, 3=ACC)");
    QTest::newRow("frequency") << "setFreq" << QJsonArray {port, 14250000}
                               << QJsonObject {{"Success", "Frequency set"}, {"freq", 14250000}}
                               << QStringList {"FA014250000;"};
    QTest::newRow("narrow CW") << "setMode" << QJsonArray {port, "CW", 500}
                               << QJsonObject {{"Success", "Mode set"}, {"mode", "CW"}, {"passband", 500}}
                               << QStringList {"MD03;", "SH010;"};
    QTest::newRow("mode Hamlib does not know")
        << "setMode" << QJsonArray {port, "XYZ", 0} << envelope("Error", "Invalid mode") << QStringList();
    QTest::newRow("transmit") << "setPTT" << QJsonArray {port, 1} << QJsonObject {{"Success", "PTT set"}, {"ptt", 1}}
                              << QStringList {"TX1;"};
    QTest::newRow("receive") << "setPTT" << QJsonArray {port, 0} << QJsonObject {{"Success", "PTT set"}, {"ptt", 0}}
                             << QStringList {"TX0;"};
    QTest::newRow("PTT past the range") << "setPTT" << QJsonArray {port, 4} << badPtt << QStringList();
    QTest::newRow("PTT range before the port") << "setPTT" << QJsonArray {"/dev/none", -1} << badPtt << QStringList();
    QTest::newRow("unknown mode on no radio")
        << "setMode" << QJsonArray {"/dev/none", "XYZ", 0} << envelope("Error", "Rig not connected") << QStringList();
    QTest::newRow("port text in other case")
        << "setFreq" << QJsonArray {port.toUpper(), 7000000} << envelope("Error", "Rig not connected") << QStringList();
    QTest::newRow("no such port") << "disconnectRig" << QJsonArray {"/dev/none"}
                                  << envelope("Error", "Rig not connected") << QStringList();
}

void TestRadio::control()
{
    QFETCH(QString, method);
    QFETCH(QJsonArray, params);
    QFETCH(QJsonObject, answer);
    QFETCH(QStringList, wire);
    radio.clearCommands();
    QCOMPARE(call(method, params), answer);
    for (const QString& command : wire) {
        QTRY_VERIFY2(radio.commands().contains(command), qPrintable(radio.commands().join(' ')));
    }
    if (wire.isEmpty()) {
        QCOMPARE(radio.commands(), QStringList());
    }
}

void TestRadio::oneRadioInOrder()
{
    // Answered in the order asked, and a request without id still acts on the radio.
    const int first = client->request("setFreq", QJsonArray {radio.port, 7010000});
    const int read = client->request("rigInfo", QJsonArray {radio.port});
    client->send(QStringLiteral(R"({"jsonrpc":"2.0","method":"setFreq","params":["%1",7020000]})").arg(radio.port));
    const int last = client->request("rigInfo", QJsonArray {radio.port});
    QTRY_COMPARE(client->messages.size(), 3);
    QStringList ids;
    for (const QString& message : client->messages) {
        ids << QJsonDocument::fromJson(message.toUtf8()).object().value("id").toString();
    }
    QCOMPARE(ids, QStringList({QString::number(first), QString::number(read), QString::number(last)}));
    QCOMPARE(client->response(read).value("result").toObject().value("freq"), QJsonValue(7010000));
    QCOMPARE(client->response(last).value("result").toObject().value("freq"), QJsonValue(7020000));
}

void TestRadio::normalPassbandAndVfo()
{
    // -1 is Hamlib's "leave the filter as it is": the service asks for the mode's normal filter instead.
    const auto usbAfterNarrowCw = [this](int passband) {
        call("setMode", {radio.port, "CW", 500});
        radio.clearCommands();
        const QJsonObject answer = call("setMode", {radio.port, "USB", passband});
        return qMakePair(answer, radio.commands());
    };
    const auto normal = usbAfterNarrowCw(0);
    QCOMPARE(normal.first.value("Success"), QJsonValue("Mode set"));
    QCOMPARE(usbAfterNarrowCw(-1), normal);

    // Hamlib keeps this radio's VFO itself: the frequency read shows which one is in use.
    const QJsonValue a = call("rigInfo", {radio.port}).value("freq");
    const QJsonValue b(7074000);
    const QList<QPair<QString, QJsonValue>> steps {
        {"VFOB", b}, {"vfoa", b}, {"VFOA", a}, {"SUB", b}, {"", b}, {"MAIN", a}, {"VFOC", a}};
    for (const auto& step : steps) {
        QCOMPARE(call("setVFO", {radio.port, step.first}), QJsonObject({{"Success", "VFO set"}, {"vfo", step.first}}));
        QTRY_COMPARE(call("rigInfo", {radio.port}).value("freq"), step.second);
    }
}

void TestRadio::subscriptions()
{
    QCOMPARE(call("rigInfoSubscribe", {"/dev/none"}), envelope("Error", "Rig not connected"));
    QCOMPARE(call("rigInfoUnsubscribe", {radio.port}), envelope("Error", "not subscribed"));
    QCOMPARE(call("rigInfoSubscribe", {radio.port}), envelope("Success", "subscribed"));
    QCOMPARE(call("rigInfoSubscribe", {radio.port}), envelope("Error", "already subscribed"));
    const double rate = pushRate(*client);
    QVERIFY2(rate >= 3.5 && rate <= 4.5, qPrintable(QString::number(rate)));
    QCOMPARE(client->notifications("RigInfo").last().value("params").toObject().keys(),
             QStringList({"freq", "mode", "port", "ptt", "signal"}));

    // A second subscriber shares the read of each tick.
    std::unique_ptr<RpcClient> other = host->client();
    QCOMPARE(call("rigInfoSubscribe", {radio.port}, other.get()), envelope("Success", "subscribed"));
    QVERIFY(other->waitForNotifications("RigInfo", 1));
    radio.clearCommands();
    QTest::qWait(2000);
    const int reads = meterReads(radio);
    QVERIFY2(reads >= 6 && reads <= 10, qPrintable(QString::number(reads)));
    QCOMPARE(call("rigInfoUnsubscribe", {radio.port}, other.get()), envelope("Success", "unsubscribed"));

    // A client that closes gets nothing more; with nobody left the radio is left alone.
    client->socket.close();
    QVERIFY(client->waitForClosed());
    QVERIFY(!other->settle().isEmpty());
    // A read under way when it left may still be reaching the radio.
    QTest::qWait(300);
    radio.clearCommands();
    QTest::qWait(1000);
    QCOMPARE(meterReads(radio), 0);
}

void TestRadio::twoRadiosEachFourTimesASecond()
{
    QCOMPARE(call("connectRig", {second.port, SimRadio::modelId, "38400"}), envelope("Success", "Rig connected"));
    for (const QString& port : {radio.port, second.port}) {
        QCOMPARE(call("rigInfoSubscribe", {port}), envelope("Success", "subscribed"));
    }
    const double rate = pushRate(*client, 2);
    QVERIFY2(rate >= 3.5 && rate <= 4.5, qPrintable(QString::number(rate)));
    QStringList ports {radio.port, second.port};
    ports.sort();
    QJsonArray described;
    for (const QString& port : ports) {
        described.append(QJsonObject {{"Location", port}, {"ID", 1035}, {"Model", "FT-991"}, {"Brand", "Yaesu"}});
    }
    QCOMPARE(client->call("listConnectedRigs").toArray(), described);
}

void TestRadio::disconnectTellsTheOthers()
{
    std::unique_ptr<RpcClient> other = host->client();
    for (RpcClient* subscriber : {client.get(), other.get()}) {
        QCOMPARE(call("rigInfoSubscribe", {radio.port}, subscriber), envelope("Success", "subscribed"));
    }
    QCOMPARE(call("disconnectRig", {radio.port}), envelope("Success", "Rig disconnected"));
    const QJsonObject notice {{"Error:", radio.port + " disconnected"}};
    const auto told = [&notice](RpcClient& subscriber) {
        const QList<QJsonObject> pushes = subscriber.notifications("RigInfo");
        return std::count_if(pushes.begin(), pushes.end(), [&](const QJsonObject& push) {
            return push.value("params").toObject() == notice;
        });
    };
    QTRY_COMPARE(told(*other), 1L);
    QVERIFY(!other->settle().isEmpty() && told(*client) == 0);
    // A reconnected radio starts without subscribers.
    QCOMPARE(call("connectRig", {radio.port, SimRadio::modelId, "38400"}), envelope("Success", "Rig connected"));
    QCOMPARE(call("rigInfoUnsubscribe", {radio.port}, other.get()), envelope("Error", "not subscribed"));
}

void TestRadio::eachRadio_data()
{
    QTest::addColumn<int>("played");
    QTest::addColumn<int>("model");
    // The readings the model lacks in Hamlib, receiving and transmitting: they read 0 and are named.
    QTest::addColumn<QJsonValue>("missingReceiving");
    QTest::addColumn<QJsonValue>("missingTransmitting");
    const QJsonValue none = QJsonValue::Undefined;
    const QJsonValue signal(QJsonArray {"signal"});
    QTest::newRow("Yaesu FT-991, every reading") << 1035 << 1035 << none << none;
    QTest::newRow("Kenwood TS-480, no raw S-meter") << 2028 << 2028 << signal << none;
    QTest::newRow("Kenwood driven as a TS-570S, no meter at all") << 2028 << 2016 << signal << signal;
    QTest::newRow("Icom IC-7300 over CI-V, every reading") << 3073 << 3073 << none << none;
}

void TestRadio::eachRadio()
{
    QFETCH(int, played);
    QFETCH(int, model);
    QFETCH(QJsonValue, missingReceiving);
    QFETCH(QJsonValue, missingTransmitting);
    SimRadio sim;
    QVERIFY(sim.start({}, played));
    const QString port = sim.port;
    QCOMPARE(call("connectRig", {port, model, "38400"}), envelope("Success", "Rig connected"));
    QCOMPARE(call("setFreq", {port, 7074000}), QJsonObject({{"Success", "Frequency set"}, {"freq", 7074000}}));
    const QJsonObject cw = call("setMode", {port, "CW", 500});
    QCOMPARE(cw.value("Success"), QJsonValue("Mode set"));
    QCOMPARE(cw.value("mode"), QJsonValue("CW"));
    QCOMPARE(call("setMode", {port, "USB", 0}).value("mode"), QJsonValue("USB"));
    QCOMPARE(call("setVFO", {port, "VFOA"}), QJsonObject({{"Success", "VFO set"}, {"vfo", "VFOA"}}));

    // The four keys always, whatever the model can read; what it cannot is 0 and named apart.
    const QJsonObject receiving = call("rigInfo", {port});
    QCOMPARE(receiving.value("freq"), QJsonValue(7074000));
    QCOMPARE(receiving.value("mode"), QJsonValue("USB"));
    QCOMPARE(receiving.value("ptt"), QJsonValue(0));
    QCOMPARE(receiving.value("missing"), missingReceiving);
    QVERIFY2(missingReceiving.isUndefined() ? receiving.value("signal").toInt() > 0
                                            : receiving.value("signal") == QJsonValue(0),
             QJsonDocument(receiving).toJson());
    QCOMPARE(call("setPTT", {port, 1}), QJsonObject({{"Success", "PTT set"}, {"ptt", 1}}));
    const QJsonObject transmitting = call("rigInfo", {port});
    QCOMPARE(transmitting.value("ptt"), QJsonValue(1));
    QCOMPARE(transmitting.value("missing"), missingTransmitting);
    const double alc = transmitting.value("signal").toDouble(-1);
    QVERIFY2(missingTransmitting.isUndefined() ? alc > 0 : alc == 0, QJsonDocument(transmitting).toJson());
    QCOMPARE(call("setPTT", {port, 0}).value("ptt"), QJsonValue(0));

    QCOMPARE(call("rigInfoSubscribe", {port}), envelope("Success", "subscribed"));
    QVERIFY(client->waitForNotifications("RigInfo", 1));
    QJsonObject pushed = client->notifications("RigInfo").first().value("params").toObject();
    QCOMPARE(pushed.take("port"), QJsonValue(port));
    QCOMPARE(pushed.keys(), receiving.keys());
    QVERIFY2(pushed.value("freq") == receiving.value("freq"), QJsonDocument(pushed).toJson());

    QCOMPARE(call("disconnectRig", {port}), envelope("Success", "Rig disconnected"));
}

void TestRadio::otherRadioKeepsItsPace_data()
{
    QTest::addColumn<QString>("trouble");
    QTest::newRow("radio falls silent") << "silent";
    QTest::newRow("a radio switched off is being connected") << "connecting";
    QTest::newRow("radio's host killed") << "killed";
    QTest::newRow("radio flooded with requests") << "flooded";
}

void TestRadio::otherRadioKeepsItsPace()
{
    QFETCH(QString, trouble);
    std::unique_ptr<RpcClient> watcher = host->client();
    QCOMPARE(call("rigInfoSubscribe", {second.port}, watcher.get()), envelope("Success", "subscribed"));
    QCOMPARE(call("rigInfoSubscribe", {radio.port}), envelope("Success", "subscribed"));
    QVERIFY(watcher->waitForNotifications("RigInfo", 1) && client->waitForNotifications("RigInfo", 1));
    const auto statuses = [&watcher] {
        const QList<QJsonObject> all = watcher->notifications("RigInfo");
        return std::count_if(all.begin(), all.end(), [](const QJsonObject& push) {
            return push.value("params").toObject().contains("freq");
        });
    };
    const long before = statuses();
    QElapsedTimer clock;
    clock.start();
    SimRadio off;
    if (trouble == "silent") {
        radio.setAnswering(false);
    } else if (trouble == "connecting") {
        QVERIFY(off.start());
        off.setAnswering(false);
        client->request("connectRig", QJsonArray {off.port, SimRadio::modelId, "38400"});
    } else if (trouble == "killed") {
        QCOMPARE(radio.hosts().size(), 1);
        QCOMPARE(::kill(radio.hosts().first(), SIGKILL), 0);
    } else {
        for (int i = 0; i < 400; ++i) {
            client->send(QStringLiteral(R"({"jsonrpc":"2.0","method":"setFreq","params":["%1",%2]})")
                             .arg(radio.port)
                             .arg(7000000 + i * 10));
        }
    }
    // From the moment the trouble starts, not from its first error push.
    qint64 slowest = 0;
    while (clock.elapsed() < 3000) {
        QElapsedTimer asked;
        asked.start();
        QVERIFY(call("rigInfo", {second.port}, watcher.get()).contains("freq"));
        slowest = qMax(slowest, asked.elapsed());
        QTest::qWait(300);
    }
    const double rate = (statuses() - before) * 1000.0 / clock.elapsed();
    QVERIFY2(rate >= 3.5, qPrintable(QString::number(rate)));
    QVERIFY2(slowest < 500, qPrintable(QString::number(slowest)));

    if (trouble == "silent") {
        radio.setAnswering(true);
    } else if (trouble == "connecting") {
        // Unplugged, the radio that never answered gives up at once.
        off.process.kill();
        QTRY_VERIFY_WITH_TIMEOUT(client->messages.join(' ').contains("Cannot connect rig"), 10000);
        QCOMPARE(off.hosts(), QList<int>());
    } else if (trouble == "killed") {
        const QRegularExpression ended(QStringLiteral(R"(\]: Rig %1: its host ended: killed by a signal$)")
                                           .arg(QRegularExpression::escape(radio.port)));
        QCOMPARE(host->log.lines(ended).size(), 1);
        QVERIFY(client->notifications("RigInfo").contains(
            QJsonObject {{"jsonrpc", "2.0"},
                         {"method", "RigInfo"},
                         {"params", QJsonObject {{"Error", "IO error"}, {"port", radio.port}}}}));
    }
    // The radio in trouble is served again, by a host of its own.
    QTRY_VERIFY_WITH_TIMEOUT(call("rigInfo", {radio.port}).contains("freq"), 30000);
    QCOMPARE(radio.hosts().size(), 1);
    QCOMPARE(call("rigInfoUnsubscribe", {radio.port}), envelope("Success", "unsubscribed"));
}

void TestRadio::pipelinedAfterConnect()
{
    // Sent without waiting for the connection: the requests behind it run once it is made.
    SimRadio fresh;
    QVERIFY(fresh.start());
    const QString request = R"({"jsonrpc":"2.0","id":%1,"method":"%2","params":%3})";
    const QString port = QJsonDocument(QJsonArray {fresh.port}).toJson(QJsonDocument::Compact);
    const QString connect = QStringLiteral(R"(["%1",%2,"38400"])").arg(fresh.port).arg(1035);
    client->send(request.arg(901).arg("connectRig", connect) + request.arg(902).arg("connectRig", connect)
                 + request.arg(903).arg("rigInfoSubscribe", port) + request.arg(904).arg("rigInfo", port));
    QTRY_COMPARE(client->messages.filter(R"("id": "90)").size(), 4);
    QStringList answers;
    for (const QString& message : client->messages.filter(R"("id": "90)")) {
        const QJsonObject answer = QJsonDocument::fromJson(message.toUtf8()).object();
        const QJsonObject result = answer.value("result").toObject();
        answers << answer.value("id").toString() + " " + result.value("Success").toString()
                + QString::number(result.value("freq").toDouble(), 'f', 0);
    }
    QCOMPARE(
        answers,
        QStringList({"901 Rig connected0", "902 Serial port already connected0", "903 subscribed0", "904 14074000"}));
    QCOMPARE(call("disconnectRig", {fresh.port}), envelope("Success", "Rig disconnected"));
}

void TestRadio::boundedQueueAndDisconnect()
{
    SimRadio stuck;
    QVERIFY(stuck.start());
    QCOMPARE(call("connectRig", {stuck.port, SimRadio::modelId, "38400"}), envelope("Success", "Rig connected"));
    stuck.setAnswering(false);
    QList<int> ids;
    for (int i = 0; i < 300; ++i) {
        ids << client->request("rigInfo", QJsonArray {stuck.port});
    }
    // One is with the radio, 256 wait: the rest are refused at once, with one log line.
    const QJsonObject busy = envelope("Error", "Rig busy: too many requests are waiting for it");
    QTRY_COMPARE(client->messages.size(), 300 - 257);
    for (int id : ids.mid(257)) {
        QCOMPARE(client->response(id, 0).value("result").toObject(), busy);
    }
    QCOMPARE(host->log
                 .lines(QRegularExpression(QRegularExpression::escape(stuck.port)
                                           + " busy: 256 requests wait for it, refusing more$"))
                 .size(),
             1);

    // What waits is answered at once, the read under way gets the silent radio's own answer, then the disconnection.
    const int disconnect = client->request("disconnectRig", QJsonArray {stuck.port});
    for (int id : ids.mid(1, 256)) {
        QCOMPARE(client->response(id, 1000).value("result").toObject(), envelope("Error", "Rig not connected"));
    }
    QCOMPARE(client->response(ids.first(), 5000).value("result").toObject(),
             envelope("Error", "Communication timed out"));
    QCOMPARE(client->response(disconnect, 1000).value("result").toObject(), envelope("Success", "Rig disconnected"));
    QTRY_COMPARE(stuck.hosts(), QList<int>());
}

void TestRadio::unpluggedAndPluggedBack()
{
    QTemporaryDir folder;
    const QString port = folder.filePath("ttyUSB0");
    SimRadio unplugged;
    QVERIFY(unplugged.start(port));
    QCOMPARE(call("connectRig", {port, SimRadio::modelId, "38400"}), envelope("Success", "Rig connected"));
    const QRegularExpression destroyed(R"(\[~KrRig:\d+\]: KrRig distrutto$)");
    const int before = host->log.lines(destroyed).size();
    unplugged.process.kill();
    QCOMPARE(unplugged.waitForExit(), -1);
    QVERIFY(call("rigInfo", {port}).value("Error").isString());
    QVERIFY(client->call("listConnectedRigs")
                .toArray()
                .contains(QJsonObject {{"Location", port}, {"ID", 1035}, {"Model", "FT-991"}, {"Brand", "Yaesu"}}));
    // Back, but not yet to be opened (as before udev has set its permissions): a reopen fails, and later
    // ones are still tried.
    QVERIFY(QFile::remove(port) && QDir().mkdir(port));
    QCOMPARE(call("rigInfo", {port}), envelope("Error", "IO error"));
    QVERIFY(QDir().rmdir(port));
    // The adapter comes back under the same name: the radio resumes without a new connectRig.
    SimRadio pluggedBack;
    QVERIFY(pluggedBack.start(port));
    QTRY_VERIFY_WITH_TIMEOUT(call("rigInfo", {port}).contains("freq"), 20000);
    // Gone again, it is still disconnected cleanly, though Hamlib cannot close a port that is not there.
    pluggedBack.process.kill();
    QCOMPARE(pluggedBack.waitForExit(), -1);
    QVERIFY(call("rigInfo", {port}).value("Error").isString());
    QCOMPARE(call("disconnectRig", {port}), envelope("Success", "Rig disconnected"));
    QTRY_COMPARE(host->log.lines(destroyed).size(), before + 1);
}

QTEST_GUILESS_MAIN(TestRadio)
#include "tst_radio.moc"
