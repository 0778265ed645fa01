#include "AppSettings.h"
#include "Orvessa.h"
#include "RPCWorker.h"
#include "RpcClient.h"
#include "StdoutCapture.h"
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace { } // namespace

// The worker in its own thread, as start-up runs it, restarted by hand as a settings save does.
class TestRPCWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void samePortKeepsClients();
    void newPortClosesClientsAndMoves();
    void portOutOfRangeListensOnDefault_data();
    void portOutOfRangeListensOnDefault();
    void threadEndClosesClientsNormally();

private:
    void restartWorker();

    QTemporaryDir settingsHome;
    const QString origin = allowedOrigins().value(0);
    RPCWorker* worker = nullptr;
    QThread* thread = nullptr;
};

void TestRPCWorker::initTestCase()
{
    QCoreApplication::setOrganizationName(AppSettings::organizationName);
    QCoreApplication::setApplicationName(AppSettings::applicationName);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome.path());
}

void TestRPCWorker::init()
{
    QSettings().clear();
    worker = new RPCWorker(allowedOrigins());
    thread = new QThread();
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &RPCWorker::restart);
    connect(thread, &QThread::finished, worker, &RPCWorker::finish);
}

void TestRPCWorker::cleanup()
{
    thread->quit();
    thread->wait();
    delete thread;
    delete worker;
}

void TestRPCWorker::restartWorker()
{
    QMetaObject::invokeMethod(worker, &RPCWorker::restart, Qt::BlockingQueuedConnection);
}

void TestRPCWorker::samePortKeepsClients()
{
    const quint16 port = TestEnvironment::freeTcpPort();
    QSettings().setValue(AppSettings::serverPortKey, port);
    thread->start();
    RpcClient client(origin);
    QVERIFY(QTest::qWaitFor([&] { return client.open(port, 1000); }, 5000));

    StdoutCapture capture;
    restartWorker();
    const QByteArray log = capture.take();
    QVERIFY2(log.contains("[restart:") && log.contains("]: Same port\n"), log.constData());
    QVERIFY(!log.contains("New port"));
    QVERIFY(!client.waitForClosed(500));
    QCOMPARE(client.result(QStringLiteral("ovInfo")).toObject().size(), 2);
}

void TestRPCWorker::newPortClosesClientsAndMoves()
{
    const quint16 first = TestEnvironment::freeTcpPort();
    QSettings().setValue(AppSettings::serverPortKey, first);
    thread->start();
    RpcClient client(origin);
    QVERIFY(QTest::qWaitFor([&] { return client.open(first, 1000); }, 5000));

    const quint16 second = TestEnvironment::freeTcpPort();
    QSettings().setValue(AppSettings::serverPortKey, second);
    StdoutCapture capture;
    restartWorker();
    const QByteArray log = capture.take();
    QVERIFY2(log.contains("]: New port\n"), log.constData());

    QVERIFY(client.waitForClosed());
    QCOMPARE(client.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    RpcClient moved(origin);
    QVERIFY(moved.open(second));
    RpcClient old(origin);
    QVERIFY(!old.open(first, 1000));
}

void TestRPCWorker::portOutOfRangeListensOnDefault_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::newRow("1023") << QVariant(1023);
    QTest::newRow("65536") << QVariant(65536);
    QTest::newRow("not a number") << QVariant(QStringLiteral("x"));
}

void TestRPCWorker::portOutOfRangeListensOnDefault()
{
    QFETCH(QVariant, stored);
    QSettings().setValue(AppSettings::serverPortKey, stored);
    thread->start();
    RpcClient client(origin);
    QVERIFY(QTest::qWaitFor([&] { return client.open(AppSettings::defaultServerPort, 1000); }, 5000));

    // The stored value never equals the port in use, so every restart reopens the server.
    StdoutCapture capture;
    restartWorker();
    const QByteArray log = capture.take();
    QVERIFY2(log.contains("]: New port\n"), log.constData());
    QVERIFY(client.waitForClosed());
    RpcClient again(origin);
    QVERIFY(QTest::qWaitFor([&] { return again.open(AppSettings::defaultServerPort, 1000); }, 5000));
}

void TestRPCWorker::threadEndClosesClientsNormally()
{
    const quint16 port = TestEnvironment::freeTcpPort();
    QSettings().setValue(AppSettings::serverPortKey, port);
    thread->start();
    RpcClient client(origin);
    QVERIFY(QTest::qWaitFor([&] { return client.open(port, 1000); }, 5000));

    thread->quit();
    QVERIFY(thread->wait(5000));
    QVERIFY(client.waitForClosed());
    QCOMPARE(client.socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
}

QTEST_GUILESS_MAIN(TestRPCWorker)
#include "tst_rpcworker.moc"
