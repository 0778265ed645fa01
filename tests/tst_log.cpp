#include "Log.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <chrono>
#include <ctime>
#include <thread>

namespace {

const QString stamp = QStringLiteral(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\])");

QByteArray runProbe(const QString& scenario)
{
    QProcess probe;
    probe.start(QStringLiteral(ORVESSA_LOGPROBE), {scenario});
    if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        qWarning() << "probe failed:" << probe.readAllStandardError();
        return QByteArray("probe failed");
    }
    return probe.readAllStandardOutput();
}

} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void timestampIsLocalWallClock();
    void threadIdIsHexadecimal();
    void output_data();
    void output();
    void linesFromManyThreadsStayWhole();
};

void TestLog::timestampIsLocalWallClock()
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
}

void TestLog::threadIdIsHexadecimal()
{
    const QRegularExpression form(QStringLiteral("^0x[0-9a-f]+$"));
    const QString main = QString::fromStdString(threadIdText());
    QVERIFY2(form.match(main).hasMatch(), qPrintable(main));
    QVERIFY(!main.startsWith(QStringLiteral("0x0")));

    std::string other;
    std::thread([&other] { other = threadIdText(); }).join();
    QVERIFY(form.match(QString::fromStdString(other)).hasMatch());
    QVERIFY(QString::fromStdString(other) != main);
}

void TestLog::output_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("pattern");

    QTest::newRow("texts, integers and booleans") << "line"
                                                  << "^" + stamp + R"(\[main:\d+\]: plain 42 true text\n$)";
    QTest::newRow("pointer in fmt's form") << "pointer"
                                           << "^" + stamp + R"(\[main:\d+\]: at 0xbeef\n$)";
    QTest::newRow("format that does not fit its arguments")
        << "bad-format"
        << "^ERROR FORMATTING: \\{\\} and \\{\\}\\n\\nERROR FORMATTING: \\{:d\\}\\n\\n" + stamp
            + R"(\[main:\d+\]: still logging\n$)";
    QTest::newRow("QString as UTF-8 with width")
        << "qstring"
        << "^" + stamp + QStringLiteral(R"(\[main:\d+\]: \[Citt\x{e0} \x{263a}\] \[      ab\]\n$)");
    QTest::newRow("Qt message without context") << "qt-no-context"
                                                << "^" + stamp + R"(\[QtLogs:0\]: Warning: some Qt warning\n$)";
    QTest::newRow("Qt message without file") << "qt-half-context"
                                             << "^" + stamp + R"(\[QtLogs:0\]: Critical: x\n$)";
    QTest::newRow("Qt messages with context")
        << "qt-context"
        << "^" + stamp + R"(\[someFunction:12\]: Debug: y\n)" + stamp + R"(\[someFunction:13\]: Info: z\n$)";
    QTest::newRow("unknown message type prints nothing") << "qt-unknown-type"
                                                         << "^" + stamp + R"(\[main:\d+\]: after\n$)";
    QTest::newRow("qWarning through the installed handler")
        << "qt-installed"
        << "^" + stamp + R"(\[QtLogs:0\]: Warning: through qWarning\n$)";
}

void TestLog::output()
{
    QFETCH(QString, scenario);
    QFETCH(QString, pattern);
    const QString output = QString::fromUtf8(runProbe(scenario));
    QVERIFY2(QRegularExpression(pattern).match(output).hasMatch(), qPrintable(output));
}

void TestLog::linesFromManyThreadsStayWhole()
{
    const QByteArray output = runProbe(QStringLiteral("threads"));
    QVERIFY(output.endsWith('\n'));
    const QList<QByteArray> lines = output.left(output.size() - 1).split('\n');
    QCOMPARE(lines.size(), 4 * 400);

    const QRegularExpression form("^" + stamp + R"(\[operator\(\):\d+\]: thread (\d) line (\d+) ([a-d]{3000})$)");
    int next[4] = {0, 0, 0, 0};
    for (const QByteArray& line : lines) {
        const auto match = form.match(QString::fromLatin1(line));
        QVERIFY2(match.hasMatch(), line.left(120).constData());
        const int thread = match.captured(1).toInt();
        QCOMPARE(match.captured(3), QString(3000, QLatin1Char('a' + thread)));
        QCOMPARE(match.captured(2).toInt(), next[thread]++);
    }
}

QTEST_APPLESS_MAIN(TestLog)
#include "tst_log.moc"
