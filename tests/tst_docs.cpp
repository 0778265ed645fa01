// The documented way to try Orvessa without a radio: the simulated radio, the program and the terminal client.
#include "LineProcess.h"
#include "Orvessa.h"
#include "OrvessaRun.h"
#include "TestEnvironment.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QtTest>

class tst_Docs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void terminalClient_data();
    void terminalClient();

private:
    LineProcess radio;
    OrvessaRun orvessa;
    QString pty;
    quint16 port = 0;
};

void tst_Docs::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty(), "python3 is not installed");
    radio.start(QStringLiteral(ORVESSA_RIGSIM), {}, QProcessEnvironment::systemEnvironment());
    pty = radio.waitForLine(QRegularExpression(QStringLiteral("^/dev/")));
    QVERIFY2(!pty.isEmpty(), radio.standardError().constData());

    const quint16 wanted = TestEnvironment::freeTcpPort();
    QVERIFY(wanted != 0);
    orvessa.storePort(wanted);
    port = orvessa.startListening();
    QCOMPARE(port, wanted);
}

void tst_Docs::cleanupTestCase()
{
    orvessa.terminate();
    orvessa.waitForExit();
    radio.terminate();
    radio.waitForExit();
}

void tst_Docs::terminalClient_data()
{
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("exitCode");
    // Each pattern must match a line of the client's output, in this order.
    QTest::addColumn<QStringList>("expected");

    const QString allowed = allowedOrigins().first();
    QTest::newRow("connect, tune and watch the pushes")
        << allowed
        << QStringList {QStringLiteral("--listen"),
                        QStringLiteral("1"),
                        QStringLiteral("connectRig"),
                        QStringLiteral(R"(["%1", 1035, "38400"])").arg(pty),
                        QStringLiteral("setFreq"),
                        QStringLiteral(R"(["%1", 7074000])").arg(pty),
                        QStringLiteral("rigInfoSubscribe"),
                        QStringLiteral(R"(["%1"])").arg(pty)}
        << 0
        << QStringList {QStringLiteral(R"(^>>> .*"id": 1, "method": "connectRig")"),
                        QStringLiteral(R"("Success": "Rig connected")"),
                        QStringLiteral(R"("freq": 7074000)"),
                        QStringLiteral(R"("Success": "subscribed")"),
                        QStringLiteral(R"("method": "RigInfo")"),
                        QStringLiteral(R"("method": "RigInfo")")};
    QTest::newRow("parameters by name and an error answer")
        << allowed
        << QStringList {QStringLiteral("setPTT"),
                        QStringLiteral(R"({"ptt": 4, "serialName": "%1"})").arg(pty),
                        QStringLiteral("nosuch")}
        << 0
        << QStringList {QStringLiteral(R"re("Error": "Invalid PTT value \(0=OFF, 1=ON, 2=MIC, 3=ACC\)")re"),
                        QStringLiteral(R"("message": "method 'nosuch' not found, check name and parameter types ")")};
    QTest::newRow("origin not on the allow-list")
        << QStringLiteral("https://not-allowed.example") << QStringList {QStringLiteral("ovInfo")} << 1
        << QStringList {QStringLiteral("handshake refused: HTTP/1.1 403")};
}

void tst_Docs::terminalClient()
{
    QFETCH(QString, origin);
    QFETCH(QStringList, calls);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);

    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(QStringLiteral("python3"),
                 QStringList {QStringLiteral(ORVESSA_SOURCE_DIR "/docs/orvessa-call.py"),
                              QStringLiteral("--port"),
                              QString::number(port),
                              QStringLiteral("--origin"),
                              origin}
                     + calls);
    QVERIFY(client.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(client.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(client.exitCode(), exitCode);

    int from = 0;
    for (const QString& pattern : expected) {
        const QRegularExpression wanted(pattern);
        while (from < lines.size() && !wanted.match(lines.at(from)).hasMatch()) {
            ++from;
        }
        QVERIFY2(from < lines.size(), qPrintable(pattern + QStringLiteral("\nnot in:\n") + lines.join('\n')));
        ++from;
    }
}

QTEST_GUILESS_MAIN(tst_Docs)
#include "tst_docs.moc"
