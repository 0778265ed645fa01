// The real program on a private X server with a system tray, driven as a user would.
#include "DeploymentConfig.h"
#include "LineProcess.h"
#include "TestEnvironment.h"
#include "XServer.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <memory>

namespace {

const QRegularExpression threadIdLine(QStringLiteral(R"(\]\[main:\d+\]: MAIN Thread id: )"));

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void firstStartShowsReadyMessage();
    void infoOpensAboutWindow();
    void ctrlOOpensSettingsWindow();
    void savedPortTakesEffect();
    void quitAnsweredNoKeepsRunning();
    void quitAnsweredYesEndsProgram();

private:
    QStringList visibleWindows(const QString& namePattern = QString());
    QSize windowSize(const QString& window);
    void openTrayEntry(int position);
    void checkScreenshot(const QString& window, const QSize& size, const QString& name);

    std::unique_ptr<XServer> display;
    QProcess tray;
    QTemporaryDir config;
    LineProcess program;
    QString trayIcon;
    int port = 0;
};

QStringList TestDesktop::visibleWindows(const QString& namePattern)
{
    QStringList arguments {QStringLiteral("search"), QStringLiteral("--onlyvisible")};
    if (namePattern.isEmpty()) {
        arguments << QStringLiteral("--class") << QStringLiteral("^orvessa$");
    } else {
        arguments << QStringLiteral("--name") << namePattern;
    }
    // xdotool exits non-zero when nothing matches.
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display->displayName());
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    tool.waitForFinished(10000);
    return QString::fromUtf8(tool.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QSize TestDesktop::windowSize(const QString& window)
{
    const QString shell = display->xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral(R"(WIDTH=(\d+)\nHEIGHT=(\d+))")).match(shell);
    return match.hasMatch() ? QSize(match.captured(1).toInt(), match.captured(2).toInt()) : QSize();
}

void TestDesktop::initTestCase()
{
    QVERIFY(config.isValid());
    display = std::make_unique<XServer>();
    QVERIFY2(display->isRunning(), "Xvfb did not start");

    QProcessEnvironment onDisplay = QProcessEnvironment::systemEnvironment();
    onDisplay.insert(QStringLiteral("DISPLAY"), display->displayName());
    tray.setProcessEnvironment(onDisplay);
    tray.start(QStringLiteral("trayer"),
               {"--edge",
                "top",
                "--align",
                "left",
                "--widthtype",
                "request",
                "--height",
                "24",
                "--SetDockType",
                "false",
                "--SetPartialStrut",
                "false",
                "--expand",
                "false"});
    QVERIFY(tray.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(QStringLiteral("^panel$")).isEmpty(), 10000);

    port = TestEnvironment::freeTcpPort();
    {
        QSettings settings(config.filePath(QStringLiteral("Marovell/Orvessa.conf")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("serverPort1"), port);
    }
    QProcessEnvironment environment = TestEnvironment::forOrvessa(config.path(), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), display->displayName());
    program.start(QStringLiteral(ORVESSA_BINARY), {}, environment);
    QVERIFY2(!program.waitForLine(threadIdLine).isNull(), program.standardError().constData());

    // The icon is the program's one small window, embedded in the tray.
    QTRY_VERIFY_WITH_TIMEOUT(
        !trayIcon.isEmpty() ||
            [this] {
                for (const QString& window : visibleWindows()) {
                    const QSize size = windowSize(window);
                    if (size.isValid() && size.width() <= 32 && size.height() <= 32) {
                        trayIcon = window;
                    }
                }
                return !trayIcon.isEmpty();
            }(),
        10000);
}

void TestDesktop::cleanupTestCase()
{
    if (program.isRunning()) {
        program.terminate();
        program.waitForExit();
    }
    tray.terminate();
    tray.waitForFinished(5000);
    display.reset();
}

void TestDesktop::firstStartShowsReadyMessage()
{
    // The message is a window of its own beside the icon.
    QTRY_VERIFY_WITH_TIMEOUT(visibleWindows().size() >= 2, 10000);
    QVERIFY(QFile::exists(config.filePath(QStringLiteral("autostart/Orvessa.desktop"))));
}

void TestDesktop::openTrayEntry(int position)
{
    const QStringList before = visibleWindows();
    QVERIFY(!display
                 ->xdotool({QStringLiteral("mousemove"),
                            QStringLiteral("--window"),
                            trayIcon,
                            "8",
                            "8",
                            QStringLiteral("click"),
                            "1"})
                 .isNull());
    // The menu is a new window of the program; once it is up it has the keyboard, and the first
    // Down selects its first entry.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const QString& window : visibleWindows()) {
                if (!before.contains(window)) {
                    return true;
                }
            }
            return false;
        }(),
        10000);
    QStringList keys {QStringLiteral("key")};
    for (int i = 0; i <= position; ++i) {
        keys << QStringLiteral("Down");
    }
    keys << QStringLiteral("Return");
    QVERIFY(!display->xdotool(keys).isNull());
}

void TestDesktop::checkScreenshot(const QString& window, const QSize& size, const QString& name)
{
    QDir output(QCoreApplication::applicationDirPath());
    output.mkpath(QStringLiteral("screenshots"));
    const QString file = output.filePath(QStringLiteral("screenshots/") + name);
    QFile::remove(file);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display->displayName());
    QProcess grab;
    grab.setProcessEnvironment(environment);
    grab.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--grab-window"), window, file});
    QVERIFY(grab.waitForFinished(20000));
    QVERIFY2(grab.exitCode() == 0, grab.readAllStandardError().constData());

    const QImage image(file);
    QCOMPARE(image.size(), size);
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            background = it.key();
            most = it.value();
        }
    }
    const double drawn = 1.0 - double(most) / (image.width() * image.height());
    QVERIFY2(counts.size() > 8 && drawn > 0.02, "the window is blank");
    // Content that runs into the right or bottom edge has been cut off by a window too small for it.
    for (int y = 0; y < image.height(); ++y) {
        for (int x = image.width() - 3; x < image.width(); ++x) {
            QVERIFY2(image.pixel(x, y) == background, qPrintable(QStringLiteral("cut off at %1,%2").arg(x).arg(y)));
        }
    }
    for (int y = image.height() - 3; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            QVERIFY2(image.pixel(x, y) == background, qPrintable(QStringLiteral("cut off at %1,%2").arg(x).arg(y)));
        }
    }
}

void TestDesktop::infoOpensAboutWindow()
{
    openTrayEntry(2);
    QStringList about;
    QTRY_VERIFY_WITH_TIMEOUT(!(about = visibleWindows(QStringLiteral("^Orvessa Info$"))).isEmpty(), 10000);
    QCOMPARE(windowSize(about.first()), QSize(380, 160));
    checkScreenshot(about.first(), QSize(380, 160), QStringLiteral("about.png"));
}

void TestDesktop::ctrlOOpensSettingsWindow()
{
    QVERIFY(!display->xdotool({QStringLiteral("key"), QStringLiteral("ctrl+o")}).isNull());
    QStringList settings;
    QTRY_VERIFY_WITH_TIMEOUT(!(settings = visibleWindows(QStringLiteral("^Orvessa Settings$"))).isEmpty(), 10000);
    QTRY_VERIFY(visibleWindows(QStringLiteral("^Orvessa Info$")).isEmpty());
    checkScreenshot(settings.first(), QSize(270, 200), QStringLiteral("settings.png"));
}

void TestDesktop::savedPortTakesEffect()
{
    const int newPort = TestEnvironment::freeTcpPort();
    QVERIFY(newPort != port);
    QVERIFY(!display->xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")}).isNull());
    QVERIFY(!display->xdotool({QStringLiteral("type"), QString::number(newPort)}).isNull());
    QVERIFY(!display->xdotool({QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("space")}).isNull());
    QTRY_VERIFY(visibleWindows(QStringLiteral("^Orvessa Settings$")).isEmpty());
    QSettings stored(config.filePath(QStringLiteral("Marovell/Orvessa.conf")), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("serverPort1")).toInt(), newPort);
    port = newPort;
    QWebSocket client(QStringLiteral("https://") + QStringLiteral(ORVESSA_HOST_1));
    QSignalSpy connected(&client, &QWebSocket::connected);
    client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 10000);
}

void TestDesktop::quitAnsweredNoKeepsRunning()
{
    openTrayEntry(3);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(QStringLiteral("^Orvessa Quit$")).isEmpty(), 10000);
    QVERIFY(!display->xdotool({QStringLiteral("key"), QStringLiteral("Return")}).isNull());
    QTRY_VERIFY(visibleWindows(QStringLiteral("^Orvessa Quit$")).isEmpty());
    QCOMPARE(program.waitForExit(1000), -1);
    QVERIFY(program.isRunning());
}

void TestDesktop::quitAnsweredYesEndsProgram()
{
    QWebSocket client(QStringLiteral("https://") + QStringLiteral(ORVESSA_HOST_1));
    QSignalSpy connected(&client, &QWebSocket::connected);
    QSignalSpy disconnected(&client, &QWebSocket::disconnected);
    client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 10000);
    openTrayEntry(3);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(QStringLiteral("^Orvessa Quit$")).isEmpty(), 10000);
    QVERIFY(!display->xdotool({QStringLiteral("key"), QStringLiteral("alt+y")}).isNull());
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 10000);
    QCOMPARE(client.closeCode(), QWebSocketProtocol::CloseCodeNormal);
    QCOMPARE(program.waitForExit(15000), 0);
}

// Run again as a child on the X server, to grab a window of another process.
static int grabWindow(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QImage image
        = QGuiApplication::primaryScreen()->grabWindow(QString::fromLatin1(argv[2]).toULongLong()).toImage();
    return !image.isNull() && image.save(QString::fromLocal8Bit(argv[3]), "PNG") ? 0 : 1;
}

int main(int argc, char* argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--grab-window") == 0) {
        return grabWindow(argc, argv);
    }
    QApplication app(argc, argv);
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
