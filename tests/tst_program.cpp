// The program as a process: its first line, the single-instance lock, where it listens, how it quits.
#include "ProgramRun.h"
#include "RpcClient.h"
#include "ServiceHost.h"
#include "SimRadio.h"
#include "app/Log.h"
#include "app/Orvessa.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// The addresses the kernel's table shows listening on a port ("0100007F" is 127.0.0.1).
QStringList listeningAddresses(const QString& table, quint16 port)
{
    QFile file(table);
    QStringList found;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n').mid(1)) {
            const QStringList fields = QString::fromLatin1(line).simplified().split(' ');
            if (fields.size() > 3 && fields.at(3) == "0A" && fields.at(1).section(':', 1).toUInt(nullptr, 16) == port) {
                found << fields.at(1).section(':', 0, 0);
            }
        }
    }
    return found;
}

// What each descriptor of a process is open on ("socket:[123]", "pipe:[45]", a path), by descriptor number.
QMap<int, QString> openFiles(qint64 pid)
{
    QMap<int, QString> files;
    for (const QFileInfo& entry : QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryInfoList(QDir::System)) {
        files.insert(entry.fileName().toInt(), QFile::symLinkTarget(entry.filePath()).section('/', -1));
    }
    return files;
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void firstCopyServesSecondStops();
    void terminationClosesClientsNormally();
    void radioProcessBelongsToTheProgram();
    void pageGetsInPastIdleConnections();
    void lockFileThatCannotBeUsed_data();
    void lockFileThatCannotBeUsed();
    void lockHeldByAnotherProcess();
    void fatalLineReachesRedirectedOutput();
    void logReachesAPipeAsWritten();
};

void TestProgram::firstCopyServesSecondStops()
{
    ProgramRun first;
    const quint16 wanted = ServiceHost::freeTcpPort();
    first.storePort(wanted);
    QCOMPARE(first.startOrvessa(), wanted);
    QVERIFY2(ProgramRun::startLine().match(first.lines.value(0)).hasMatch(), qPrintable(first.lines.value(0)));
    QCOMPARE(listeningAddresses("/proc/net/tcp", wanted), QStringList {"0100007F"});
    QCOMPARE(listeningAddresses("/proc/net/tcp6", wanted), QStringList());

    ProgramRun second;
    second.launchOrvessa();
    QVERIFY(!second.waitForLine(ProgramRun::startLine()).isNull());
    QVERIFY(second.waitForLine(QRegularExpression("MAIN Thread id|listening"), 1500).isNull());
    RpcClient client;
    QVERIFY(client.open(wanted));
    QCOMPARE(client.call("ovInfo").toObject().size(), 2);
}

void TestProgram::terminationClosesClientsNormally()
{
    ProgramRun orvessa;
    const quint16 port = ServiceHost::freeTcpPort();
    orvessa.storePort(port);
    QCOMPARE(orvessa.startOrvessa(), port);
    RpcClient first;
    RpcClient second;
    QVERIFY(first.open(port) && second.open(port));
    // Neither a radio stuck in a read nor deferred work queued by a client, even one that has left, holds the
    // exit up more than a moment.
    SimRadio radio;
    QVERIFY(radio.start());
    QCOMPARE(first.call("connectRig", QJsonArray {radio.port, SimRadio::modelId, "38400"}).toObject(),
             QJsonObject({{"Success", "Rig connected"}}));
    QCOMPARE(first.call("rigInfoSubscribe", QJsonArray {radio.port}).toObject(),
             QJsonObject({{"Success", "subscribed"}}));
    radio.setAnswering(false);
    QTest::qWait(600);
    RpcClient leaving;
    QVERIFY(leaving.open(port));
    for (int i = 0; i < 30; ++i) {
        first.request("futureNumber");
        leaving.request("futureNumber");
    }
    leaving.settle();
    leaving.socket.close();
    QCOMPARE(radio.hosts().size(), 1);
    QElapsedTimer clock;
    clock.start();
    orvessa.signal(SIGTERM);
    for (RpcClient* client : {&first, &second}) {
        QVERIFY(client->waitForClosed());
        QCOMPARE(client->socket.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    }
    QCOMPARE(orvessa.waitForExit(), 0);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    // The radio's host, stuck in a read, ended with the program.
    QCOMPARE(radio.hosts(), QList<int>());
    const int closing = orvessa.lineIndex(QRegularExpression(R"(\[finish:\d+\]: closing thread$)"));
    QVERIFY(closing > 0);
    // Tearing down must not touch objects from a thread that does not own them.
    const QStringList teardown = orvessa.lines.mid(closing);
    QVERIFY2(teardown.filter("]: Warning: ").isEmpty(), qPrintable(teardown.join('\n')));
}

void TestProgram::radioProcessBelongsToTheProgram()
{
    ProgramRun orvessa;
    const quint16 port = ServiceHost::freeTcpPort();
    orvessa.storePort(port);
    QCOMPARE(orvessa.startOrvessa(), port);
    RpcClient client;
    QVERIFY(client.open(port));
    SimRadio radio;
    QVERIFY(radio.start());
    QCOMPARE(client.call("connectRig", QJsonArray {radio.port, SimRadio::modelId, "38400"}).toObject(),
             QJsonObject({{"Success", "Rig connected"}}));
    QCOMPARE(radio.hosts().size(), 1);

    // Hamlib's library opens sockets as it loads: the radio's process must not get them, nor anything else of the
    // program's but its standard input, output and error, three pipes to the program.
    const QMap<int, QString> parent = openFiles(orvessa.process.processId());
    const QMap<int, QString> child = openFiles(radio.hosts().first());
    QSet<QString> pipes;
    QStringList inherited;
    for (auto file = child.cbegin(); file != child.cend(); ++file) {
        if (!parent.values().contains(file.value())) {
            continue;
        }
        if (file.value().startsWith("pipe:")) {
            pipes.insert(file.value());
        } else {
            inherited << QStringLiteral("%1 %2").arg(file.key()).arg(file.value());
        }
    }
    QVERIFY2(parent.size() > 3 && inherited.isEmpty() && pipes.size() <= 3, qPrintable(inherited.join(", ")));

    // It never outlives the program, not even waiting inside Hamlib, where the end of its pipe goes unnoticed.
    radio.setAnswering(false);
    client.request("rigInfo", QJsonArray {radio.port});
    QTest::qWait(300);
    orvessa.signal(SIGKILL);
    QCOMPARE(orvessa.waitForExit(), -1);
    QTRY_VERIFY_WITH_TIMEOUT(radio.hosts().isEmpty(), 1000);
}

void TestProgram::pageGetsInPastIdleConnections()
{
    // Connections that never start their handshake, more than the program has descriptors for: a page still gets
    // in, without waiting for them to time out.
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' type check reads an object's memory through a pipe it opens: in a process out of descriptors
    // every object fails it.
    QSKIP("out of descriptors, the sanitizers report every object as broken");
#endif
    ProgramRun orvessa;
    const quint16 port = ServiceHost::freeTcpPort();
    orvessa.storePort(port);
    QCOMPARE(orvessa.startOrvessa(), port);
    rlimit low {64, 64};
    QVERIFY(::prlimit(pid_t(orvessa.process.processId()), RLIMIT_NOFILE, &low, nullptr) == 0);
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 200; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    QVERIFY(!orvessa.waitForLine(QRegularExpression("cannot accept clients|out of descriptors for a new connection"))
                 .isNull());
    QElapsedTimer clock;
    clock.start();
    RpcClient page;
    QVERIFY(page.open(port, 5000));
    QCOMPARE(page.call("ovInfo").toObject().size(), 2);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
}

void TestProgram::lockFileThatCannotBeUsed_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("free lock file") << "free.lock";
    QTest::newRow("folder that does not exist") << "missing/instance.lock";
    QTest::newRow("path is a folder") << "folder";
    QTest::newRow("link planted at the path") << "planted.lock";
}

void TestProgram::lockFileThatCannotBeUsed()
{
    QFETCH(QString, path);
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir("folder"));
    QVERIFY(QFile::link(folder.filePath("target"), folder.filePath("planted.lock")));
    QVERIFY(!isAlreadyRunning(qPrintable(folder.filePath(path))));
    QVERIFY(!QFile::exists(folder.filePath("target")));
}

void TestProgram::lockHeldByAnotherProcess()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("instance.lock");
    ProgramRun holder;
    holder.start(QCoreApplication::applicationFilePath(), {"--hold", path});
    QVERIFY(!holder.waitForLine(QRegularExpression("^held$")).isNull());
    QVERIFY(isAlreadyRunning(qPrintable(path)));
    // A program the holder starts (a browser from the tray) must not inherit the lock and outlive it with it.
    QDir descriptors(QStringLiteral("/proc/%1/fd").arg(holder.process.processId()));
    bool inherited = true;
    for (const QFileInfo& descriptor : descriptors.entryInfoList(QDir::Files | QDir::System)) {
        if (descriptor.symLinkTarget() == path) {
            QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(holder.process.processId()).arg(descriptor.fileName()));
            QVERIFY(info.open(QIODevice::ReadOnly));
            const QString flags = QRegularExpression(R"(flags:\s*(\d+))").match(info.readAll()).captured(1);
            inherited = !(flags.toUInt(nullptr, 8) & O_CLOEXEC);
        }
    }
    QVERIFY(!inherited);
    // The lock, not the file, decides: a holder killed outright leaves the file behind, unlocked.
    holder.process.kill();
    QCOMPARE(holder.waitForExit(), -1);
    QVERIFY(QFile::exists(path));
    QVERIFY(!isAlreadyRunning(qPrintable(path)));
}

void TestProgram::fatalLineReachesRedirectedOutput()
{
    // With its output in a pipe (fully buffered), the program's last line must not die in the buffer when Qt aborts.
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--fatal"});
    QVERIFY(child.waitForFinished(10000));
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    QVERIFY2(output.trimmed().endsWith("]: Fatal: last words"), qPrintable(output));
}

void TestProgram::logReachesAPipeAsWritten()
{
    // An operator follows the log through a pipe (tee, the journal): each line must arrive while the program runs,
    // not when a block fills up or at exit.
    ProgramRun orvessa;
    const quint16 port = ServiceHost::freeTcpPort();
    orvessa.storePort(port);
    QCOMPARE(orvessa.startOrvessa(), port);
    QVERIFY(ProgramRun::startLine().match(orvessa.lines.value(0)).hasMatch());
    RpcClient client;
    QVERIFY(client.open(port));
    // The call is logged before it is answered: from the answer on, its line is written.
    QCOMPARE(client.call("ovInfo").toObject().size(), 2);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!orvessa.waitForLine(QRegularExpression("JSON RPC server: ovInfo invoked"), 1000).isNull());
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(orvessa.process.state(), QProcess::Running);
}

int main(int argc, char* argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--fatal") == 0) {
        qInstallMessageHandler(qtMessageHandler);
        qFatal("last words");
    }
    if (argc == 3 && qstrcmp(argv[1], "--hold") == 0) {
        std::printf(isAlreadyRunning(argv[2]) ? "busy\n" : "held\n");
        std::fflush(stdout);
        pause();
    }
    QCoreApplication app(argc, argv);
    TestProgram test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_program.moc"
