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
    void statusMap();
    void subscriptions();
    void twoRadiosEachFourTimesASecond();
    void disconnectTellsTheOthers();
    void silentRadio();
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
    QTemporaryDir folder;
    const QString link = folder.filePath("radio");
    QVERIFY(QFile::link(radio.port, link));
    const QString dotted = QFileInfo(radio.port).path() + "/../" + QFileInfo(radio.port).dir().dirName() + "/"
        + QFileInfo(radio.port).fileName();
    // In order: the refusals come before anything is opened, the first connect wins, under any name.
    const QList<QPair<QJsonArray, QJsonObject>> steps {
        {{radio.port, 999999, "38400"}, envelope("Error", "Rig model not supported")},
        {{missing, SimRadio::modelId, "38400"}, envelope("Error", "Cannot connect rig")},
        {{radio.port, SimRadio::modelId, "38400"}, envelope("Success", "Rig connected")},
        {{radio.port, 2014, "38400"}, envelope("Success", "Serial port already connected")},
        {{link, SimRadio::modelId, "38400"}, envelope("Success", "Serial port already connected")},
        {{dotted, SimRadio::modelId, "38400"}, envelope("Success", "Serial port already connected")},
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

void TestRadio::statusMap()
{
    const QJsonObject receiving = call("rigInfo", {radio.port});
    QCOMPARE(receiving.keys(), QStringList({"freq", "mode", "ptt", "signal"}));
    QCOMPARE(receiving.value("ptt"), QJsonValue(0));
    QCOMPARE(receiving.value("signal"), QJsonValue(120));
    QCOMPARE(call("setPTT", {radio.port, 1}).value("ptt"), QJsonValue(1));
    // While transmitting the meter is the ALC, a fraction.
    const double alc = call("rigInfo", {radio.port}).value("signal").toDouble();
    QVERIFY2(alc > 0 && alc < 1, qPrintable(QString::number(alc)));
    QCOMPARE(call("setPTT", {radio.port, 0}).value("ptt"), QJsonValue(0));
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
             QStringList({"freq", "mode", "ptt", "signal"}));

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

void TestRadio::silentRadio()
{
    std::unique_ptr<RpcClient> other = host->client();
    for (const QString& port : {radio.port, second.port}) {
        QCOMPARE(call("rigInfoSubscribe", {port}), envelope("Success", "subscribed"));
    }
    QVERIFY(client->waitForNotifications("RigInfo", 2));
    radio.setAnswering(false);
    const auto pushes = [this](const char* key) {
        const QList<QJsonObject> all = client->notifications("RigInfo");
        return std::count_if(all.begin(), all.end(), [key](const QJsonObject& push) {
            return push.value("params").toObject().contains(key);
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(pushes("Error") > 0, 30000);
    // Nobody else waits for it: an unrelated request is answered at once, the other radio keeps its pace.
    QElapsedTimer clock;
    clock.start();
    const QJsonObject info = other->call("ovInfo", QJsonValue::Undefined, 10000).toObject();
    const qint64 waited = clock.elapsed();
    QCOMPARE(info.size(), 2);
    QVERIFY2(waited < 1000, qPrintable(QString::number(waited)));
    const long before = pushes("freq");
    QTest::qWait(4000);
    const double rate = (pushes("freq") - before) / 4.0;
    QVERIFY2(rate >= 3.5, qPrintable(QString::number(rate)));
    radio.setAnswering(true);
    QTRY_VERIFY_WITH_TIMEOUT(call("rigInfo", {radio.port}).contains("freq"), 30000);
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
