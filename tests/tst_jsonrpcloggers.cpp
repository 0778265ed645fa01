#include "Log.h"
#include "MessageCapture.h"
#include "RpcClient.h"
#include "StdoutCapture.h"
#include "jcon/JsonRpcDebugLogger.h"
#include "jcon/JsonRpcFileLogger.h"
#include "jcon/JsonRpcWebSocketServer.h"
#include "jcon/VariantToString.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestJsonRpcLoggers : public QObject
{
    Q_OBJECT

private slots:
    void variantText_data();
    void variantText();
    void debugLinesReachTheDiagnosticLog();
    void serverLinesAreDebugMessages();
    void fileLoggerTruncatesAndKeepsEveryLine();
    void serverWithoutLoggerWritesItsFile();
};

void TestJsonRpcLoggers::variantText_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("list of one") << QVariant(QVariantList {1}) << "list (1 elements)";
    QTest::newRow("nested lists are not expanded")
        << QVariant(QVariantList {QVariantList {1, 2}, 3}) << "list (2 elements)";
    QTest::newRow("empty map") << QVariant(QVariantMap()) << "map (0 elements)";
    QTest::newRow("string as is") << QVariant(QStringLiteral("COM1 x")) << "COM1 x";
    QTest::newRow("boolean") << QVariant(false) << "false";
    QTest::newRow("double") << QVariant(14074000.5) << "14074000.5";
    QTest::newRow("invalid") << QVariant() << "N/A";
    QTest::newRow("no text form") << QVariant::fromValue(QPoint(1, 2)) << "N/A";
}

void TestJsonRpcLoggers::variantText()
{
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    QCOMPARE(jcon::variantToString(value), text);
    QCOMPARE(jcon::variantsToStrings({value, value}), QStringList({text, text}));
}

void TestJsonRpcLoggers::debugLinesReachTheDiagnosticLog()
{
    const QtMessageHandler previous = qInstallMessageHandler(qtMessageHandler);
    StdoutCapture output;
    jcon::JsonRpcDebugLogger logger;
    logger.logError(QStringLiteral("JSON RPC server error: invalid protocol tag"));
    logger.logInfo(QStringLiteral("JSON RPC server: say \"hi\" to Citt\u00e0"));
    logger.logWarning(QStringLiteral("w"));
    logger.logDebug(QStringLiteral("d"));
    const QString log = QString::fromUtf8(output.take());
    qInstallMessageHandler(previous);

    const QString stamp = QStringLiteral(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\]\[QtLogs:0\]: Debug: )");
    const QRegularExpression expected("^" + stamp + "JSON RPC server error: invalid protocol tag\n" + stamp
                                      + QStringLiteral("JSON RPC server: say \"hi\" to Citt\u00e0\n") + stamp + "w\n"
                                      + stamp + "d\n$");
    QVERIFY2(expected.match(log).hasMatch(), qPrintable(log));
}

void TestJsonRpcLoggers::serverLinesAreDebugMessages()
{
    MessageCapture capture;
    {
        jcon::JsonRpcWebSocketServer server(
            QStringList {QStringLiteral("https://qsl.example")}, nullptr, std::make_shared<jcon::JsonRpcDebugLogger>());
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        RpcClient client(QStringLiteral("https://qsl.example"));
        QVERIFY(client.open(static_cast<quint16>(server.port())));
        QTRY_COMPARE(MessageCapture::debugLines().size(), 2);
        client.send(QStringLiteral(R"({"jsonrpc": "2", "id": 1})"));
        client.send(QStringLiteral("]"));
        QTRY_COMPARE(MessageCapture::debugLines().size(), 4);
    }
    QCOMPARE(MessageCapture::debugLines().mid(0, 4),
             QStringList({
                 QStringLiteral("JSON RPC server: listening on port 0"),
                 QStringLiteral("JSON RPC server: client connected: 127.0.0.1"),
                 QStringLiteral("JSON RPC server error: invalid protocol tag"),
                 QStringLiteral("Malformed request"),
             }));
    QCOMPARE(MessageCapture::otherMessages(), 0);
}

void TestJsonRpcLoggers::fileLoggerTruncatesAndKeepsEveryLine()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString name = folder.filePath(QStringLiteral("traffic.txt"));
    QFile old(name);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an old line that must go\n");
    old.close();

    QStringList written;
    {
        jcon::JsonRpcFileLogger logger(name);
        // Far more than one buffer's worth, so lines cross buffer flushes and the final one.
        for (int i = 0; i < 5000; ++i) {
            const QString line = QStringLiteral("line %1 \u00e0").arg(i);
            written.append(line);
            switch (i % 4) {
            case 0:
                logger.logDebug(line);
                break;
            case 1:
                logger.logInfo(line);
                break;
            case 2:
                logger.logWarning(line);
                break;
            default:
                logger.logError(line);
            }
        }
    }
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()), written.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TestJsonRpcLoggers::serverWithoutLoggerWritesItsFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    {
        jcon::JsonRpcWebSocketServer server(nullptr, nullptr);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    }
    QDir::setCurrent(previous);
    QFile file(folder.filePath(QStringLiteral("json_server_log.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("JSON RPC server: listening on port 0\n"));
}

QTEST_GUILESS_MAIN(TestJsonRpcLoggers)
#include "tst_jsonrpcloggers.moc"
