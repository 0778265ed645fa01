// The program's own logic without a network or windows: the diagnostic log, the autostart entry, the port
// checks and the recognition of QSO datagrams.
#include "LogCapture.h"
#include "app/Log.h"
#include "relay/UdpMulticast.h"
#include "server/RPCWorker.h"
#include "shell/Autostart.h"
#include "shell/SettingsWindow.h"

#include <QTest>

#include <ctime>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(UdpMulticast::PatternChoice)

namespace {

const QString stamp = QStringLiteral(R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\])");

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private slots:
    void logLines();
    void timestampAndThreadId();
    void linesFromManyThreadsStayWhole();
    void execValue_data();
    void execValue();
    void portField_data();
    void portField();
    void portToListen_data();
    void portToListen();
    void patternChoice_data();
    void patternChoice();
    void recognition_data();
    void recognition();
};

void TestShell::logLines()
{
    LogCapture log;
    LOG("plain {} {} {} {}\n", 42, true, "text", reinterpret_cast<const void*>(0xbeef));
    LOG("{} and {}\n", 1);
    LOG("[{:>8}] [{}]\n", QStringLiteral("ab"), QString::fromUtf8("Citt\u00e0 \u263a"));
    qtMessageHandler(QtWarningMsg, QMessageLogContext(), QStringLiteral("no context"));
    qtMessageHandler(QtCriticalMsg, QMessageLogContext(nullptr, 7, "f", "c"), QStringLiteral("no file"));
    qtMessageHandler(QtInfoMsg, QMessageLogContext("file.cpp", 13, "someFunction", "c"), QStringLiteral("z"));
    qtMessageHandler(static_cast<QtMsgType>(42), QMessageLogContext("f.cpp", 1, "f", "c"), QStringLiteral("never"));
    const QString expected = "^" + stamp + R"(\[logLines:\d+\]: plain 42 true text 0xbeef\n)"
        + R"(ERROR FORMATTING: \{\} and \{\}\n\n)" + stamp
        + QString::fromUtf8(R"(\[logLines:\d+\]: \[      ab\] \[Citt\x{e0} \x{263a}\]\n)") + stamp
        + R"(\[QtLogs:0\]: Warning: no context\n)" + stamp + R"(\[QtLogs:0\]: Critical: no file\n)" + stamp
        + R"(\[someFunction:13\]: Info: z\n$)";
    const QString text = QString::fromUtf8(log.text());
    QVERIFY2(QRegularExpression(expected).match(text).hasMatch(), qPrintable(text));
}

void TestShell::timestampAndThreadId()
{
    std::tm local {};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 1;
    local.tm_mday = 8;
    local.tm_hour = 5;
    local.tm_min = 9;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(999);
    QCOMPARE(QString::fromStdString(timestampText(when)), QStringLiteral("2026/02/08 05:09:07"));

    const QString main = QString::fromStdString(threadIdText());
    QString other;
    std::thread([&other] { other = QString::fromStdString(threadIdText()); }).join();
    QVERIFY2(QRegularExpression("^0x[1-9a-f][0-9a-f]*$").match(main).hasMatch(), qPrintable(main));
    QVERIFY(QRegularExpression("^0x[1-9a-f][0-9a-f]*$").match(other).hasMatch() && other != main);
}

void TestShell::linesFromManyThreadsStayWhole()
{
    LogCapture log;
    std::vector<std::thread> threads;
    for (char t = 'a'; t < 'e'; ++t) {
        threads.emplace_back([t] {
            const std::string payload(3000, t);
            for (int i = 0; i < 300; ++i) {
                LOG("line {} {}\n", i, payload);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const QStringList lines = log.lines(QRegularExpression("."));
    QCOMPARE(lines.size(), 4 * 300);
    const QRegularExpression form("^" + stamp + R"(\[operator\(\):\d+\]: line (\d+) ([a-d])\2{2999}$)");
    QMap<QString, int> next;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = form.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line.left(100)));
        QCOMPARE(match.captured(1).toInt(), next[match.captured(2)]++);
    }
}

void TestShell::execValue_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain path kept") << "/opt/orv-1.2+x/bin/orvessa"
                                     << "/opt/orv-1.2+x/bin/orvessa";
    QTest::newRow("blank") << "/home/op/My Apps/orvessa"
                           << "\"/home/op/My Apps/orvessa\"";
    QTest::newRow("dollar and backtick") << "/a$b`c/orvessa"
                                         << R"("/a\\$b\\`c/orvessa")";
    QTest::newRow("double quote") << "/a\"b/orvessa"
                                  << R"("/a\\"b/orvessa")";
    QTest::newRow("backslash") << "/a\\b/orvessa"
                               << R"("/a\\\\b/orvessa")";
    QTest::newRow("single quote and parentheses") << "/op's (old)/orvessa"
                                                  << "\"/op's (old)/orvessa\"";
    QTest::newRow("tab") << "/a\tb/orvessa"
                         << R"("/a\tb/orvessa")";
    QTest::newRow("percent alone") << "/100%/orvessa"
                                   << "/100%%/orvessa";
    QTest::newRow("percent with blank") << "/100 %/orvessa"
                                        << "\"/100 %%/orvessa\"";
    QTest::newRow("non-ASCII letters kept")
        << QString::fromUtf8("/home/citt\u00e0/orvessa") << QString::fromUtf8("/home/citt\u00e0/orvessa");
}

void TestShell::execValue()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);
    QCOMPARE(desktopExecValue(path), exec);
    QCOMPARE(autostartEntryText(path),
             "[Desktop Entry]\nType=Application\nExec=" + exec
                 + "\nHidden=false\nNoDisplay=false\nX-GNOME-Autostart-enabled=true\nName=Orvessa\n"
                   "Comment=Avvio automatico per Orvessa\n");
}

void TestShell::portField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QValidator::State>("state");
    for (const char* saved : {"1024", "7351", "65535", "65529"}) {
        QTest::addRow("%s is saved", saved) << saved << QValidator::Acceptable;
    }
    for (const char* prefix : {"", "1023", "80", "655"}) {
        QTest::addRow("'%s' may go on", prefix) << prefix << QValidator::Intermediate;
    }
    for (const char* refused : {"65536", "01024", "70000", "123456", "12a", "-1"}) {
        QTest::addRow("%s cannot be typed", refused) << refused << QValidator::Invalid;
    }
}

void TestShell::portField()
{
    QFETCH(QString, text);
    QFETCH(QValidator::State, state);
    QCOMPARE(SettingsWindow::checkPort(text), state);
}

void TestShell::portToListen_data()
{
    QTest::addColumn<int>("listening");
    QTest::addColumn<QVariant>("stored");
    // 0 keeps the server as it is.
    QTest::addColumn<int>("port");
    QTest::newRow("default when closed") << 0 << QVariant(7351) << 7351;
    QTest::newRow("stored port when closed") << 0 << QVariant(7390) << 7390;
    QTest::newRow("same port is kept") << 7390 << QVariant(7390) << 0;
    QTest::newRow("edge ports are valid") << 0 << QVariant(1024) << 1024;
    QTest::newRow("another port moves") << 7351 << QVariant(65535) << 65535;
    QTest::newRow("80 is below the range") << 0 << QVariant(80) << 7351;
    QTest::newRow("below the range reopens every time") << 7351 << QVariant(80) << 7351;
    QTest::newRow("65536 is above the range") << 0 << QVariant(65536) << 7351;
    QTest::newRow("text stored") << 0 << QVariant(QStringLiteral("port")) << 7351;
    QTest::newRow("0 stored") << 0 << QVariant(0) << 7351;
}

void TestShell::portToListen()
{
    QFETCH(int, listening);
    QFETCH(QVariant, stored);
    QFETCH(int, port);
    QCOMPARE(RPCWorker::portToListen(listening, stored), port);
}

void TestShell::patternChoice_data()
{
    using Choice = UdpMulticast::PatternChoice;
    QTest::addColumn<QVariant>("given");
    QTest::addColumn<Choice>("choice");
    QTest::addColumn<QStringList>("patterns");
    const QStringList defaults {"adif", "<CALL:", "<?xml", "ADDQSO:"};
    QTest::newRow("none gives the defaults") << QVariant() << Choice::Defaults << defaults;
    QTest::newRow("null gives the defaults") << QVariant::fromValue(nullptr) << Choice::Defaults << defaults;
    QTest::newRow("empty list accepts all") << QVariant(QStringList()) << Choice::NoFilters << QStringList();
    QTest::newRow("list kept as given") << QVariant(QStringList {"QSO", "", "QSO"}) << Choice::NewFilters
                                        << QStringList {"QSO", "", "QSO"};
    QTest::newRow("map is invalid") << QVariant(QVariantMap {{"a", 1}}) << Choice::Invalid << defaults;
}

void TestShell::patternChoice()
{
    QFETCH(QVariant, given);
    QFETCH(UdpMulticast::PatternChoice, choice);
    QFETCH(QStringList, patterns);
    QStringList chosen {"stale"};
    QCOMPARE(UdpMulticast::choosePatterns(given, chosen), choice);
    QCOMPARE(chosen, patterns);
}

void TestShell::recognition_data()
{
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QByteArray>("datagram");
    // Index of the pattern that accepts it, or -1.
    QTest::addColumn<int>("match");
    const QByteArray adif = "<CALL:5>IK2XY <BAND:3>20m <MODE:3>FT8 <EOR>";
    const QByteArray lowerCall = "<call:5>IK2XY <band:3>20m <eor>";
    QTest::newRow("ADIF call tag") << defaultPatterns << adif << 1;
    QTest::newRow("lower-case call tag alone") << defaultPatterns << lowerCall << -1;
    QTest::newRow("lower-case ADIF header") << defaultPatterns << "<adif_ver:5>3.1.0 " + lowerCall << 0;
    QTest::newRow("first marker in list order wins")
        << defaultPatterns << QByteArray("ADDQSO: <?xml version=\"1.0\"?>") << 2;
    QTest::newRow("own filter rejects ADIF") << QStringList {"QSO"} << adif << -1;
    QTest::newRow("own filter accepts") << QStringList {"QSO"} << QByteArray("a QSO line") << 0;
    QTest::newRow("empty filter accepts anything") << QStringList {""} << QByteArray("\xff\x00", 2) << 0;
    QTest::newRow("UTF-8 filter matches its bytes")
        << QStringList {QString::fromUtf8("Citt\u00e0")} << QByteArray("QTH Citt\xc3\xa0") << 0;
    QTest::newRow("UTF-8 filter against Latin-1 bytes")
        << QStringList {QString::fromUtf8("Citt\u00e0")} << QByteArray("QTH Citt\xe0") << -1;
}

void TestShell::recognition()
{
    QFETCH(QStringList, patterns);
    QFETCH(QByteArray, datagram);
    QFETCH(int, match);
    QCOMPARE(UdpMulticast::firstMatchingPattern(patterns, datagram), match);
    const QVariantMap payload = UdpMulticast::qsoPayload(datagram);
    QCOMPARE(payload.keys(), QStringList({"CacheID", "UDPData"}));
    QCOMPARE(payload.value("CacheID"), QVariant(QStringLiteral("not implemented")));
    QCOMPARE(QByteArray::fromBase64(payload.value("UDPData").toByteArray(), QByteArray::AbortOnBase64DecodingErrors),
             datagram);
    // The standard alphabet with padding, not the URL-safe one.
    QCOMPARE(UdpMulticast::qsoPayload("\xfb\xff").value("UDPData").toByteArray(), QByteArray("+/8="));
}

QTEST_APPLESS_MAIN(TestShell)

#include "tst_shell.moc"
