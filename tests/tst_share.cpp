// Radios shared with the desktop programs: Hamlib's own rigctl (NET rigctl, model 2) and hand-written lines against
// the simulated FT-991, TS-480 and IC-7300 through the service in-process, a page beside them, and the settings and
// devices that decide who may use a radio.
#include "ProgramRun.h"
#include "ServiceHost.h"
#include "SimRadio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>

namespace {

QJsonObject envelope(const char* key, const char* text)
{
    return {{QString::fromLatin1(key), QString::fromLatin1(text)}};
}

// A desktop program speaking the protocol by hand.
struct Program
{
    explicit Program(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(3000);
    }
    bool connected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    // Sends the text and collects the answer until it has that many lines or the connection ends.
    QByteArray say(const QByteArray& text, int lines, int timeoutMs = 5000)
    {
        QByteArray answer;
        socket.write(text);
        (void)QTest::qWaitFor(
            [&] {
                answer += socket.readAll();
                return answer.count('\n') >= lines || !connected();
            },
            timeoutMs);
        return answer + socket.readAll();
    }
    bool closedByServer(int timeoutMs = 3000)
    {
        return QTest::qWaitFor([this] { return !connected(); }, timeoutMs);
    }
    QTcpSocket socket;
};

// Debian 13's client, in a chroot prepared beside this machine's own; rows that need it are skipped elsewhere.
const QString trixie = QStringLiteral("/var/tmp/orvessa-probe/trixie");

} // namespace

class TestShare : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rigctlOnEachRadio_data();
    void rigctlOnEachRadio();
    void lines_data();
    void lines();
    void webRequestsRunNothing_data();
    void webRequestsRunNothing();
    void programsBesideAPage();
    void pttReleasedWhenProgramLeaves_data();
    void pttReleasedWhenProgramLeaves();
    void portsFollowTheSettings();
    void deviceOfAnotherProgram();
    void cleanupTestCase();

private:
    QJsonObject call(const QString& method, const QJsonArray& params);
    // The port a radio is shared on, from listConnectedRigs; 0 when it is not.
    quint16 sharePort(const QString& radio);
    QJsonObject status(const QString& radio) { return call("rigInfo", {radio}); }

    std::unique_ptr<ServiceHost> host;
    std::unique_ptr<RpcClient> page;
    SimRadio radios[3];
    quint16 firstPort = 0;
};

void TestShare::initTestCase()
{
    host = std::make_unique<ServiceHost>();
    page = host->client();
    QVERIFY(page);
    firstPort = ServiceHost::freeTcpPort();
    host->share(true, firstPort);
    const int models[] = {1035, 2028, 3073};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(radios[i].start({}, models[i]));
        QCOMPARE(call("connectRig", {radios[i].port, models[i], "38400"}), envelope("Success", "Rig connected"));
        QVERIFY(sharePort(radios[i].port) != 0);
    }
}

void TestShare::cleanupTestCase()
{
    page.reset();
    host.reset();
}

QJsonObject TestShare::call(const QString& method, const QJsonArray& params)
{
    return page->call(method, params, 30000).toObject();
}

quint16 TestShare::sharePort(const QString& radio)
{
    for (const QJsonValue& rig : page->call("listConnectedRigs").toArray()) {
        if (rig.toObject().value("Location") == radio) {
            return quint16(rig.toObject().value("SharePort").toInt());
        }
    }
    return 0;
}

void TestShare::rigctlOnEachRadio_data()
{
    QTest::addColumn<int>("radio");
    QTest::addColumn<QStringList>("commands");
    // What rigctl prints: the values it read, one a line; nothing for a set that succeeded.
    QTest::addColumn<QStringList>("printed");
    // What a page reads from the radio afterwards.
    QTest::addColumn<QJsonObject>("after");
    QTest::addColumn<QString>("client");

    const QString debian12 = QStringLiteral("rigctl");
    const QStringList cw {"CW", "500"};
    QTest::newRow("FT-991 frequency") << 0 << QStringList {"F", "14250000", "f"} << QStringList {"14250000"}
                                      << QJsonObject {{"freq", 14250000}} << debian12;
    QTest::newRow("FT-991 mode and passband")
        << 0 << QStringList {"M", "CW", "500", "m"} << cw << QJsonObject {{"mode", "CW"}} << debian12;
    QTest::newRow("FT-991 VFO") << 0 << QStringList {"V", "VFOB", "v", "V", "VFOA", "v"} << QStringList {"VFOB", "VFOA"}
                                << QJsonObject {{"freq", 14250000}} << debian12;
    // Keyed while it is there, released as it leaves.
    QTest::newRow("FT-991 PTT") << 0 << QStringList {"T", "1", "t"} << QStringList {"1"} << QJsonObject {{"ptt", 0}}
                                << debian12;
    QTest::newRow("FT-991 split") << 0 << QStringList {"S", "1", "VFOB", "s", "S", "0", "VFOA", "s"}
                                  << QStringList {"1", "VFOB", "0", "VFOA"} << QJsonObject() << debian12;
    QTest::newRow("FT-991 levels") << 0 << QStringList {"l", "RAWSTR", "l", "STRENGTH"} << QStringList {"120", "-3"}
                                   << QJsonObject() << debian12;
    QTest::newRow("TS-480 frequency and mode")
        << 1 << QStringList {"F", "3573000", "f", "M", "CW", "500", "m"} << QStringList {"3573000", "CW", "500"}
        << QJsonObject {{"freq", 3573000}, {"mode", "CW"}} << debian12;
    QTest::newRow("TS-480 PTT") << 1 << QStringList {"T", "1", "t", "T", "0", "t"} << QStringList {"1", "0"}
                                << QJsonObject {{"ptt", 0}} << debian12;
    QTest::newRow("TS-480 split with its mode")
        << 1 << QStringList {"S", "1", "VFOB", "X", "USB", "2400", "x", "S", "0", "VFOA", "s"}
        << QStringList {"USB", "2400", "0", "VFOA"} << QJsonObject() << debian12;
    QTest::newRow("TS-480 the levels it has") << 1 << QStringList {"l", "STRENGTH", "l", "SWR"}
                                              << QStringList {"26", "1.000000"} << QJsonObject() << debian12;
    QTest::newRow("IC-7300 frequency and mode")
        << 2 << QStringList {"F", "21074000", "f", "M", "CW", "500", "m"} << QStringList {"21074000", "CW", "500"}
        << QJsonObject {{"freq", 21074000}, {"mode", "CW"}} << debian12;
    // It cannot tell its VFO: its frequencies show which one is in use.
    QTest::newRow("IC-7300 VFO") << 2 << QStringList {"V", "VFOB", "f", "V", "VFOA", "f"}
                                 << QStringList {"7074000", "21074000"} << QJsonObject {{"freq", 21074000}} << debian12;
    QTest::newRow("IC-7300 PTT and split") << 2 << QStringList {"T", "1", "t", "T", "0", "S", "1", "VFOB", "s"}
                                           << QStringList {"1", "1", "VFOB"} << QJsonObject {{"ptt", 0}} << debian12;
    QTest::newRow("IC-7300 levels") << 2 << QStringList {"S", "0", "VFOA", "l", "RAWSTR", "l", "SWR"}
                                    << QStringList {"120", "1.000000"} << QJsonObject() << debian12;
    QTest::newRow("TS-480 with Debian 13's client")
        << 1 << QStringList {"F", "7074000", "f", "T", "1", "t", "T", "0"} << QStringList {"7074000", "1"}
        << QJsonObject {{"freq", 7074000}, {"ptt", 0}} << trixie;
}

void TestShare::rigctlOnEachRadio()
{
    QFETCH(int, radio);
    QFETCH(QStringList, commands);
    QFETCH(QStringList, printed);
    QFETCH(QJsonObject, after);
    QFETCH(QString, client);
    QStringList arguments {"-m", "2", "-r", QStringLiteral("127.0.0.1:%1").arg(sharePort(radios[radio].port))};
    QString program = client;
    if (client == trixie) {
        if (!QFile::exists(trixie + "/usr/bin/rigctl")) {
            QSKIP("no Debian 13 chroot with its rigctl here");
        }
        program = "chroot";
        arguments.prepend("rigctl");
        arguments.prepend(trixie);
    }
    ProgramRun rigctl;
    rigctl.start(program, arguments + commands);
    QCOMPARE(rigctl.waitForExit(20000), 0);
    // Numbers as numbers: Hamlib 4.6's rigctl prints 1.000000 as 1.
    const auto same = [](const QStringList& got, const QStringList& wanted) {
        return got.size() == wanted.size() && std::equal(got.begin(), got.end(), wanted.begin(), [](auto a, auto b) {
                   bool numbers = false;
                   const double x = a.toDouble(&numbers);
                   return numbers ? x == b.toDouble() : a == b;
               });
    };
    QVERIFY2(same(rigctl.lines, printed), qPrintable(rigctl.lines.join(' ') + " / " + printed.join(' ')));
    const QJsonObject read = status(radios[radio].port);
    for (auto expected = after.begin(); expected != after.end(); ++expected) {
        QCOMPARE(read.value(expected.key()), expected.value());
    }
}

void TestShare::lines_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("unknown command: not implemented") << QByteArray("\\get_foo\n") << QByteArray("RPRT -4\n");
    QTest::newRow("unknown letter") << QByteArray("y\n") << QByteArray("RPRT -4\n");
    QTest::newRow("missing argument, not taken from the next line")
        << QByteArray("F\nt\n") << QByteArray("RPRT -1\n0\n");
    QTest::newRow("frequency that is no number") << QByteArray("F abc\n") << QByteArray("RPRT -1\n");
    QTest::newRow("mode Hamlib does not know") << QByteArray("M FOO 2400\n") << QByteArray("RPRT -1\n");
    QTest::newRow("normal passband") << QByteArray("M CW 500\nM USB 0\nm\n")
                                     << QByteArray("RPRT 0\nRPRT 0\nUSB\n2400\n");
    QTest::newRow("split frequency") << QByteArray("S 1 VFOB\nI 7076000\ni\nS 0 VFOA\n")
                                     << QByteArray("RPRT 0\nRPRT 0\n7076000\nRPRT 0\n");
    QTest::newRow("extended forms") << QByteArray("F 14074000\n+f\n;m\n|T 0\n")
                                    << QByteArray("RPRT 0\nget_freq:\nFrequency: 14074000\nRPRT 0\n"
                                                  "get_mode:;Mode: USB;Passband: 2400;RPRT 0\nset_ptt: 0|RPRT 0\n");
    QTest::newRow("VFO mode") << QByteArray("\\set_vfo_opt 1\n\\chk_vfo\nf VFOA\nf\n")
                              << QByteArray("RPRT 0\n1\n14074000\nRPRT -1\n");
    QTest::newRow("lock mode asked before a mode") << QByteArray("\\get_lock_mode\n") << QByteArray("0\nRPRT 0\n");
    QTest::newRow("blank lines and CRLF") << QByteArray("\n \r\n\\chk_vfo\r\n") << QByteArray("0\n");
    QTest::newRow("goodbye closes") << QByteArray("q\nf\n") << QByteArray("RPRT 0\n");
}

void TestShare::lines()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);
    Program program(sharePort(radios[0].port));
    QCOMPARE(program.say(sent, answer.count('\n')), answer);
    const bool goodbye = sent.startsWith("q");
    QCOMPARE(program.closedByServer(goodbye ? 3000 : 100), goodbye);
}

void TestShare::webRequestsRunNothing_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("fetch") << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: https://evil.example\r\n\r\n");
    QTest::newRow("form posting commands")
        << QByteArray("POST / HTTP/1.1\r\nHost: a\r\nContent-Type: text/plain\r\nContent-Length: 8\r\n\r\nT 1\nT 1\n");
    QTest::newRow("preflight") << QByteArray("OPTIONS / HTTP/1.1\r\nHost: a\r\n\r\n");
}

void TestShare::webRequestsRunNothing()
{
    QFETCH(QByteArray, request);
    radios[0].clearCommands();
    Program web(sharePort(radios[0].port));
    QCOMPARE(web.say(request, 1), QByteArray());
    QVERIFY(web.closedByServer());
    QCOMPARE(radios[0].commands(), QStringList());
    QCOMPARE(status(radios[0].port).value("ptt"), QJsonValue(0));
    QVERIFY(!host->log.lines(QRegularExpression("sent a web request .*: closing it$")).isEmpty());
}

void TestShare::programsBesideAPage()
{
    const QString port = radios[0].port;
    QCOMPARE(call("rigInfoSubscribe", {port}), envelope("Success", "subscribed"));
    Program first(sharePort(port));
    Program second(sharePort(port));
    // One sends garbage, one never reads what it asked for: each is closed, and costs the others nothing.
    Program garbage(sharePort(port));
    Program deaf(sharePort(port));
    deaf.socket.setReadBufferSize(1);
    deaf.socket.write(QByteArray("\\dump_state\n").repeated(4000));
    garbage.socket.write(QByteArray(3000, '\x01'));
    QVERIFY(garbage.closedByServer());
    // The page sees the change in the push that follows it; one read may have been under way.
    page->messages.clear();
    QCOMPARE(first.say("F 7030000\n", 1), QByteArray("RPRT 0\n"));
    const auto pushedFreqs = [this] {
        QList<int> freqs;
        for (const QJsonObject& push : page->notifications("RigInfo")) {
            freqs << push.value("params").toObject().value("freq").toInt();
        }
        return freqs;
    };
    QTRY_VERIFY_WITH_TIMEOUT(pushedFreqs().contains(7030000), 1000);
    QVERIFY2(pushedFreqs().indexOf(7030000) <= 1, qPrintable(QString::number(pushedFreqs().indexOf(7030000))));
    // Two programs polling, answered in turn, while the page keeps its pace.
    const int before = page->notifications("RigInfo").size();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 30; ++i) {
        QCOMPARE(first.say("f\n", 1), QByteArray("7030000\n"));
        QCOMPARE(second.say("t\n", 1), QByteArray("0\n"));
        QTest::qWait(100);
    }
    const double rate = (page->notifications("RigInfo").size() - before) * 1000.0 / clock.elapsed();
    QVERIFY2(rate >= 3.5, qPrintable(QString::number(rate)));
    QTRY_VERIFY_WITH_TIMEOUT(
        !host->log.lines(QRegularExpression("does not read what is sent to it: closing it$")).isEmpty(), 10000);
    QCOMPARE(call("rigInfoUnsubscribe", {port}), envelope("Success", "unsubscribed"));
}

void TestShare::pttReleasedWhenProgramLeaves_data()
{
    QTest::addColumn<QString>("leaving");
    QTest::newRow("program closes") << "close";
    QTest::newRow("program says goodbye") << "quit";
    QTest::newRow("program closes while its PTT is with the radio") << "close at once";
    QTest::newRow("operator turns sharing off") << "sharing off";
}

void TestShare::pttReleasedWhenProgramLeaves()
{
    QFETCH(QString, leaving);
    SimRadio& radio = radios[0];
    const QString port = radio.port;
    Program program(sharePort(port));
    radio.clearCommands();
    if (leaving == "close at once") {
        // Silent, the radio holds the request until after the program has gone.
        radio.setAnswering(false);
        program.socket.write("T 1\n");
        QTRY_VERIFY(radio.commands().contains("TX1;"));
        program.socket.abort();
        radio.setAnswering(true);
    } else {
        QCOMPARE(program.say("T 1\n", 1), QByteArray("RPRT 0\n"));
        QCOMPARE(status(port).value("ptt"), QJsonValue(1));
    }
    if (leaving == "quit") {
        QCOMPARE(program.say("q\n", 1), QByteArray("RPRT 0\n"));
    } else if (leaving == "sharing off") {
        host->share(false, firstPort);
        QVERIFY(program.closedByServer());
    } else {
        program.socket.abort();
    }
    QTRY_VERIFY_WITH_TIMEOUT(radio.commands().contains("TX0;"), 15000);
    QCOMPARE(status(port).value("ptt"), QJsonValue(0));
    QCOMPARE(host->log.lines(QRegularExpression("PTT not released")), QStringList());
    host->share(true, firstPort);
}

void TestShare::portsFollowTheSettings()
{
    QStringList ports;
    for (const SimRadio& radio : radios) {
        ports << QString::number(sharePort(radio.port));
    }
    Program program(sharePort(radios[2].port));
    QVERIFY(program.connected());
    // Off: nothing listens, and the programs connected are closed.
    host->share(false, firstPort);
    QVERIFY(program.closedByServer());
    for (const QString& port : ports) {
        QVERIFY(!Program(quint16(port.toInt())).connected());
    }
    QCOMPARE(sharePort(radios[0].port), quint16(0));
    // On again, from a first port another program holds: each radio on the lowest free port above it.
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost, ServiceHost::freeTcpPort()));
    const QStringList told = host->share(true, other.serverPort());
    QList<quint16> shared;
    for (const SimRadio& radio : radios) {
        shared << sharePort(radio.port);
        // What the settings window shows, one radio a line.
        QVERIFY2(told.filter(QRegularExpression(QStringLiteral("^%1 \\(.*\\): 127\\.0\\.0\\.1:%2$")
                                                    .arg(QRegularExpression::escape(radio.port))
                                                    .arg(shared.last())))
                         .size()
                     == 1,
                 qPrintable(told.join('|')));
        const QRegularExpression line(QStringLiteral(R"(\]: Rig %1 \(.*\) shared with the programs of this computer )"
                                                     R"(on 127\.0\.0\.1:%2$)")
                                          .arg(QRegularExpression::escape(radio.port))
                                          .arg(shared.last()));
        QCOMPARE(host->log.lines(line).size(), 1);
    }
    std::sort(shared.begin(), shared.end());
    QVERIFY(shared.first() > other.serverPort());
    // Where nothing else listens (a network of its own), the ports are known.
    const bool isolated = qEnvironmentVariableIsSet("ORVESSA_ISOLATED");
    QVERIFY(!isolated || (shared.first() == other.serverPort() + 1 && shared.last() == shared.first() + 2));
    if (isolated) {
        host->share(true, 80);
        QCOMPARE(QSet<quint16>({sharePort(radios[0].port), sharePort(radios[1].port), sharePort(radios[2].port)}),
                 QSet<quint16>({4532, 4533, 4534}));
    }
    // A disconnected radio's port closes with it; connected again, it is shared again.
    Program leaving(sharePort(radios[2].port));
    QCOMPARE(call("disconnectRig", {radios[2].port}), envelope("Success", "Rig disconnected"));
    QVERIFY(leaving.closedByServer());
    QCOMPARE(call("connectRig", {radios[2].port, 3073, "38400"}), envelope("Success", "Rig connected"));
    QVERIFY(Program(sharePort(radios[2].port)).connected());
    host->share(true, firstPort);
}

void TestShare::deviceOfAnotherProgram()
{
    SimRadio radio;
    QVERIFY(radio.start());
    ProgramRun holder;
    holder.start("sh", {"-c", "exec sleep 30 <\"$0\"", radio.port});
    const QJsonObject refused {{"Error", "Cannot connect rig"}, {"reason", "in use by another program"}};
    QCOMPARE(call("connectRig", {radio.port, 1035, "38400"}), refused);
    const QRegularExpression named(QStringLiteral(R"(\]: Rig %1 is in use by another program: sleep \(pid %2\)$)")
                                       .arg(QRegularExpression::escape(radio.port))
                                       .arg(holder.process.processId()));
    QCOMPARE(host->log.lines(named).size(), 1);
    holder.process.kill();
    holder.waitForExit();
    QCOMPARE(call("connectRig", {radio.port, 1035, "38400"}), envelope("Success", "Rig connected"));
    // A program of another user that opens it now fails at once (root may still open it: the test does).
    QVERIFY(QFile::setPermissions(radio.port, QFileDevice::ReadOther | QFileDevice::WriteOther));
    const auto openAsNobody = [&radio] {
        ProgramRun other;
        other.start("setpriv",
                    {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c", "exec 3<>\"$0\"", radio.port});
        const int code = other.waitForExit();
        return qMakePair(code, QString::fromUtf8(other.errors));
    };
    const auto busy = openAsNobody();
    if (busy.first != 0 && busy.second.contains("setpriv")) {
        QSKIP("cannot run a program as another user here");
    }
    QVERIFY2(busy.first != 0 && busy.second.contains("Device or resource busy"),
             qPrintable(QString::number(busy.first) + busy.second));
    QCOMPARE(call("disconnectRig", {radio.port}), envelope("Success", "Rig disconnected"));
    QTRY_COMPARE(radio.hosts(), QList<int>());
    QCOMPARE(openAsNobody().first, 0);
}

QTEST_GUILESS_MAIN(TestShare)
#include "tst_share.moc"
