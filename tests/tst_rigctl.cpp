// The text of Hamlib's network protocol without a network: lines cut out of what arrives, web requests told apart,
// commands read and their answers written, plain and extended.
#include "share/RigctlCommand.h"
#include "share/RigctlLines.h"

#include <QTest>

using Lines = QList<QByteArray>;
Q_DECLARE_METATYPE(RigctlCommand::Status)

class TestRigctl : public QObject
{
    Q_OBJECT

private slots:
    void cutting_data();
    void cutting();
    void webRequests_data();
    void webRequests();
    void parsing_data();
    void parsing();
    void answers_data();
    void answers();
    void requests_data();
    void requests();
    void codes_data();
    void codes();
};

void TestRigctl::cutting_data()
{
    QTest::addColumn<Lines>("chunks");
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<bool>("overlong");
    const QByteArray longest(RigctlLines::maxLineBytes, 'a');
    QTest::newRow("line by line") << Lines {"f\n", "m\n"} << Lines {"f", "m"} << false;
    QTest::newRow("cut anywhere") << Lines {"F 70", "74000\nm", "\n"} << Lines {"F 7074000", "m"} << false;
    QTest::newRow("CRLF") << Lines {"f\r\n\r\n"} << Lines {"f", ""} << false;
    QTest::newRow("no end yet") << Lines {"f"} << Lines {} << false;
    QTest::newRow("longest line") << Lines {longest + "\r\n"} << Lines {longest} << false;
    QTest::newRow("one byte longer") << Lines {longest + "a\nf\n"} << Lines {} << true;
    QTest::newRow("long without end") << Lines {longest, "aa"} << Lines {} << true;
    QTest::newRow("after a good line") << Lines {"f\n" + longest + "aa"} << Lines {"f"} << true;
}

void TestRigctl::cutting()
{
    QFETCH(Lines, chunks);
    QFETCH(Lines, lines);
    QFETCH(bool, overlong);
    RigctlLines cutter;
    Lines cut;
    for (const QByteArray& chunk : chunks) {
        QVERIFY(cutter.room() > 0);
        cutter.append(chunk);
        while (const std::optional<QByteArray> line = cutter.next()) {
            cut << *line;
        }
    }
    QCOMPARE(cut, lines);
    QCOMPARE(cutter.overlong(), overlong);
}

void TestRigctl::webRequests_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("web");
    QTest::newRow("fetch") << QByteArray("GET / HTTP/1.1") << true;
    QTest::newRow("form") << QByteArray("POST /x?y=1 HTTP/1.0") << true;
    QTest::newRow("preflight") << QByteArray("OPTIONS * HTTP/1.1") << true;
    QTest::newRow("HTTP/2 preface") << QByteArray("PRI * HTTP/2.0") << true;
    QTest::newRow("method of its own") << QByteArray("BREW /pot HTTP/1.1") << true;
    QTest::newRow("known method, no version yet") << QByteArray("PUT /") << true;
    QTest::newRow("a read") << QByteArray("f") << false;
    QTest::newRow("a VFO operation") << QByteArray("G UP") << false;
    QTest::newRow("a parameter") << QByteArray("P BACKLIGHT 1") << false;
    QTest::newRow("a long name") << QByteArray("\\get_powerstat") << false;
    QTest::newRow("lower case") << QByteArray("get / http/1.1") << false;
}

void TestRigctl::webRequests()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, web);
    QCOMPARE(RigctlLines::looksLikeHttp(line), web);
}

void TestRigctl::parsing_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("vfoMode");
    QTest::addColumn<RigctlCommand::Status>("status");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("vfo");
    QTest::addColumn<Lines>("arguments");
    QTest::addColumn<char>("separator");
    using S = RigctlCommand::Status;
    QTest::newRow("letter") << QByteArray("f") << false << S::Command << QByteArray("get_freq") << QByteArray()
                            << Lines {} << '\0';
    QTest::newRow("long name") << QByteArray("\\set_freq 14074000.000000") << false << S::Command
                               << QByteArray("set_freq") << QByteArray() << Lines {"14074000.000000"} << '\0';
    QTest::newRow("blanks and tabs") << QByteArray("  M\tUSB   2400 ") << false << S::Command << QByteArray("set_mode")
                                     << QByteArray() << Lines {"USB", "2400"} << '\0';
    QTest::newRow("surplus ignored") << QByteArray("t 1 2") << false << S::Command << QByteArray("get_ptt")
                                     << QByteArray() << Lines {} << '\0';
    QTest::newRow("extended +") << QByteArray("+\\get_mode") << false << S::Command << QByteArray("get_mode")
                                << QByteArray() << Lines {} << '\n';
    QTest::newRow("extended |") << QByteArray("| T 1") << false << S::Command << QByteArray("set_ptt") << QByteArray()
                                << Lines {"1"} << '|';
    QTest::newRow("VFO mode names the VFO")
        << QByteArray("S VFOA 1 VFOB") << true << S::Command << QByteArray("set_split_vfo") << QByteArray("VFOA")
        << Lines {"1", "VFOB"} << '\0';
    QTest::newRow("VFO mode, V names none") << QByteArray("V VFOB") << true << S::Command << QByteArray("set_vfo")
                                            << QByteArray() << Lines {"VFOB"} << '\0';
    QTest::newRow("missing argument") << QByteArray("L RFPOWER") << false << S::MissingArguments
                                      << QByteArray("set_level") << QByteArray() << Lines {"RFPOWER"} << '\0';
    QTest::newRow("missing VFO") << QByteArray("f") << true << S::MissingArguments << QByteArray("get_freq")
                                 << QByteArray() << Lines {} << '\0';
    QTest::newRow("unknown letter") << QByteArray("y") << false << S::Unknown << QByteArray() << QByteArray()
                                    << Lines {} << '\0';
    QTest::newRow("unknown name") << QByteArray("\\halt") << false << S::Unknown << QByteArray() << QByteArray()
                                  << Lines {} << '\0';
    QTest::newRow("separator alone") << QByteArray(";") << false << S::Empty << QByteArray() << QByteArray() << Lines {}
                                     << ';';
}

void TestRigctl::parsing()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, vfoMode);
    const RigctlCommand command = RigctlCommand::parse(line, vfoMode);
    QTEST(command.status, "status");
    QTEST(command.name, "name");
    QTEST(command.vfo, "vfo");
    QTEST(command.arguments, "arguments");
    QTEST(command.separator, "separator");
}

void TestRigctl::answers_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("values");
    // 0 for an answer with the values, Hamlib's code of a failure otherwise.
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("answer");
    const QStringList mode {"USB", "2400"};
    QTest::newRow("read") << QByteArray("m") << mode << 0 << QByteArray("USB\n2400\n");
    QTest::newRow("set") << QByteArray("F 7074000") << QStringList() << 0 << QByteArray("RPRT 0\n");
    QTest::newRow("failure") << QByteArray("f") << QStringList() << -5 << QByteArray("RPRT -5\n");
    QTest::newRow("extended read") << QByteArray("+f") << QStringList {"14074000"} << 0
                                   << QByteArray("get_freq:\nFrequency: 14074000\nRPRT 0\n");
    QTest::newRow("extended read, separator")
        << QByteArray(";m") << mode << 0 << QByteArray("get_mode:;Mode: USB;Passband: 2400;RPRT 0\n");
    QTest::newRow("extended set") << QByteArray("|M USB 2400") << QStringList() << 0
                                  << QByteArray("set_mode: USB 2400|RPRT 0\n");
    QTest::newRow("extended failure") << QByteArray("+F 7") << QStringList() << -5
                                      << QByteArray("set_freq: 7\nRPRT -5\n");
    QTest::newRow("extended level, a bare value")
        << QByteArray("+l STRENGTH") << QStringList {"-3"} << 0 << QByteArray("get_level: STRENGTH\n-3\nRPRT 0\n");
    QTest::newRow("extended in VFO mode")
        << QByteArray("+F VFOB 7") << QStringList() << 0 << QByteArray("set_freq: VFOB 7\nRPRT 0\n");
    QTest::newRow("VFO mode asked, extended")
        << QByteArray("+\\chk_vfo") << QStringList {"0"} << 0 << QByteArray("ChkVFO: 0\n");
    QTest::newRow("lock mode, plain") << QByteArray("\\get_lock_mode") << QStringList {"0"} << 0
                                      << QByteArray("0\nRPRT 0\n");
    QTest::newRow("goodbye, extended") << QByteArray("+q") << QStringList() << 0 << QByteArray("RPRT 0\n");
    QTest::newRow("capabilities, whole") << QByteArray("\\dump_state") << QStringList {"1\n1035\ndone\n"} << 0
                                         << QByteArray("1\n1035\ndone\n");
}

void TestRigctl::answers()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, values);
    QFETCH(int, code);
    const RigctlCommand command = RigctlCommand::parse(line, line.contains("VFOB 7"));
    QTEST(code == 0 ? command.answer(values) : command.report(code), "answer");
}

void TestRigctl::requests_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("vfoMode");
    QTest::addColumn<QVariantMap>("request");
    const auto rigctl = [](const char* command, const QVariantList& arguments) {
        return QVariantMap {{"op", "rigctl"}, {"command", command}, {"arguments", arguments}};
    };
    QTest::newRow("frequency as a page sets it")
        << QByteArray("F 14074000.500000") << false << QVariantMap {{"op", "setFreq"}, {"freq", 14074000.5}};
    QTest::newRow("PTT as a page sets it") << QByteArray("T 3") << false << QVariantMap {{"op", "setPTT"}, {"ptt", 3}};
    QTest::newRow("PTT past the range") << QByteArray("T 4") << false << rigctl("set_ptt", {"4"});
    QTest::newRow("frequency that is no number") << QByteArray("F 7e") << false << rigctl("set_freq", {"7e"});
    QVariantMap onVfoB = rigctl("set_freq", {"7000000"});
    onVfoB.insert("vfo", "VFOB");
    QTest::newRow("frequency of a VFO named") << QByteArray("F VFOB 7000000") << true << onVfoB;
    QTest::newRow("a read") << QByteArray("l RAWSTR") << false << rigctl("get_level", {"RAWSTR"});
}

void TestRigctl::requests()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, vfoMode);
    QTEST(RigctlCommand::parse(line, vfoMode).request(), "request");
}

void TestRigctl::codes_data()
{
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("code");
    QTest::newRow("radio silent") << "Communication timed out" << -5;
    QTest::newRow("radio refused") << "Command rejected by the rig" << -9;
    QTest::newRow("model lacks it") << "Feature not available" << -11;
    QTest::newRow("queue full") << "Rig busy: too many requests are waiting for it" << -14;
    QTest::newRow("refused by Orvessa") << "Invalid mode" << -1;
    QTest::newRow("radio's process gone") << "Rig not connected" << -6;
}

void TestRigctl::codes()
{
    QFETCH(QString, error);
    QTEST(RigctlCommand::codeOf(error), "code");
}

QTEST_APPLESS_MAIN(TestRigctl)
#include "tst_rigctl.moc"
