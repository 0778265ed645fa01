// The Debian package as an operator gets it: built from this tree, unpacked into a scratch root and run from there,
// with the simulated radio it ships and the terminal client its guide documents.
#include "ProgramRun.h"
#include "RpcClient.h"
#include "ServiceHost.h"
#include "app/Orvessa.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void filesAndMetadata();
    void installedProgramServesTheInstalledRadio();

private:
    QString installed(const QString& relative) const { return work.filePath("root/usr/" + relative); }
    static QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr);

    QTemporaryDir work;
    QString package;
};

QString TestPackage::run(const QString& program, const QStringList& arguments, int* exitCode)
{
    ProgramRun tool;
    tool.process.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    const int code = tool.waitForExit(300000);
    if (exitCode) {
        *exitCode = code;
    }
    return tool.lines.join('\n');
}

void TestPackage::initTestCase()
{
    int code = -1;
    const QString out = work.filePath("out");
    const QString log = run("cpack", {"--config", ORVESSA_BUILD_DIR "/CPackConfig.cmake", "-B", out}, &code);
    QVERIFY2(code == 0, qPrintable(log));
    const QStringList debs = QDir(out).entryList({"orvessa_25.12.0_*.deb"}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    package = QDir(out).filePath(debs.first());
    run("dpkg-deb", {"-x", package, work.filePath("root")}, &code);
    QCOMPARE(code, 0);
}

void TestPackage::filesAndMetadata()
{
    const QSettings launcher(installed("share/applications/" ORVESSA_APP_ID ".desktop"), QSettings::IniFormat);
    QVERIFY(QFileInfo(installed("bin/" + launcher.value("Desktop Entry/Exec").toString())).isExecutable());
    QVERIFY(QFileInfo(installed("bin/orvessa-rigsim")).isExecutable());
    QVERIFY(QFileInfo::exists(
        installed("share/icons/hicolor/48x48/apps/" + launcher.value("Desktop Entry/Icon").toString() + ".png")));
    for (const char* guide : {"README.md", "rpc-reference.md", "console.html", "orvessa-call.py"}) {
        QVERIFY2(QFileInfo::exists(installed(QStringLiteral("share/doc/orvessa/") + guide)), guide);
    }
    int code = -1;
    QString report = run("desktop-file-validate", {installed("share/applications/" ORVESSA_APP_ID ".desktop")}, &code);
    QVERIFY2(code == 0 && report.isEmpty(), qPrintable(report));
    report = run(
        "appstreamcli", {"validate", "--no-net", installed("share/metainfo/" ORVESSA_APP_ID ".metainfo.xml")}, &code);
    QVERIFY2(code == 0, qPrintable(report));
    // A machine that has only what the package pulls in must be able to start every program in it: each library a
    // program links is in a package the .deb depends on, under the name of the release it was built on.
    const QString depends = run("dpkg-deb", {"-f", package, "Depends"});
    QStringList names;
    for (const QString& clause : depends.split(QRegularExpression("[,|]"))) {
        names << clause.trimmed().section(' ', 0, 0);
    }
    const QRegularExpression needed(R"(^\s*NEEDED\s+(\S+)$)", QRegularExpression::MultilineOption);
    const QFileInfoList programs = QDir(installed("bin")).entryInfoList(QDir::Files);
    QVERIFY(programs.size() >= 2);
    for (const QFileInfo& program : programs) {
        for (auto found = needed.globalMatch(run("objdump", {"-p", program.filePath()})); found.hasNext();) {
            const QString library = found.next().captured(1);
            // The packages that ship the library under its link name, wherever the release puts it (and for
            // other architectures).
            const QString owners = run("dpkg-query", {"-S", "*/" + library});
            bool covered = false;
            for (const QString& line : owners.split('\n')) {
                covered = covered || names.contains(line.section(':', 0, 0));
            }
            QVERIFY2(covered, qPrintable(program.fileName() + ": " + library + " from " + owners));
        }
    }
}

void TestPackage::installedProgramServesTheInstalledRadio()
{
    ProgramRun radio;
    radio.start(installed("bin/orvessa-rigsim"));
    const QString pty = radio.waitForLine(QRegularExpression("^/dev/"));
    QVERIFY(!pty.isEmpty());
    ProgramRun orvessa;
    const quint16 port = ServiceHost::freeTcpPort();
    orvessa.storePort(port);
    QCOMPARE(orvessa.startOrvessa(installed("bin/orvessa")), port);
    QVERIFY(ProgramRun::startLine().match(orvessa.lines.value(0)).hasMatch());

    // The guide's terminal client: connect, tune, watch the pushes; then the refusals it shows.
    const QStringList common {installed("share/doc/orvessa/orvessa-call.py"), "--port", QString::number(port)};
    int code = -1;
    const QString session = run("python3",
                                common
                                    + QStringList {"--origin",
                                                   allowedOrigins().first(),
                                                   "--listen",
                                                   "1",
                                                   "connectRig",
                                                   QStringLiteral(R"(["%1", 1035, "38400"])").arg(pty),
                                                   "setFreq",
                                                   QStringLiteral(R"(["%1", 7074000])").arg(pty),
                                                   "rigInfoSubscribe",
                                                   QStringLiteral(R"(["%1"])").arg(pty),
                                                   "setPTT",
                                                   QStringLiteral(R"({"ptt": 4, "serialName": "%1"})").arg(pty)},
                                &code);
    QCOMPARE(code, 0);
    for (const char* wanted : {R"("Success": "Rig connected")",
                               R"("freq": 7074000)",
                               R"("Success": "subscribed")",
                               R"("method": "RigInfo")",
                               R"re("Error": "Invalid PTT value (0=OFF, 1=ON, 2=MIC, 3=ACC)")re"}) {
        QVERIFY2(session.contains(wanted), qPrintable(session));
    }
    const QString refused
        = run("python3", common + QStringList {"--origin", "https://not-allowed.example", "ovInfo"}, &code);
    QCOMPARE(code, 1);
    QVERIFY2(refused.contains("handshake refused: HTTP/1.1 403"), qPrintable(refused));

    orvessa.signal(SIGTERM);
    QCOMPARE(orvessa.waitForExit(), 0);
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
