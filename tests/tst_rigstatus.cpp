#include "RigStation.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <memory>

namespace {

const QString rigInfo = QStringLiteral("RigInfo");

// Long enough for several 250 ms ticks: a push that should not come has had its chances.
constexpr int quietMs = 1200;
// A closing handshake has been seen to take seconds on a loaded machine.
constexpr int closeTimeoutMs = 20000;

QJsonObject success(const QString& text)
{
    return {{QStringLiteral("Success"), text}};
}

QJsonObject error(const QString& text)
{
    return {{QStringLiteral("Error"), text}};
}

QList<QJsonObject> pushes(const RpcClient& client)
{
    QList<QJsonObject> params;
    for (const QJsonObject& message : client.notifications(rigInfo)) {
        params.append(message.value(QStringLiteral("params")).toObject());
    }
    return params;
}

bool waitForPushes(const RpcClient& client, int count, int timeoutMs = 5000)
{
    return QTest::qWaitFor([&] { return pushes(client).size() >= count; }, timeoutMs);
}

// Waits for the first push, from index from on, that has the key; its index, or -1.
int waitForPushWith(const RpcClient& client, const QString& key, int from, int timeoutMs)
{
    int found = -1;
    (void)QTest::qWaitFor(
        [&] {
            const QList<QJsonObject> all = pushes(client);
            for (int i = from; i < all.size(); ++i) {
                if (all.at(i).contains(key)) {
                    found = i;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

QList<int> signalLevels(const QList<QJsonObject>& statuses)
{
    QList<int> values;
    for (const QJsonObject& status : statuses) {
        values.append(status.value(QStringLiteral("signal")).toInt());
    }
    return values;
}

} // namespace

class TestRigStatus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void statusMap_data();
    void statusMap();
    void subscriptionPushesFourTimesASecond();
    void twoClientsShareOneReadPerTick();
    void disconnectTellsTheOtherSubscribers();
    void closedClientsAreNoLongerServed();
    void oneClientOnTwoRigs();
    void silentRadioGivesErrorPushes();

private:
    QJsonObject subscribe(RpcClient& client, const QString& port);

    std::unique_ptr<RigStation> station;
    std::unique_ptr<RpcClient> client;
    QString port;
};

void TestRigStatus::init()
{
    station = std::make_unique<RigStation>();
    QVERIFY2(station->start(), qPrintable(station->radio.errorString()));
    client = station->newClient();
    QVERIFY(client);
    port = station->radio.portName();
    const QJsonObject reply = RigStation::connectRadio(*client, port);
    QVERIFY2(reply == success(QStringLiteral("Rig connected")), QJsonDocument(reply).toJson().constData());
}

void TestRigStatus::cleanup()
{
    client.reset();
    station.reset();
}

QJsonObject TestRigStatus::subscribe(RpcClient& subscriber, const QString& portText)
{
    return RigStation::call(subscriber, QStringLiteral("rigInfoSubscribe"), {portText});
}

void TestRigStatus::statusMap_data()
{
    QTest::addColumn<int>("ptt");
    QTest::addColumn<int>("meter");

    QTest::newRow("receiving: raw signal strength") << 0 << 77;
    QTest::newRow("receiving, no signal") << 0 << 0;
    QTest::newRow("transmitting: ALC") << 1 << 60;
    QTest::newRow("transmitting from the data input") << 3 << 30;
}

void TestRigStatus::statusMap()
{
    QFETCH(int, ptt);
    QFETCH(int, meter);
    station->radio.setSignal(ptt ? 90 : meter);
    station->radio.setAlc(ptt ? meter : 90);
    QCOMPARE(RigStation::call(*client, QStringLiteral("setMode"), {port, "CW", 0}).value("mode").toString(),
             QStringLiteral("CW"));
    QCOMPARE(RigStation::call(*client, QStringLiteral("setFreq"), {port, 10136000}).value("freq").toDouble(),
             10136000.0);
    QVERIFY(RigStation::call(*client, QStringLiteral("setPTT"), {port, ptt}).contains(QStringLiteral("Success")));

    const QJsonObject status = RigStation::call(*client, QStringLiteral("rigInfo"), {port});
    QCOMPARE(status.keys(), QStringList({"freq", "mode", "ptt", "signal"}));
    QCOMPARE(status.value(QStringLiteral("freq")).toDouble(), 10136000.0);
    QCOMPARE(status.value(QStringLiteral("mode")).toString(), QStringLiteral("CW"));
    QCOMPARE(status.value(QStringLiteral("ptt")).toInt() != 0, ptt != 0);
    const double signal = status.value(QStringLiteral("signal")).toDouble();
    if (ptt == 0) {
        // The meter's own integer reading.
        QCOMPARE(signal, double(meter));
    } else {
        // A level between 0 and 1, not the strength meter, which reads 0 while transmitting.
        QVERIFY2(signal > 0 && signal <= 1 && signal != std::floor(signal), qPrintable(QString::number(signal)));
    }

    // The push carries the very same map.
    QCOMPARE(subscribe(*client, port), success(QStringLiteral("subscribed")));
    QVERIFY(waitForPushes(*client, 1));
    QCOMPARE(pushes(*client).first(), status);
}

void TestRigStatus::subscriptionPushesFourTimesASecond()
{
    QCOMPARE(subscribe(*client, port), success(QStringLiteral("subscribed")));
    QCOMPARE(subscribe(*client, port), error(QStringLiteral("already subscribed")));

    // Count from one push to the one about three seconds later: twelve ticks, one push each.
    QVERIFY(waitForPushes(*client, 1));
    const int first = pushes(*client).size();
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(3000);
    const int count = pushes(*client).size() - first;
    const qint64 elapsed = clock.elapsed();
    // The timer can run late on a loaded machine but never early, and ticks do not pile up.
    QVERIFY2(count >= 7 && count <= int(elapsed / 250) + 1,
             qPrintable(QStringLiteral("%1 pushes in %2 ms").arg(count).arg(elapsed)));

    QCOMPARE(RigStation::call(*client, QStringLiteral("rigInfoUnsubscribe"), {port}),
             success(QStringLiteral("unsubscribed")));
    const int atUnsubscribe = pushes(*client).size();
    QTest::qWait(quietMs);
    QCOMPARE(pushes(*client).size(), atUnsubscribe);
    QCOMPARE(RigStation::call(*client, QStringLiteral("rigInfoUnsubscribe"), {port}),
             error(QStringLiteral("not subscribed")));
    // With nobody subscribed the radio hears nothing from the push.
    station->radio.resetCommandCount();
    QTest::qWait(quietMs);
    QCOMPARE(station->radio.commandCount(), 0);

    const QRegularExpression subscribed(
        QStringLiteral(R"(\]\[rigInfoSubscribe:\d+\]: SUBSCRIBED (.+) to 0x[0-9a-f]+ \(127\.0\.0\.1\)$)"));
    const QRegularExpression unsubscribed(
        QStringLiteral(R"(\]\[rigInfoUnsubscribe:\d+\]: UNSUBSCRIBED (.+) to 0x[0-9a-f]+ \(127\.0\.0\.1\)$)"));
    QCOMPARE(station->linesFrom(0, subscribed).size(), 1);
    QCOMPARE(subscribed.match(station->linesFrom(0, subscribed).first()).captured(1), port);
    QCOMPARE(station->linesFrom(0, unsubscribed).size(), 1);
}

void TestRigStatus::twoClientsShareOneReadPerTick()
{
    const std::unique_ptr<RpcClient> other = station->newClient();
    QVERIFY(other);
    // Hamlib's cache may answer a second read of frequency, mode or PTT within a tick; the meter read always
    // reaches the radio, so it counts the reads.
    const auto meterReadsPerPush = [this] {
        station->radio.takeCommands();
        const int start = pushes(*client).size();
        (void)waitForPushes(*client, start + 8);
        const QList<QByteArray> commands = station->radio.takeCommands();
        const int ticks = pushes(*client).size() - start;
        return qMakePair(int(commands.count("SM0")), ticks);
    };

    QCOMPARE(subscribe(*client, port), success(QStringLiteral("subscribed")));
    QVERIFY(waitForPushes(*client, 2));
    const auto alone = meterReadsPerPush();

    // The signal moves faster than the ticks, so each tick reads something new.
    QTimer fading;
    int level = 0;
    connect(&fading, &QTimer::timeout, this, [&] { station->radio.setSignal(level = (level + 37) % 256); });
    fading.start(70);

    QCOMPARE(subscribe(*other, port), success(QStringLiteral("subscribed")));
    QVERIFY(waitForPushes(*other, 2));
    const auto shared = meterReadsPerPush();
    fading.stop();
    // One read per tick, give or take the tick under way when the counting started or stopped.
    for (const auto& [reads, ticks] : {alone, shared}) {
        QVERIFY2(ticks >= 8 && qAbs(reads - ticks) <= 1,
                 qPrintable(QStringLiteral("%1 meter reads in %2 ticks").arg(reads).arg(ticks)));
    }

    // Both received the same reading of every tick since the second subscribed.
    QVERIFY(waitForPushes(*other, 8));
    const QList<QJsonObject> mine = pushes(*client);
    const QList<QJsonObject> theirs = pushes(*other);
    const QList<int> levels = signalLevels(theirs);
    QVERIFY2(QSet<int>(levels.begin(), levels.end()).size() >= 3, "the signal did not move");
    const int offset = mine.indexOf(theirs.first());
    QVERIFY(offset >= 0);
    const int overlap = qMin(mine.size() - offset, theirs.size());
    QVERIFY(overlap >= 8);
    QCOMPARE(signalLevels(theirs.mid(0, overlap)), signalLevels(mine.mid(offset, overlap)));
    QCOMPARE(theirs.mid(0, overlap), mine.mid(offset, overlap));
}

void TestRigStatus::disconnectTellsTheOtherSubscribers()
{
    const std::unique_ptr<RpcClient> listener = station->newClient();
    const std::unique_ptr<RpcClient> bystander = station->newClient();
    QVERIFY(listener && bystander);
    QCOMPARE(subscribe(*client, port), success(QStringLiteral("subscribed")));
    QCOMPARE(subscribe(*listener, port), success(QStringLiteral("subscribed")));
    QVERIFY(waitForPushes(*listener, 1));

    QCOMPARE(RigStation::call(*client, QStringLiteral("disconnectRig"), {port}),
             success(QStringLiteral("Rig disconnected")));
    const QJsonObject notice {{QStringLiteral("Error:"), port + QStringLiteral(" disconnected")}};
    const int at = waitForPushWith(*listener, QStringLiteral("Error:"), 0, 5000);
    QVERIFY(at >= 0);
    QCOMPARE(pushes(*listener).at(at), notice);

    // The notice went out with the reply: a round trip later the caller and the bystander have none.
    QVERIFY(!client->result(QStringLiteral("ovInfo")).isUndefined());
    QVERIFY(!bystander->result(QStringLiteral("ovInfo")).isUndefined());
    QVERIFY(!pushes(*client).contains(notice));
    QCOMPARE(bystander->notifications(rigInfo).size(), 0);

    // Nothing follows the notice, and the radio is left alone.
    station->radio.resetCommandCount();
    QTest::qWait(quietMs);
    QCOMPARE(pushes(*listener).size(), at + 1);
    QCOMPARE(station->radio.commandCount(), 0);

    // A new connection of the port starts without the old subscribers.
    QCOMPARE(RigStation::connectRadio(*client, port), success(QStringLiteral("Rig connected")));
    QCOMPARE(RigStation::call(*listener, QStringLiteral("rigInfoUnsubscribe"), {port}),
             error(QStringLiteral("not subscribed")));
    QTest::qWait(quietMs);
    QCOMPARE(pushes(*listener).size(), at + 1);
}

void TestRigStatus::closedClientsAreNoLongerServed()
{
    const std::unique_ptr<RpcClient> other = station->newClient();
    QVERIFY(other);
    QCOMPARE(subscribe(*client, port), success(QStringLiteral("subscribed")));
    QCOMPARE(subscribe(*other, port), success(QStringLiteral("subscribed")));
    QVERIFY(waitForPushes(*client, 1));

    const QRegularExpression disconnected(QStringLiteral(R"(\]\[endpointDisconnected:\d+\]: DISCONNECTED 0x)"));
    int from = station->orvessa.lines().size();
    other->socket.close();
    QVERIFY(!station->orvessa.waitForLine(disconnected, closeTimeoutMs, from).isNull());
    // The one left keeps its pushes.
    const int before = pushes(*client).size();
    QVERIFY(waitForPushes(*client, before + 3));

    from = station->orvessa.lines().size();
    client->socket.close();
    QVERIFY(!station->orvessa.waitForLine(disconnected, closeTimeoutMs, from).isNull());
    station->radio.resetCommandCount();
    QTest::qWait(quietMs);
    QCOMPARE(station->radio.commandCount(), 0);
    // Nothing was sent toward a client that had gone.
    QCOMPARE(station->linesFrom(0, QRegularExpression(QStringLiteral("cannot send"))), QStringList());
    QVERIFY(station->orvessa.isRunning());

    // The rig itself stays connected for whoever comes next.
    const std::unique_ptr<RpcClient> next = station->newClient();
    QVERIFY(next);
    QCOMPARE(RigStation::connectedRigs(*next).size(), 1);
}

void TestRigStatus::oneClientOnTwoRigs()
{
    RigSimulator second;
    QVERIFY2(second.isOpen(), qPrintable(second.errorString()));
    QTemporaryDir folder;
    const QString usb0 = folder.filePath(QStringLiteral("ttyUSB0"));
    const QString usb1 = folder.filePath(QStringLiteral("ttyUSB1"));
    QVERIFY(QFile::link(second.portName(), usb0));
    QVERIFY(QFile::link(station->radio.portName(), usb1));
    second.setSignal(10);
    station->radio.setSignal(200);

    QCOMPARE(RigStation::connectRadio(*client, usb1), success(QStringLiteral("Rig connected")));
    QCOMPARE(RigStation::connectRadio(*client, usb0), success(QStringLiteral("Rig connected")));
    QCOMPARE(subscribe(*client, usb1), success(QStringLiteral("subscribed")));
    const int start = pushes(*client).size();
    QCOMPARE(subscribe(*client, usb0), success(QStringLiteral("subscribed")));
    QVERIFY(waitForPushes(*client, start + 8));

    // Once both are subscribed, every tick reads them in port-text order: ttyUSB0's radio first.
    QList<int> values = signalLevels(pushes(*client));
    values = values.mid(values.indexOf(10));
    QVERIFY(values.size() >= 6);
    for (int i = 0; i < values.size(); ++i) {
        QCOMPARE(values.at(i), i % 2 ? 200 : 10);
    }
}

void TestRigStatus::silentRadioGivesErrorPushes()
{
    QCOMPARE(subscribe(*client, port), success(QStringLiteral("subscribed")));
    QVERIFY(waitForPushes(*client, 1));
    station->radio.setAnswering(false);

    const int failed = waitForPushWith(*client, QStringLiteral("Error"), 0, RigStation::answerTimeoutMs);
    QVERIFY(failed >= 0);
    const QJsonObject failure = pushes(*client).at(failed);
    QCOMPARE(failure.size(), 1);
    QVERIFY(!failure.value(QStringLiteral("Error")).toString().isEmpty());

    // Between ticks the server still answers, and the rig is still there.
    QCOMPARE(RigStation::connectedRigs(*client).size(), 1);

    station->radio.setAnswering(true);
    QVERIFY(waitForPushWith(*client, QStringLiteral("freq"), failed + 1, RigStation::answerTimeoutMs) > failed);
    QVERIFY(station->orvessa.isRunning());
}

QTEST_GUILESS_MAIN(TestRigStatus)
#include "tst_rigstatus.moc"
