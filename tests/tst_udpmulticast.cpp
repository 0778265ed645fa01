#include "StdoutCapture.h"
#include "TestEnvironment.h"
#include "UdpMulticast.h"

#include <QFile>
#include <QMetaMethod>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

namespace {

const QHostAddress loopback(QHostAddress::LocalHost);
const QHostAddress anyIPv4(QHostAddress::AnyIPv4);
const char* const namespaceMarker = "ORVESSA_UDP_PRIVATE_NETWORK";

// Collects newQso in the test's thread, as the service does in its own.
class QsoSink : public QObject
{
    Q_OBJECT

signals:
    void received();

public slots:
    void take(const QVariantMap& qso)
    {
        qsos << qso;
        emit received();
    }

public:
    QList<QVariantMap> qsos;
};

// The receiver in a thread of its own, driven only through blocking queued calls naming the types
// exactly, as the service drives it.
class ReceiverThread
{
public:
    ReceiverThread()
        : receiver(new UdpMulticast)
    {
        receiver->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, receiver, &UdpMulticast::UdpMulticastInit);
        QObject::connect(&thread, &QThread::finished, receiver, &QObject::deleteLater);
        QObject::connect(receiver, &UdpMulticast::newQso, &sink, &QsoSink::take);
        thread.start(QThread::InheritPriority);
    }
    ~ReceiverThread()
    {
        thread.quit();
        thread.wait();
    }

    bool start(quint16 port,
               const QHostAddress& address = anyIPv4,
               const QHostAddress& group = QHostAddress(),
               const QVariant& patterns = QVariant())
    {
        bool started = false;
        invoked &= QMetaObject::invokeMethod(receiver,
                                             "startReceiving",
                                             Qt::BlockingQueuedConnection,
                                             Q_RETURN_ARG(bool, started),
                                             Q_ARG(quint16, port),
                                             Q_ARG(QHostAddress, address),
                                             Q_ARG(QHostAddress, group),
                                             Q_ARG(QVariant, patterns));
        return started;
    }
    void stop() { invoked &= QMetaObject::invokeMethod(receiver, "stopReceiving", Qt::BlockingQueuedConnection); }
    bool isReceiving()
    {
        bool receiving = false;
        invoked &= QMetaObject::invokeMethod(
            receiver, "isReceiving", Qt::BlockingQueuedConnection, Q_RETURN_ARG(bool, receiving));
        return receiving;
    }
    usInfo status()
    {
        usInfo info;
        invoked
            &= QMetaObject::invokeMethod(receiver, "status", Qt::BlockingQueuedConnection, Q_RETURN_ARG(usInfo, info));
        return info;
    }

    UdpMulticast* receiver;
    QThread thread;
    QsoSink sink;
    // Cleared by any cross-thread call that did not reach the receiver.
    bool invoked = true;
};

// A port is free again once a socket that refuses sharing can take it.
bool portIsFree(quint16 port)
{
    QUdpSocket probe;
    return probe.bind(anyIPv4, port, QAbstractSocket::DontShareAddress);
}

bool send(const QByteArray& datagram, quint16 port, const QHostAddress& to = loopback)
{
    QUdpSocket sender;
    return sender.writeDatagram(datagram, to, port) == datagram.size();
}

// Standard alphabet, padded, no line breaks, and decoding to exactly the datagram.
bool isStandardBase64Of(const QVariant& value, const QByteArray& datagram)
{
    const QByteArray text = value.toByteArray();
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9+/]*={0,2}$"));
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    return value.userType() == QMetaType::QByteArray && text.size() % 4 == 0
        && form.match(QString::fromLatin1(text)).hasMatch() && decoded && *decoded == datagram;
}

} // namespace

class TestUdpMulticast : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void crossThreadInterface();
    void startAndStatus_data();
    void startAndStatus();
    void failedStartLeavesItIdle_data();
    void failedStartLeavesItIdle();
    void secondStartReplacesFirstAndStopReleases();
    void portIsShared_data();
    void portIsShared();
    void recognition_data();
    void recognition();
    void patternChoiceIsLogged_data();
    void patternChoiceIsLogged();
    void defaultsReturnAfterStartWithoutFilters();
    void largestDatagramRelayedWhole();
    void multicastGroupInPrivateNetwork();

private:
    std::unique_ptr<ReceiverThread> udp;
};

void TestUdpMulticast::init()
{
    udp = std::make_unique<ReceiverThread>();
}

void TestUdpMulticast::cleanup()
{
    QVERIFY2(udp->invoked, "a blocking queued call did not reach the receiver");
    udp.reset();
}

void TestUdpMulticast::crossThreadInterface()
{
    // The service reaches these by name and index, so their order and exact signatures are the contract.
    const QMetaObject& meta = UdpMulticast::staticMetaObject;
    QList<QByteArray> members;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (!(method.attributes() & QMetaMethod::Cloned)) {
            members << QByteArray(method.typeName()) + ' ' + method.methodSignature();
        }
    }
    // moc records quint16 as ushort; callers still name it quint16, as the calls in the other tests do.
    const QList<QByteArray> expected {"void newQso(QVariantMap)",
                                      "void UdpMulticastInit()",
                                      "void processPendingDatagrams()",
                                      "bool startReceiving(ushort,QHostAddress,QHostAddress,QVariant)",
                                      "void stopReceiving()",
                                      "bool isReceiving()",
                                      "usInfo status()"};
    QCOMPARE(members, expected);
    QCOMPARE(QMetaType::type("usInfo"), qMetaTypeId<usInfo>());

    // A fresh receiver in its thread is idle, and stopping it then is harmless.
    QVERIFY(!udp->isReceiving());
    udp->stop();
    const usInfo idle = udp->status();
    QVERIFY(!idle.receiving);
    QCOMPARE(idle.port, quint16(0));
    QVERIFY(idle.address.isNull());
}

void TestUdpMulticast::startAndStatus_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("group");

    QTest::newRow("every IPv4 address, no group") << "0.0.0.0" << QString();
    QTest::newRow("loopback only") << "127.0.0.1" << QString();
    // Joins that fail without sending anything off the machine: the start still counts.
    QTest::newRow("IPv6 group on an IPv4 socket") << "0.0.0.0"
                                                  << "ff15::4f52";
    QTest::newRow("group that is no multicast address") << "0.0.0.0"
                                                        << "127.0.0.1";
}

void TestUdpMulticast::startAndStatus()
{
    QFETCH(QString, address);
    QFETCH(QString, group);

    const quint16 port = TestEnvironment::freeUdpPort();
    QVERIFY(udp->start(port, QHostAddress(address), group.isNull() ? QHostAddress() : QHostAddress(group)));
    QVERIFY(udp->isReceiving());
    const usInfo info = udp->status();
    QVERIFY(info.receiving);
    QCOMPARE(info.port, port);
    QCOMPARE(info.address.toString(), address);
    QCOMPARE(info.group.toString(), group.isNull() ? QString() : group);
    QCOMPARE(info.group.isNull(), group.isNull());

    QVERIFY(send("ADDQSO: IK2AB 14205.0 SSB", port));
    QTRY_COMPARE(udp->sink.qsos.size(), 1);
}

void TestUdpMulticast::failedStartLeavesItIdle_data()
{
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<bool>("portHeldWithoutSharing");

    QTest::newRow("port held without sharing") << "0.0.0.0" << true;
    QTest::newRow("address not on this machine") << "198.51.100.7" << false;
    // Qt would bind a null address on every interface; an unreadable address text must not widen the bind.
    QTest::newRow("unreadable address text") << "127.0.0.l" << false;
}

void TestUdpMulticast::failedStartLeavesItIdle()
{
    QFETCH(QString, addressText);
    QFETCH(bool, portHeldWithoutSharing);

    const QHostAddress address(addressText);
    if (QNetworkInterface::allAddresses().contains(address)) {
        QSKIP("the address that should be foreign belongs to this machine");
    }
    QFile nonLocalBind(QStringLiteral("/proc/sys/net/ipv4/ip_nonlocal_bind"));
    if (addressText == QLatin1String("198.51.100.7") && nonLocalBind.open(QIODevice::ReadOnly)
        && nonLocalBind.readAll().trimmed() != "0") {
        QSKIP("this machine lets sockets bind addresses it does not have");
    }
    const quint16 earlier = TestEnvironment::freeUdpPort();
    QVERIFY(udp->start(earlier));

    const quint16 port = TestEnvironment::freeUdpPort();
    QUdpSocket holder;
    if (portHeldWithoutSharing) {
        QVERIFY(holder.bind(anyIPv4, port, QAbstractSocket::DontShareAddress));
    }
    StdoutCapture log;
    QVERIFY(!udp->start(port, address));
    QVERIFY(log.text().contains("Bind result: false\n"));
    QVERIFY(!udp->isReceiving());
    const usInfo info = udp->status();
    QVERIFY(!info.receiving);
    QCOMPARE(info.port, quint16(0));
    // The earlier reception was stopped before the failed bind.
    QVERIFY(portIsFree(earlier));
}

void TestUdpMulticast::secondStartReplacesFirstAndStopReleases()
{
    const quint16 first = TestEnvironment::freeUdpPort();
    const quint16 second = TestEnvironment::freeUdpPort();
    QVERIFY(udp->start(first));
    {
        StdoutCapture log;
        QVERIFY(udp->start(second));
        const QByteArray text = log.text();
        QVERIFY(text.indexOf("UDP STOP Thread id") < text.indexOf("Bind result: true"));
    }
    QCOMPARE(udp->status().port, second);
    QVERIFY(portIsFree(first));
    QVERIFY(send("<CALL:4>W1AW <EOR>", second));
    QTRY_COMPARE(udp->sink.qsos.size(), 1);

    udp->stop();
    QVERIFY(!udp->isReceiving());
    QVERIFY(!udp->status().receiving);
    QSignalSpy received(&udp->sink, &QsoSink::received);
    QVERIFY(send("<CALL:4>W1AW <EOR>", second));
    QVERIFY(!received.wait(300));
    QVERIFY(portIsFree(second));
}

void TestUdpMulticast::portIsShared_data()
{
    QTest::addColumn<bool>("otherBindsFirst");

    QTest::newRow("another program joins the port") << false;
    QTest::newRow("another program was there first") << true;
}

void TestUdpMulticast::portIsShared()
{
    QFETCH(bool, otherBindsFirst);

    const quint16 port = TestEnvironment::freeUdpPort();
    QUdpSocket other;
    const auto shared = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    if (otherBindsFirst) {
        QVERIFY(other.bind(anyIPv4, port, shared));
    }
    QVERIFY(udp->start(port));
    if (!otherBindsFirst) {
        QVERIFY(other.bind(anyIPv4, port, shared));
    }

    // Unicast goes to one of the sharers only; a broadcast on the loopback network reaches both.
    const QByteArray record("<CALL:5>IK2AB <BAND:3>40M <EOR>");
    QVERIFY(send(record, port, QHostAddress(QStringLiteral("127.255.255.255"))));
    QTRY_COMPARE(udp->sink.qsos.size(), 1);
    QVERIFY(isStandardBase64Of(udp->sink.qsos.first().value(QStringLiteral("UDPData")), record));
    QTRY_VERIFY(other.hasPendingDatagrams());
    QCOMPARE(other.receiveDatagram().data(), record);
}

void TestUdpMulticast::recognition_data()
{
    QTest::addColumn<QVariant>("filters");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("accepted");
    // Accepted by the same filters and sent right after: its arrival proves the first was judged.
    QTest::addColumn<QByteArray>("sentinel");
    QTest::addColumn<int>("unfilteredLines");

    const QVariant defaults;
    const QByteArray addQso("ADDQSO: sentinel");
    const QByteArray upperAdif("<CALL:5>IK2XY <BAND:3>20M <MODE:3>SSB <FREQ:6>14.205 <RST_SENT:2>59 "
                               "<RST_RCVD:2>57 <QSO_DATE:8>20250412 <TIME_ON:6>183200 <EOR>\n");
    const QByteArray lowerRecord("<call:6>EA8XYZ <gridsquare:4>IL18 <mode:3>FT8 <rst_sent:3>-12 <rst_rcvd:3>-08 "
                                 "<qso_date:8>20250412 <time_on:6>183015 <band:3>20m <freq:9>14.075512 <eor>\n");
    const QByteArray xmlContact(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<contactinfo>\n  <contestname>CQ-WW-SSB</contestname>\n"
        "  <timestamp>2025-04-12 18:32:00</timestamp>\n  <mycall>IK2AB</mycall>\n  <band>14</band>\n"
        "  <rxfreq>1420500</rxfreq>\n  <txfreq>1420500</txfreq>\n  <call>W1AW</call>\n  <mode>USB</mode>\n"
        "  <snt>59</snt>\n  <sntnr>15</sntnr>\n  <rcv>59</rcv>\n  <rcvnr>5</rcvnr>\n</contactinfo>\n");
    const QByteArray binary("\x00\xfb\xff\xbf\x80\x01\x7f\n", 8);
    const QVariant qso = QStringList {QStringLiteral("QSO")};
    const QVariant everything = QStringList();
    const QVariant oneEmpty = QStringList {QString()};
    const QVariant city = QStringList {QStringLiteral("Citt\u00e0")};

    QTest::newRow("ADIF record with upper-case tags") << defaults << upperAdif << true << addQso << 0;
    QTest::newRow("lower-case ADIF with its version header")
        << defaults << QByteArray("<adif_ver:5>3.1.4\n<programid:6>FTLOG1\n<eoh>\n" + lowerRecord) << true << addQso
        << 0;
    QTest::newRow("lower-case call tag alone is rejected") << defaults << lowerRecord << false << addQso << 0;
    QTest::newRow("contest logger XML contact") << defaults << xmlContact << true << addQso << 0;
    QTest::newRow("ADDQSO line") << defaults << QByteArray("ADDQSO:IK2XY,20250412,1832,14205.0,SSB,59,57\r\n") << true
                                 << addQso << 0;
    QTest::newRow("two markers, one record")
        << defaults << QByteArray("<?xml version=\"1.0\"?><cmd>ADDQSO:W1AW</cmd>") << true << addQso << 0;
    QTest::newRow("filter QSO accepts its marker")
        << qso << QByteArray("QSO IK2XY 14205.0 SSB 59 57") << true << QByteArray("QSO sentinel") << 0;
    QTest::newRow("filter QSO rejects an ADIF record the defaults take")
        << qso << QByteArray("<CALL:5>IK2XY <BAND:3>20M <MODE:3>SSB <EOR>") << false << QByteArray("QSO sentinel") << 0;
    QTest::newRow("filters are case-sensitive") << qso << QByteArray("qso IK2XY") << false << QByteArray("QSO s") << 0;
    QTest::newRow("no filters take non-text bytes") << everything << binary << true << QByteArray("x") << 2;
    QTest::newRow("no filters take an empty datagram") << everything << QByteArray() << true << QByteArray("x") << 2;
    QTest::newRow("one empty filter takes everything quietly") << oneEmpty << binary << true << QByteArray("x") << 0;
    QTest::newRow("non-ASCII filter matches its UTF-8 bytes")
        << city << QByteArray("QTH: Citt\xc3\xa0 di Castello") << true << QByteArray("Citt\xc3\xa0") << 0;
    QTest::newRow("non-ASCII filter ignores Latin-1 bytes")
        << city << QByteArray("QTH: Citt\xe0 di Castello") << false << QByteArray("Citt\xc3\xa0") << 0;
}

void TestUdpMulticast::recognition()
{
    QFETCH(QVariant, filters);
    QFETCH(QByteArray, datagram);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, sentinel);
    QFETCH(int, unfilteredLines);

    const quint16 port = TestEnvironment::freeUdpPort();
    StdoutCapture log;
    QVERIFY(udp->start(port, anyIPv4, QHostAddress(), filters));
    // One sender keeps the two datagrams in order on loopback.
    QUdpSocket sender;
    QCOMPARE(sender.writeDatagram(datagram, loopback, port), qint64(datagram.size()));
    QCOMPARE(sender.writeDatagram(sentinel, loopback, port), qint64(sentinel.size()));

    const QList<QByteArray> expected = accepted ? QList<QByteArray> {datagram, sentinel} : QList<QByteArray> {sentinel};
    QTRY_COMPARE(udp->sink.qsos.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QVariantMap& qso = udp->sink.qsos.at(i);
        QCOMPARE(qso.keys(), (QStringList {QStringLiteral("CacheID"), QStringLiteral("UDPData")}));
        QCOMPARE(qso.value(QStringLiteral("CacheID")), QVariant(QStringLiteral("not implemented")));
        QVERIFY2(isStandardBase64Of(qso.value(QStringLiteral("UDPData")), expected.at(i)),
                 qso.value(QStringLiteral("UDPData")).toByteArray().left(80).constData());
    }
    QCOMPARE(log.text().count("]: \nNON FILTRO\n"), unfilteredLines);
}

void TestUdpMulticast::patternChoiceIsLogged_data()
{
    QTest::addColumn<QVariant>("filters");
    QTest::addColumn<QByteArray>("choice");
    QTest::addColumn<QByteArray>("list");

    const QByteArray defaults("adif, <CALL:, <?xml, ADDQSO:");
    QTest::newRow("no value") << QVariant() << QByteArray("DEFAULT FILTRI") << defaults;
    QTest::newRow("null text") << QVariant(QString()) << QByteArray("DEFAULT FILTRI") << defaults;
    QTest::newRow("empty list") << QVariant(QStringList()) << QByteArray("NO FILTRI") << QByteArray();
    QTest::newRow("caller's list kept as given")
        << QVariant(QStringList {QStringLiteral("QSO"), QString(), QStringLiteral("Citt\u00e0"), QStringLiteral("QSO")})
        << QByteArray("NUOVI FILTRI") << QByteArray("QSO, , Citt\xc3\xa0, QSO");
    QTest::newRow("list of JSON values") << QVariant(QVariantList {QStringLiteral("<EOR>"), 5})
                                         << QByteArray("NUOVI FILTRI") << QByteArray("<EOR>, 5");
    QTest::newRow("a map is no list") << QVariant(QVariantMap {{QStringLiteral("a"), 1}})
                                      << QByteArray("INVALID FILTRI, default") << defaults;
    QTest::newRow("a number is no list") << QVariant(42) << QByteArray("INVALID FILTRI, default") << defaults;
}

void TestUdpMulticast::patternChoiceIsLogged()
{
    QFETCH(QVariant, filters);
    QFETCH(QByteArray, choice);
    QFETCH(QByteArray, list);

    StdoutCapture log;
    QVERIFY(udp->start(TestEnvironment::freeUdpPort(), anyIPv4, QHostAddress(), filters));
    const QString text = QString::fromUtf8(log.text());
    const QString expected
        = QStringLiteral(R"(\[startReceiving:\d+\]: \n%1\n\[[^\]]+\]\[startReceiving:\d+\]: Pattern List: %2\n)")
              .arg(QRegularExpression::escape(QString::fromUtf8(choice)),
                   QRegularExpression::escape(QString::fromUtf8(list)));
    QVERIFY2(QRegularExpression(expected).match(text).hasMatch(), qPrintable(text));
}

void TestUdpMulticast::defaultsReturnAfterStartWithoutFilters()
{
    const quint16 port = TestEnvironment::freeUdpPort();
    QVERIFY(udp->start(port, anyIPv4, QHostAddress(), QStringList {QStringLiteral("QSO")}));
    QVERIFY(udp->start(port));

    QUdpSocket sender;
    QVERIFY(sender.writeDatagram("QSO only", loopback, port) > 0);
    QVERIFY(sender.writeDatagram("<CALL:4>W1AW <EOR>", loopback, port) > 0);
    QTRY_COMPARE(udp->sink.qsos.size(), 1);
    QVERIFY(isStandardBase64Of(udp->sink.qsos.first().value(QStringLiteral("UDPData")), "<CALL:4>W1AW <EOR>"));
}

void TestUdpMulticast::largestDatagramRelayedWhole()
{
    // The largest UDP payload over IPv4, with its only marker in the last bytes.
    QByteArray datagram(65507, '\0');
    for (int i = 0; i < datagram.size(); ++i) {
        datagram[i] = static_cast<char>((i * 7919) % 251);
    }
    datagram.replace(datagram.size() - 5, 5, "<?xml");
    QVERIFY(UdpMulticast::firstMatchingPattern(defaultPatterns, datagram.left(datagram.size() - 1)) < 0);

    const quint16 port = TestEnvironment::freeUdpPort();
    QVERIFY(udp->start(port));
    QVERIFY(send(datagram, port));
    QTRY_COMPARE(udp->sink.qsos.size(), 1);
    QVERIFY(isStandardBase64Of(udp->sink.qsos.first().value(QStringLiteral("UDPData")), datagram));
}

void TestUdpMulticast::multicastGroupInPrivateNetwork()
{
    const QHostAddress group(QStringLiteral("239.255.73.51"));
    if (qEnvironmentVariableIsSet(namespaceMarker)) {
        // Inside a network namespace of our own that has nothing but loopback.
        const quint16 port = TestEnvironment::freeUdpPort();
        QVERIFY(udp->start(port, anyIPv4, group));
        QCOMPARE(udp->status().group, group);
        QUdpSocket sender;
        sender.setMulticastInterface(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
        QVERIFY(sender.bind(loopback, 0));
        QCOMPARE(sender.writeDatagram("ADDQSO: by group", group, port), qint64(16));
        QTRY_COMPARE(udp->sink.qsos.size(), 1);
        QVERIFY(isStandardBase64Of(udp->sink.qsos.first().value(QStringLiteral("UDPData")), "ADDQSO: by group"));
        udp->stop();
        QVERIFY(!udp->status().receiving);
        return;
    }

    // Joining a group on the real network would announce it there, so the join happens in a private
    // network namespace where only loopback exists.
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("true")});
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        QSKIP(qPrintable(QStringLiteral("no private network namespace here: ")
                         + QString::fromLocal8Bit(probe.readAllStandardError()).trimmed()));
    }
    const QString script = QStringLiteral("ip link set lo up && ip link set lo multicast on "
                                          "&& ip route add 224.0.0.0/4 dev lo || exit 77; "
                                          "exec \"$0\" multicastGroupInPrivateNetwork");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(namespaceMarker), QStringLiteral("1"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-n"),
                 QStringLiteral("sh"),
                 QStringLiteral("-c"),
                 script,
                 QCoreApplication::applicationFilePath()});
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished(5000);
        QFAIL("the test in the private network did not end");
    }
    const QByteArray output = child.readAll();
    if (child.exitCode() == 77) {
        QSKIP(qPrintable(QStringLiteral("cannot set up loopback multicast in the private network: ")
                         + QString::fromLocal8Bit(output).trimmed()));
    }
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
}

QTEST_GUILESS_MAIN(TestUdpMulticast)
#include "tst_udpmulticast.moc"
