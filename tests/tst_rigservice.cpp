#include "RigService.h"
#include "RigStation.h"
#include "StdoutCapture.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTest>

#include <hamlib/rig.h>

#include <memory>

namespace {

const QString ptt_range_error = QStringLiteral("Invalid PTT value (0=OFF, 1=ON, 2=MIC, 3=ACC)");

QJsonObject envelope(const QString& key, const QString& text)
{
    return {{key, text}};
}

QJsonObject success(const QString& text, QJsonObject entries = {})
{
    entries.insert(QStringLiteral("Success"), text);
    return entries;
}

QJsonObject error(const QString& text)
{
    return envelope(QStringLiteral("Error"), text);
}

// Replaces the texts "@port" in the parameters by the radio's port text.
QJsonArray withPort(const QJsonArray& params, const QString& port)
{
    QJsonArray filled;
    for (const QJsonValue& value : params) {
        filled.append(value == QJsonValue(QStringLiteral("@port")) ? QJsonValue(port) : value);
    }
    return filled;
}

int hamlibModelsMadeBy(bool byHamlib, QSet<uint>* ids)
{
    struct Walk
    {
        bool byHamlib;
        QSet<uint>* ids;
    } walk {byHamlib, ids};
    rig_list_foreach(
        [](const rig_caps* caps, rig_ptr_t data) {
            auto* w = static_cast<Walk*>(data);
            if (QString::fromUtf8(caps->mfg_name).contains(QLatin1String("Hamlib")) == w->byHamlib) {
                w->ids->insert(uint(caps->rig_model));
            }
            return 1;
        },
        &walk);
    return ids->size();
}

} // namespace

class TestRigService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void catalogue();
    void serialPorts();
    void connectRig_data();
    void connectRig();
    void connectSilentRadio();
    void nullTextsAreInvalidParams_data();
    void nullTextsAreInvalidParams();
    void refusals_data();
    void refusals();
    void setFreq_data();
    void setFreq();
    void setMode_data();
    void setMode();
    void negativePassbandAsksForTheNormalOne();
    void setPTT_data();
    void setPTT();
    void setVFO_data();
    void setVFO();
    void connectedRigsInPortOrder();
    void vanishedPortCanBeDisconnected();

private:
    std::unique_ptr<RigStation> station;
    std::unique_ptr<RpcClient> client;
    // Its UDP thread lives as long as the process, as in the program: one for the whole run.
    std::unique_ptr<RigService> inProcess;
};

void TestRigService::initTestCase()
{
    rig_set_debug(RIG_DEBUG_NONE);
    rig_load_all_backends();
}

void TestRigService::init()
{
    station = std::make_unique<RigStation>();
    QVERIFY2(station->start(), qPrintable(station->radio.errorString()));
    client = station->newClient();
    QVERIFY(client);
}

void TestRigService::cleanup()
{
    client.reset();
    station.reset();
}

void TestRigService::catalogue()
{
    const QJsonArray models = client->result(QStringLiteral("listRig")).toArray();
    QSet<uint> hamlibMade;
    QSet<uint> others;
    QVERIFY(hamlibModelsMadeBy(true, &hamlibMade) > 0);
    QCOMPARE(models.size(), hamlibModelsMadeBy(false, &others));

    QSet<uint> listed;
    QString previousBrand;
    QString previousModel;
    for (const QJsonValue& value : models) {
        const QJsonObject model = value.toObject();
        QCOMPARE(model.keys(), QStringList({"Brand", "ID", "Model"}));
        const QString brand = model.value(QStringLiteral("Brand")).toString();
        const QString name = model.value(QStringLiteral("Model")).toString();
        QVERIFY2(!brand.contains(QLatin1String("Hamlib")), qPrintable(brand));
        // Code-unit order: capitals sort before every lower-case letter.
        QVERIFY2(previousBrand < brand || (previousBrand == brand && !(name < previousModel)),
                 qPrintable(QStringLiteral("%1 %2 after %3 %4").arg(brand, name, previousBrand, previousModel)));
        previousBrand = brand;
        previousModel = name;
        listed.insert(uint(model.value(QStringLiteral("ID")).toDouble()));
    }
    QCOMPARE(listed, others);
    QVERIFY(listed.contains(RigSimulator::modelId));
    QVERIFY(!listed.intersects(hamlibMade));

    const QRegularExpression threadLine(QStringLiteral(R"(\]\[listRig:\d+\]: Thread id: \d+$)"));
    QVERIFY(!station->orvessa.waitForLine(threadLine).isNull());
}

void TestRigService::serialPorts()
{
    const QJsonArray ports = client->result(QStringLiteral("listUSB")).toArray();
    const QList<QSerialPortInfo> available = QSerialPortInfo::availablePorts();
    QCOMPARE(ports.size(), available.size());
    for (int i = 0; i < ports.size(); ++i) {
        const QJsonObject port = ports.at(i).toObject();
        QCOMPARE(port.keys(), QStringList({"Brand", "Location", "Model", "Name", "Serial"}));
        QCOMPARE(port.value(QStringLiteral("Name")).toString(), available.at(i).portName());
        QCOMPARE(port.value(QStringLiteral("Location")).toString(), available.at(i).systemLocation());
    }
    // One eight-line detail block per port.
    QTRY_COMPARE(station->linesFrom(0, QRegularExpression(QStringLiteral(R"(\]\[logUSBInfo:\d+\]: Port: )"))).size(),
                 available.size());
}

void TestRigService::connectRig_data()
{
    QTest::addColumn<bool>("connectedBefore");
    QTest::addColumn<QString>("port");
    QTest::addColumn<uint>("model");
    QTest::addColumn<QJsonObject>("reply");
    QTest::addColumn<bool>("attempted");

    const QJsonObject connected = success(QStringLiteral("Rig connected"));
    const QJsonObject already = success(QStringLiteral("Serial port already connected"));
    const QJsonObject unsupported = error(QStringLiteral("Rig model not supported"));
    const QJsonObject cannot = error(QStringLiteral("Cannot connect rig"));
    const uint ft991 = RigSimulator::modelId;
    const uint hamlibDummy = RIG_MODEL_DUMMY;
    const uint ts590s = 2031;

    QTest::newRow("radio on its port") << false << "@port" << ft991 << connected << true;
    QTest::newRow("same port again") << true << "@port" << ft991 << already << false;
    QTest::newRow("same port with another model") << true << "@port" << ts590s << already << false;
    QTest::newRow("model made by Hamlib") << false << "@port" << hamlibDummy << unsupported << false;
    QTest::newRow("model made by Hamlib on a connected port") << true << "@port" << hamlibDummy << unsupported << false;
    QTest::newRow("model number nobody has") << false << "@port" << 999999u << unsupported << false;
    QTest::newRow("port that does not exist") << false << "/nonexistent/ttyUSB9" << ft991 << cannot << true;
    QTest::newRow("empty port text") << false << "" << ft991 << cannot << true;
}

void TestRigService::connectRig()
{
    QFETCH(bool, connectedBefore);
    QFETCH(QString, port);
    QFETCH(uint, model);
    QFETCH(QJsonObject, reply);
    QFETCH(bool, attempted);
    const QString radioPort = station->radio.portName();
    if (port == QLatin1String("@port")) {
        port = radioPort;
    }
    if (connectedBefore) {
        QCOMPARE(RigStation::connectRadio(*client, radioPort), success(QStringLiteral("Rig connected")));
    }
    const QJsonArray rigsBefore = RigStation::connectedRigs(*client);
    const int from = station->orvessa.lines().size();

    QCOMPARE(RigStation::call(*client, QStringLiteral("connectRig"), {port, int(model), QStringLiteral("38400")}),
             reply);

    const QJsonArray rigsAfter = RigStation::connectedRigs(*client);
    if (reply.value(QStringLiteral("Success")) == QLatin1String("Rig connected")) {
        QCOMPARE(rigsAfter.size(), 1);
        QCOMPARE(rigsAfter.at(0).toObject(),
                 QJsonObject({{"Location", radioPort}, {"ID", int(model)}, {"Model", "FT-991"}, {"Brand", "Yaesu"}}));
    } else {
        // Whatever the refusal, the rig already there keeps its model.
        QCOMPARE(rigsAfter, rigsBefore);
    }

    const QRegularExpression opening(QStringLiteral(R"(\]\[connectRig:\d+\]: Openeing rig (.*) 38400$)"));
    const QRegularExpression destroyed(QStringLiteral(R"(\]\[~KrRig:\d+\]: KrRig distrutto$)"));
    QCOMPARE(station->linesFrom(from, opening).size(), attempted ? 1 : 0);
    if (reply.contains(QStringLiteral("Error")) && attempted) {
        QVERIFY(!station->orvessa.waitForLine(destroyed, 5000, from).isNull());
        // Hamlib's own account of the failure is in the log, under connectRig, after the attempt.
        const QStringList after = station->linesFrom(
            from, QRegularExpression(QStringLiteral(R"(\]\[connectRig:\d+\]: |\]\[~KrRig:\d+\]: )")));
        QCOMPARE(after.size(), 4);
        QVERIFY(after.at(0).contains(QLatin1String("IP: 127.0.0.1")));
        QVERIFY(opening.match(after.at(1)).hasMatch());
        // Hamlib's message, whatever its wording: neither the probe's "Freq" nor an empty line.
        QVERIFY2(!after.at(2).endsWith(QLatin1String("]: Freq")) && !after.at(2).endsWith(QLatin1String("]: ")),
                 qPrintable(after.at(2)));
        QVERIFY(destroyed.match(after.at(3)).hasMatch());
    } else {
        QCOMPARE(station->linesFrom(from, destroyed).size(), 0);
    }
}

void TestRigService::connectSilentRadio()
{
    station->radio.setAnswering(false);
    const int from = station->orvessa.lines().size();
    QCOMPARE(RigStation::connectRadio(*client, station->radio.portName()), error(QStringLiteral("Cannot connect rig")));
    QVERIFY(station->radio.commandCount() > 0);
    QVERIFY(!station->orvessa
                 .waitForLine(QRegularExpression(QStringLiteral(R"(\]\[~KrRig:\d+\]: KrRig distrutto$)")), 5000, from)
                 .isNull());
    QCOMPARE(RigStation::connectedRigs(*client), QJsonArray());

    // The port is free for the next attempt, once the radio speaks again.
    station->radio.setAnswering(true);
    QCOMPARE(RigStation::connectRadio(*client, station->radio.portName()), success(QStringLiteral("Rig connected")));
}

void TestRigService::nullTextsAreInvalidParams_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("nullAt");

    QTest::newRow("connectRig without port") << "connectRig" << 0;
    QTest::newRow("connectRig without speed") << "connectRig" << 1;
    QTest::newRow("disconnectRig") << "disconnectRig" << 0;
    QTest::newRow("rigInfo") << "rigInfo" << 0;
    QTest::newRow("rigInfoSubscribe") << "rigInfoSubscribe" << 0;
    QTest::newRow("rigInfoUnsubscribe") << "rigInfoUnsubscribe" << 0;
    QTest::newRow("setFreq") << "setFreq" << 0;
    QTest::newRow("setMode without port") << "setMode" << 0;
    QTest::newRow("setMode without mode") << "setMode" << 1;
    QTest::newRow("setPTT, before the PTT range") << "setPTT" << 0;
    QTest::newRow("setVFO without port") << "setVFO" << 0;
    QTest::newRow("setVFO without VFO") << "setVFO" << 1;
}

void TestRigService::nullTextsAreInvalidParams()
{
    // JSON has no null text (the dispatcher refuses a null argument), so the service is called in this process.
    // A missing check would answer "Rig not connected" or try the radio instead.
    QFETCH(QString, method);
    QFETCH(int, nullAt);
    if (!inProcess) {
        inProcess = std::make_unique<RigService>();
    }
    QString texts[2] = {station->radio.portName(), QStringLiteral("USB")};
    texts[nullAt] = QString();
    QVariantMap reply;
    if (method == "connectRig") {
        reply = inProcess->connectRig(texts[0], RigSimulator::modelId, texts[1]);
    } else if (method == "disconnectRig") {
        reply = inProcess->disconnectRig(texts[0]);
    } else if (method == "rigInfo") {
        reply = inProcess->rigInfo(texts[0]);
    } else if (method == "rigInfoSubscribe") {
        reply = inProcess->rigInfoSubscribe(texts[0]);
    } else if (method == "rigInfoUnsubscribe") {
        reply = inProcess->rigInfoUnsubscribe(texts[0]);
    } else if (method == "setFreq") {
        reply = inProcess->setFreq(texts[0], 7000000);
    } else if (method == "setMode") {
        reply = inProcess->setMode(texts[0], texts[1], 0);
    } else if (method == "setPTT") {
        reply = inProcess->setPTT(texts[0], 7);
    } else if (method == "setVFO") {
        reply = inProcess->setVFO(texts[0], texts[1]);
    }
    QCOMPARE(reply, QVariantMap({{"Error", "Invalid params"}}));
    QCOMPARE(station->radio.commandCount(), 0);
    QVERIFY(inProcess->listConnectedRigs().isEmpty());
}

void TestRigService::refusals_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QJsonArray>("params");
    QTest::addColumn<QString>("text");

    const QString notConnected = QStringLiteral("Rig not connected");
    QTest::newRow("PTT -1 before the rig lookup") << false << "setPTT" << QJsonArray {"@port", -1} << ptt_range_error;
    QTest::newRow("PTT 4 before the rig lookup") << false << "setPTT" << QJsonArray {"@port", 4} << ptt_range_error;
    QTest::newRow("PTT 4 on a connected rig") << true << "setPTT" << QJsonArray {"@port", 4} << ptt_range_error;
    QTest::newRow("PTT 0 on no rig") << false << "setPTT" << QJsonArray {"@port", 0} << notConnected;
    QTest::newRow("unknown mode on no rig") << false << "setMode" << QJsonArray {"@port", "BOGUS", 0} << notConnected;
    QTest::newRow("unknown mode on a connected rig")
        << true << "setMode" << QJsonArray {"@port", "BOGUS", 0} << QStringLiteral("Invalid mode");
    QTest::newRow("mode names are upper case")
        << true << "setMode" << QJsonArray {"@port", "usb", 0} << QStringLiteral("Invalid mode");
    QTest::newRow("port text in other case") << true << "setFreq" << QJsonArray {"@PORT", 7000000} << notConnected;
    QTest::newRow("setFreq on no rig") << false << "setFreq" << QJsonArray {"@port", 7000000} << notConnected;
    QTest::newRow("setVFO on no rig") << false << "setVFO" << QJsonArray {"@port", "VFOA"} << notConnected;
    QTest::newRow("rigInfo on no rig") << false << "rigInfo" << QJsonArray {"@port"} << notConnected;
    QTest::newRow("rigInfo on another case") << true << "rigInfo" << QJsonArray {"@PORT"} << notConnected;
    QTest::newRow("subscribe to no rig") << false << "rigInfoSubscribe" << QJsonArray {"@port"} << notConnected;
    QTest::newRow("unsubscribe from no rig") << false << "rigInfoUnsubscribe" << QJsonArray {"@port"} << notConnected;
    QTest::newRow("unsubscribe without subscribing")
        << true << "rigInfoUnsubscribe" << QJsonArray {"@port"} << QStringLiteral("not subscribed");
    QTest::newRow("disconnect no rig") << false << "disconnectRig" << QJsonArray {"@port"} << notConnected;
}

void TestRigService::refusals()
{
    QFETCH(bool, connected);
    QFETCH(QString, method);
    QFETCH(QJsonArray, params);
    QFETCH(QString, text);
    const QString port = station->radio.portName();
    if (connected) {
        QCOMPARE(RigStation::connectRadio(*client, port), success(QStringLiteral("Rig connected")));
    }
    station->radio.resetCommandCount();
    QJsonArray filled = withPort(params, port);
    if (filled.at(0) == QJsonValue(QStringLiteral("@PORT"))) {
        filled.replace(0, port.toUpper());
    }

    QCOMPARE(RigStation::call(*client, method, filled), error(text));
    QCOMPARE(station->radio.commandCount(), 0);
    QCOMPARE(RigStation::connectedRigs(*client).size(), connected ? 1 : 0);
}

void TestRigService::setFreq_data()
{
    QTest::addColumn<double>("requested");
    QTest::addColumn<qint64>("tuned");

    QTest::newRow("40 m") << 7100000.0 << qint64(7100000);
    QTest::newRow("2 m") << 145500000.0 << qint64(145500000);
    QTest::newRow("lowest the radio takes") << 30000.0 << qint64(30000);
}

void TestRigService::setFreq()
{
    QFETCH(double, requested);
    QFETCH(qint64, tuned);
    const QString port = station->radio.portName();
    QCOMPARE(RigStation::connectRadio(*client, port), success(QStringLiteral("Rig connected")));
    QCOMPARE(RigStation::call(*client, QStringLiteral("setFreq"), {port, requested}),
             success(QStringLiteral("Frequency set"), {{"freq", double(tuned)}}));
    QCOMPARE(station->radio.withRadio([](Ft991Protocol& radio) { return radio.frequency(0); }), tuned);
    QCOMPARE(RigStation::call(*client, QStringLiteral("rigInfo"), {port}).value(QStringLiteral("freq")).toDouble(),
             double(tuned));
}

void TestRigService::setMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("passband");
    QTest::addColumn<char>("wire");
    QTest::addColumn<int>("width");

    QTest::newRow("CW narrow") << "CW" << 500 << '3' << 500;
    QTest::newRow("LSB wide") << "LSB" << 3000 << '1' << 3000;
    QTest::newRow("packet on USB") << "PKTUSB" << 2400 << 'C' << 2400;
    QTest::newRow("FM") << "FM" << 0 << '4' << -1;
    QTest::newRow("AM with no passband") << "AM" << -1 << '5' << -1;
}

void TestRigService::setMode()
{
    QFETCH(QString, mode);
    QFETCH(int, passband);
    QFETCH(char, wire);
    QFETCH(int, width);
    const QString port = station->radio.portName();
    QCOMPARE(RigStation::connectRadio(*client, port), success(QStringLiteral("Rig connected")));

    const QJsonObject reply = RigStation::call(*client, QStringLiteral("setMode"), {port, mode, passband});
    QCOMPARE(reply.value(QStringLiteral("Success")).toString(), QStringLiteral("Mode set"));
    QCOMPARE(reply.value(QStringLiteral("mode")).toString(), mode);
    QCOMPARE(reply.size(), 3);
    if (width >= 0) {
        QCOMPARE(reply.value(QStringLiteral("passband")).toInt(), width);
    } else {
        QVERIFY(reply.value(QStringLiteral("passband")).isDouble());
    }
    QCOMPARE(station->radio.withRadio([](Ft991Protocol& radio) { return radio.mode(); }), wire);
    QCOMPARE(RigStation::call(*client, QStringLiteral("rigInfo"), {port}).value(QStringLiteral("mode")).toString(),
             mode);
}

void TestRigService::negativePassbandAsksForTheNormalOne()
{
    const QString port = station->radio.portName();
    QCOMPARE(RigStation::connectRadio(*client, port), success(QStringLiteral("Rig connected")));
    const auto filterOnRadio = [this] {
        return station->radio.withRadio(
            [](Ft991Protocol& radio) { return qMakePair(radio.widthIndex(), radio.narrow()); });
    };
    const auto usbAfterNarrowCw = [&](int passband) {
        RigStation::call(*client, QStringLiteral("setMode"), {port, "CW", 500});
        RigStation::call(*client, QStringLiteral("setMode"), {port, "USB", passband});
        return filterOnRadio();
    };

    const auto normal = usbAfterNarrowCw(0);
    RigStation::call(*client, QStringLiteral("setMode"), {port, "CW", 500});
    const auto narrowCw = filterOnRadio();
    QVERIFY(normal != narrowCw);
    // -1 is Hamlib's "leave the filter as it is"; the service asks for the mode's normal filter instead.
    QCOMPARE(usbAfterNarrowCw(-1), normal);
    QCOMPARE(usbAfterNarrowCw(-3000), normal);
}

void TestRigService::setPTT_data()
{
    QTest::addColumn<int>("ptt");
    QTest::newRow("off") << 0;
    QTest::newRow("on") << 1;
    QTest::newRow("on from the microphone") << 2;
    QTest::newRow("on from the data input") << 3;
}

void TestRigService::setPTT()
{
    QFETCH(int, ptt);
    const QString port = station->radio.portName();
    QCOMPARE(RigStation::connectRadio(*client, port), success(QStringLiteral("Rig connected")));
    // Start from the other state, so that every row changes the radio.
    RigStation::call(*client, QStringLiteral("setPTT"), {port, ptt ? 0 : 1});

    const QJsonObject reply = RigStation::call(*client, QStringLiteral("setPTT"), {port, ptt});
    QCOMPARE(reply.value(QStringLiteral("Success")).toString(), QStringLiteral("PTT set"));
    QCOMPARE(reply.size(), 2);
    const QJsonValue readBack = reply.value(QStringLiteral("ptt"));
    QVERIFY(readBack.isDouble());
    // This radio has one transmit switch: every "on" reads back as some "on".
    QCOMPARE(readBack.toInt() != 0, ptt != 0);
    QVERIFY(readBack.toInt() >= 0 && readBack.toInt() <= 3);
    QCOMPARE(station->radio.withRadio([](Ft991Protocol& radio) { return radio.transmitting(); }), ptt != 0);
}

void TestRigService::setVFO_data()
{
    // Hamlib keeps this radio's current VFO itself; what shows is the frequency of the VFO in use.
    QTest::addColumn<QString>("vfo");
    QTest::addColumn<QString>("before");
    QTest::addColumn<double>("frequency");

    const double a = 14074000;
    const double b = 7074000;
    QTest::newRow("VFOB") << "VFOB"
                          << "VFOA" << b;
    QTest::newRow("VFOA") << "VFOA"
                          << "VFOB" << a;
    QTest::newRow("SUB acts as B") << "SUB"
                                   << "VFOA" << b;
    QTest::newRow("MAIN acts as A") << "MAIN"
                                    << "VFOB" << a;
    QTest::newRow("lower case is the current VFO") << "vfoa"
                                                   << "VFOB" << b;
    QTest::newRow("empty text is the current VFO") << ""
                                                   << "VFOB" << b;
    QTest::newRow("unknown text is the current VFO") << "VFOC"
                                                     << "VFOA" << a;
}

void TestRigService::setVFO()
{
    QFETCH(QString, vfo);
    QFETCH(QString, before);
    QFETCH(double, frequency);
    const QString port = station->radio.portName();
    QCOMPARE(RigStation::connectRadio(*client, port), success(QStringLiteral("Rig connected")));
    QCOMPARE(RigStation::call(*client, QStringLiteral("setVFO"), {port, before}),
             success(QStringLiteral("VFO set"), {{"vfo", before}}));

    QCOMPARE(RigStation::call(*client, QStringLiteral("setVFO"), {port, vfo}),
             success(QStringLiteral("VFO set"), {{"vfo", vfo}}));
    QCOMPARE(RigStation::call(*client, QStringLiteral("rigInfo"), {port}).value(QStringLiteral("freq")).toDouble(),
             frequency);
}

void TestRigService::connectedRigsInPortOrder()
{
    RigSimulator second;
    QVERIFY2(second.isOpen(), qPrintable(second.errorString()));
    QTemporaryDir folder;
    const QString usb0 = folder.filePath(QStringLiteral("ttyUSB0"));
    const QString usb1 = folder.filePath(QStringLiteral("ttyUSB1"));
    QVERIFY(QFile::link(station->radio.portName(), usb0));
    QVERIFY(QFile::link(second.portName(), usb1));

    QCOMPARE(RigStation::connectRadio(*client, usb1), success(QStringLiteral("Rig connected")));
    QCOMPARE(RigStation::connectRadio(*client, usb0), success(QStringLiteral("Rig connected")));
    const QJsonObject ft991 {{"ID", int(RigSimulator::modelId)}, {"Model", "FT-991"}, {"Brand", "Yaesu"}};
    QJsonObject first = ft991;
    first.insert(QStringLiteral("Location"), usb0);
    QJsonObject last = ft991;
    last.insert(QStringLiteral("Location"), usb1);
    QCOMPARE(RigStation::connectedRigs(*client), QJsonArray({first, last}));

    // Each port drives its own radio.
    QCOMPARE(RigStation::call(*client, QStringLiteral("setFreq"), {usb1, 21074000}).size(), 2);
    QCOMPARE(second.withRadio([](Ft991Protocol& radio) { return radio.frequency(0); }), qint64(21074000));
    QCOMPARE(station->radio.withRadio([](Ft991Protocol& radio) { return radio.frequency(0); }), qint64(14074000));

    QCOMPARE(RigStation::call(*client, QStringLiteral("disconnectRig"), {usb0}),
             success(QStringLiteral("Rig disconnected")));
    QCOMPARE(RigStation::connectedRigs(*client), QJsonArray({last}));
}

void TestRigService::vanishedPortCanBeDisconnected()
{
    const QString port = station->radio.portName();
    QCOMPARE(RigStation::connectRadio(*client, port), success(QStringLiteral("Rig connected")));
    station->radio.vanish();

    const QJsonObject status = RigStation::call(*client, QStringLiteral("rigInfo"), {port});
    QCOMPARE(status.keys(), QStringList({"Error"}));
    QVERIFY(!status.value(QStringLiteral("Error")).toString().isEmpty());
    const QJsonArray listed = RigStation::connectedRigs(*client);
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed.at(0).toObject().value(QStringLiteral("Location")).toString(), port);

    const int from = station->orvessa.lines().size();
    QCOMPARE(RigStation::call(*client, QStringLiteral("disconnectRig"), {port}),
             success(QStringLiteral("Rig disconnected")));
    QVERIFY(!station->orvessa
                 .waitForLine(QRegularExpression(QStringLiteral(R"(\]\[~KrRig:\d+\]: KrRig distrutto$)")), 5000, from)
                 .isNull());
    QCOMPARE(RigStation::connectedRigs(*client), QJsonArray());
    QCOMPARE(RigStation::call(*client, QStringLiteral("rigInfo"), {port}), error(QStringLiteral("Rig not connected")));
    QVERIFY(station->orvessa.isRunning());
}

QTEST_GUILESS_MAIN(TestRigService)
#include "tst_rigservice.moc"
