#include "LineProcess.h"
#include "Orvessa.h"

#include <QTemporaryDir>
#include <QTest>

class TestInstanceLock : public QObject
{
    Q_OBJECT

private slots:
    void heldByAnotherProcess();
    void unusableLockFileNeverStopsStart_data();
    void unusableLockFileNeverStopsStart();
};

void TestInstanceLock::heldByAnotherProcess()
{
    QTemporaryDir folder;
    const QByteArray path = folder.filePath(QStringLiteral("instance.lock")).toLocal8Bit();

    LineProcess holder;
    holder.start(QStringLiteral(ORVESSA_LOGPROBE),
                 {QStringLiteral("hold-lock"), QString::fromLocal8Bit(path)},
                 QProcessEnvironment::systemEnvironment());
    QVERIFY(!holder.waitForLine(QRegularExpression(QStringLiteral("held$"))).isNull());

    QVERIFY(isAlreadyRunning(path.constData()));
    QVERIFY(holder.isRunning());

    // The lock, not the file, decides: a holder killed outright leaves the file behind, unlocked.
    holder.kill();
    QCOMPARE(holder.waitForExit(), -1);
    QVERIFY(QFile::exists(QString::fromLocal8Bit(path)));
    QVERIFY(!isAlreadyRunning(path.constData()));
}

void TestInstanceLock::unusableLockFileNeverStopsStart_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("free lock file") << "free.lock";
    QTest::newRow("folder that does not exist") << "missing/instance.lock";
    QTest::newRow("path is a folder") << "folder";
}

void TestInstanceLock::unusableLockFileNeverStopsStart()
{
    QFETCH(QString, relativePath);
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("folder")));
    QVERIFY(!isAlreadyRunning(folder.filePath(relativePath).toLocal8Bit().constData()));
}

QTEST_GUILESS_MAIN(TestInstanceLock)
#include "tst_instancelock.moc"
