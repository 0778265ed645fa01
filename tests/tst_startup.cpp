#include "LineProcess.h"
#include "TestEnvironment.h"
#include "XServer.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QRegularExpression threadIdLine(QStringLiteral(R"(\]\[main:\d+\]: MAIN Thread id: 0x[0-9a-f]+$)"));

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void secondCopyShowsInfoAndLeavesFirstRunning();
};

void TestStartup::secondCopyShowsInfoAndLeavesFirstRunning()
{
    XServer display;
    QVERIFY2(display.isRunning(), "Xvfb did not start");
    QTemporaryDir config;

    LineProcess first;
    first.start(QStringLiteral(ORVESSA_BINARY), {}, TestEnvironment::forOrvessa(config.path()));
    QVERIFY2(!first.waitForLine(threadIdLine).isNull(), first.standardError().constData());
    QVERIFY2(TestEnvironment::startLine().match(first.lines().value(0)).hasMatch(), qPrintable(first.lines().value(0)));

    QProcessEnvironment onDisplay = TestEnvironment::forOrvessa(config.path(), QStringLiteral("xcb"));
    onDisplay.insert(QStringLiteral("DISPLAY"), display.displayName());
    LineProcess second;
    second.start(QStringLiteral(ORVESSA_BINARY), {}, onDisplay);
    QVERIFY(!second.waitForLine(TestEnvironment::startLine()).isNull());
    QVERIFY(TestEnvironment::startLine().match(second.lines().value(0)).hasMatch());

    const QString window = display
                               .xdotool({QStringLiteral("search"),
                                         QStringLiteral("--sync"),
                                         QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--name"),
                                         QStringLiteral("^Info$")},
                                        20000)
                               .trimmed()
                               .section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(!window.isEmpty(), "the Info box never appeared");
    QVERIFY(second.isRunning());
    QVERIFY(!display.xdotool({QStringLiteral("windowfocus"), window}).isNull());
    QVERIFY(!display.xdotool({QStringLiteral("key"), QStringLiteral("Return")}).isNull());

    QCOMPARE(second.waitForExit(15000), 0);
    for (const QString& line : second.lines()) {
        QVERIFY2(!threadIdLine.match(line).hasMatch(), "a second copy went past the lock");
    }
    QVERIFY(first.isRunning());
    first.terminate();
    first.waitForExit();
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
