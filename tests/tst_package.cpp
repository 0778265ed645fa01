// The Debian package as an operator gets it: built from this tree, unpacked into a scratch root and run from there.
#include "AppSettings.h"
#include "LineProcess.h"
#include "Orvessa.h"
#include "OrvessaRun.h"
#include "RpcClient.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
};

// Runs a tool to its end; output is standard output and standard error together.
Run runTool(const QString& program, const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished(1000);
        run.output = QStringLiteral("%1 did not finish: %2").arg(program, QString::fromUtf8(process.readAll()));
        return run;
    }
    run.exitCode = process.exitCode();
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

// The package names of a Depends field, without versions or alternatives' operators.
QSet<QString> dependedPackages(const QString& depends)
{
    QSet<QString> names;
    for (const QString& clause : depends.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        for (const QString& alternative : clause.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
            names.insert(alternative.trimmed().section(QLatin1Char(' '), 0, 0).section(QLatin1Char(':'), 0, 0));
        }
    }
    return names;
}

// The Debian package that owns a library file on this machine, trying the merged-/usr twin of the path.
QString owningPackage(const QString& path)
{
    QStringList candidates {path, QFileInfo(path).canonicalFilePath()};
    if (path.startsWith(QLatin1String("/lib"))) {
        candidates << QStringLiteral("/usr") + path;
    } else if (path.startsWith(QLatin1String("/usr/lib"))) {
        candidates << path.mid(4);
    }
    for (const QString& candidate : candidates) {
        const Run owner = runTool(QStringLiteral("dpkg"), {QStringLiteral("-S"), candidate});
        if (owner.exitCode == 0) {
            return owner.output.section(QLatin1Char(':'), 0, 0).trimmed();
        }
    }
    return QString();
}

} // namespace

class tst_Package : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installsEachFile_data();
    void installsEachFile();
    void iconsHaveTheirSize_data();
    void iconsHaveTheirSize();
    void dependsOnEveryLinkedLibrary();
    void launcherAndMetainfoValidate_data();
    void launcherAndMetainfoValidate();
    void installedProgramServesTheInstalledSimulator();

private:
    QString installed(const QString& relative) const { return root.filePath(QStringLiteral("usr/") + relative); }

    QTemporaryDir work;
    QDir root;
    QString package;
};

void tst_Package::initTestCase()
{
    QVERIFY(work.isValid());
    const QString out = work.filePath(QStringLiteral("out"));
    const Run cpack = runTool(
        QStringLiteral(ORVESSA_CPACK),
        {QStringLiteral("--config"), QStringLiteral(ORVESSA_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"), out},
        300000);
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.output));
    const QStringList debs = QDir(out).entryList({QStringLiteral("orvessa_*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    package = QDir(out).filePath(debs.first());
    const QRegularExpression debianName(
        QStringLiteral(R"(^orvessa_%1_[a-z0-9]+\.deb$)").arg(QRegularExpression::escape(AppSettings::version)));
    QVERIFY2(debianName.match(debs.first()).hasMatch(), qPrintable(debs.first()));

    root.setPath(work.filePath(QStringLiteral("root")));
    const Run unpack = runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), package, root.path()});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
}

void tst_Package::installsEachFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    QTest::newRow("program") << "bin/orvessa" << true;
    QTest::newRow("simulated radio") << "bin/orvessa-rigsim" << true;
    QTest::newRow("launcher") << "share/applications/" ORVESSA_APP_ID ".desktop" << false;
    QTest::newRow("appstream data") << "share/metainfo/" ORVESSA_APP_ID ".metainfo.xml" << false;
    QTest::newRow("operator guide") << "share/doc/orvessa/README.md" << false;
    QTest::newRow("method reference") << "share/doc/orvessa/rpc-reference.md" << false;
    QTest::newRow("console page") << "share/doc/orvessa/console.html" << false;
}

void tst_Package::installsEachFile()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    const QFileInfo file(installed(path));
    QVERIFY2(file.isFile(), qPrintable(file.filePath()));
    QVERIFY(file.size() > 0);
    QCOMPARE(file.isExecutable(), executable);
}

void tst_Package::iconsHaveTheirSize_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QTest::addRow("%dx%d", size, size) << size;
    }
}

void tst_Package::iconsHaveTheirSize()
{
    QFETCH(int, size);
    const QString path = installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/orvessa.png").arg(size));
    const QImage icon(path);
    QVERIFY2(!icon.isNull(), qPrintable(path));
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
}

void tst_Package::dependsOnEveryLinkedLibrary()
{
    const Run fields = runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), package, QStringLiteral("Depends")});
    QCOMPARE(fields.exitCode, 0);
    const QSet<QString> depends = dependedPackages(fields.output);

    // Every library a shipped binary names must come from a package the .deb depends on, or the
    // program fails to start on a machine that has only what the package pulled in.
    QSet<QString> owners;
    for (const QString& binary : {QStringLiteral("bin/orvessa"), QStringLiteral("bin/orvessa-rigsim")}) {
        const Run ldd = runTool(QStringLiteral("ldd"), {installed(binary)});
        QCOMPARE(ldd.exitCode, 0);
        const Run dynamic = runTool(QStringLiteral("objdump"), {QStringLiteral("-p"), installed(binary)});
        QCOMPARE(dynamic.exitCode, 0);
        const QRegularExpression neededLine(QStringLiteral(R"(^\s*NEEDED\s+(\S+)$)"),
                                            QRegularExpression::MultilineOption);
        auto needed = neededLine.globalMatch(dynamic.output);
        QVERIFY(needed.hasNext());
        while (needed.hasNext()) {
            const QString library = needed.next().captured(1);
            // ldd shows "name => path (address)", and the loader as a bare "path (address)".
            const QRegularExpression resolved(
                QStringLiteral(R"(^\s*(?:%1 => (\S+)|(\S*/%1) \())").arg(QRegularExpression::escape(library)),
                QRegularExpression::MultilineOption);
            const QRegularExpressionMatch found = resolved.match(ldd.output);
            const QString path = found.captured(1).isEmpty() ? found.captured(2) : found.captured(1);
            QVERIFY2(!path.isEmpty(), qPrintable(library + QStringLiteral(" not found by ldd")));
            const QString owner = owningPackage(path);
            QVERIFY2(!owner.isEmpty(), qPrintable(path));
            QVERIFY2(
                depends.contains(owner),
                qPrintable(
                    QStringLiteral("%1 (%2) missing from Depends: %3").arg(owner, library, fields.output.trimmed())));
            owners.insert(owner);
        }
    }
    for (const QString& runtime : {QStringLiteral("libhamlib4"),
                                   QStringLiteral("libhamlib++4"),
                                   QStringLiteral("libqt5websockets5"),
                                   QStringLiteral("libqt5serialport5")}) {
        QVERIFY2(owners.contains(runtime), qPrintable(runtime));
    }
}

void tst_Package::launcherAndMetainfoValidate_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");

    QTest::newRow("launcher") << "desktop-file-validate" << QStringList()
                              << "share/applications/" ORVESSA_APP_ID ".desktop";
    QTest::newRow("appstream data") << "appstreamcli"
                                    << QStringList {QStringLiteral("validate"), QStringLiteral("--no-net")}
                                    << "share/metainfo/" ORVESSA_APP_ID ".metainfo.xml";
}

void tst_Package::launcherAndMetainfoValidate()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);
    QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), qPrintable(tool + QStringLiteral(" is not installed")));
    const Run check = runTool(tool, arguments << installed(path));
    QVERIFY2(check.exitCode == 0, qPrintable(check.output));
    QVERIFY2(!check.output.contains(QStringLiteral("error"), Qt::CaseInsensitive), qPrintable(check.output));

    if (path.endsWith(QLatin1String(".desktop"))) {
        // The launcher must start the installed program and show an installed icon.
        QSettings entry(installed(path), QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        QVERIFY(QFileInfo(installed(QStringLiteral("bin/") + entry.value(QStringLiteral("Exec")).toString()))
                    .isExecutable());
        const QString icon = entry.value(QStringLiteral("Icon")).toString();
        QVERIFY(QFileInfo::exists(installed(QStringLiteral("share/icons/hicolor/48x48/apps/%1.png").arg(icon))));
    }
}

void tst_Package::installedProgramServesTheInstalledSimulator()
{
    LineProcess radio;
    radio.start(installed(QStringLiteral("bin/orvessa-rigsim")), {}, QProcessEnvironment::systemEnvironment());
    const QString pty = radio.waitForLine(QRegularExpression(QStringLiteral("^/dev/")));
    QVERIFY2(!pty.isEmpty(), radio.standardError().constData());

    OrvessaRun orvessa;
    orvessa.setProgram(installed(QStringLiteral("bin/orvessa")));
    const quint16 port = TestEnvironment::freeTcpPort();
    orvessa.storePort(port);
    QCOMPARE(orvessa.startListening(), port);
    QVERIFY(!orvessa.lines().isEmpty());
    QVERIFY(TestEnvironment::startLine().match(orvessa.lines().first()).hasMatch());

    RpcClient client(allowedOrigins().first());
    QVERIFY(client.open(port));
    QCOMPARE(client.result(QStringLiteral("ovInfo")).toObject().value(QStringLiteral("OrvessaVersion")).toString(),
             AppSettings::version);
    const QJsonValue connected
        = client.result(QStringLiteral("connectRig"), QJsonArray {pty, 1035, QStringLiteral("38400")}, 20000);
    QCOMPARE(connected.toObject().value(QStringLiteral("Success")).toString(), QStringLiteral("Rig connected"));
    const QJsonObject status = client.result(QStringLiteral("rigInfo"), QJsonArray {pty}, 10000).toObject();
    QVERIFY2(status.value(QStringLiteral("freq")).toDouble() > 0, qPrintable(QJsonDocument(status).toJson()));

    orvessa.terminate();
    QCOMPARE(orvessa.waitForExit(), 0);
    radio.terminate();
    radio.waitForExit();
}

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
