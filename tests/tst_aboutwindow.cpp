#include "AboutWindow.h"
#include "Autostart.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestAboutWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void entryHasExactlyTheEightLines();
    void execValue_data();
    void execValue();
    void desktopStartsQuotedPath_data();
    void desktopStartsQuotedPath();
    void buttonTogglesEntry();
    void displayShowsRealState();
    void keysHideWindow_data();
    void keysHideWindow();

private:
    QPushButton* autostartButton(AboutWindow& window);

    QTemporaryDir config;
};

void TestAboutWindow::initTestCase()
{
    QVERIFY(config.isValid());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
}

void TestAboutWindow::init()
{
    QDir(config.path() + QStringLiteral("/autostart")).removeRecursively();
}

QPushButton* TestAboutWindow::autostartButton(AboutWindow& window)
{
    for (auto* button : window.findChildren<QPushButton*>()) {
        if (button->text().startsWith(QStringLiteral(" Autostart: "))) {
            return button;
        }
    }
    return nullptr;
}

void TestAboutWindow::entryHasExactlyTheEightLines()
{
    QCOMPARE(autostartFilePath(), config.path() + QStringLiteral("/autostart/Orvessa.desktop"));
    QVERIFY(!QDir(config.path() + QStringLiteral("/autostart")).exists());
    createAutostartEntry();
    QVERIFY(autostartEntryExists());

    QFile file(autostartFilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray expected = "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Exec="
        + QCoreApplication::applicationFilePath().toUtf8()
        + "\n"
          "Hidden=false\n"
          "NoDisplay=false\n"
          "X-GNOME-Autostart-enabled=true\n"
          "Name=Orvessa\n"
          "Comment=Avvio automatico per Orvessa\n";
    QCOMPARE(file.readAll(), expected);
}

void TestAboutWindow::execValue_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain path kept as it is")
        << QStringLiteral("/usr/bin/orvessa") << QStringLiteral("/usr/bin/orvessa");
    QTest::newRow("dots, dashes and plus kept")
        << QStringLiteral("/opt/orv-1.2+x/bin/orvessa") << QStringLiteral("/opt/orv-1.2+x/bin/orvessa");
    QTest::newRow("blank") << QStringLiteral("/home/op/My Apps/orvessa")
                           << QStringLiteral("\"/home/op/My Apps/orvessa\"");
    QTest::newRow("dollar and backtick") << QStringLiteral("/a$b`c/orvessa")
                                         << QStringLiteral(R"("/a\\$b\\`c/orvessa")");
    QTest::newRow("double quote") << QStringLiteral("/a\"b/orvessa") << QStringLiteral(R"("/a\\"b/orvessa")");
    QTest::newRow("backslash") << QStringLiteral("/a\\b/orvessa") << QStringLiteral(R"("/a\\\\b/orvessa")");
    QTest::newRow("single quote and parentheses")
        << QStringLiteral("/op's (old)/orvessa") << QStringLiteral("\"/op's (old)/orvessa\"");
    QTest::newRow("tab") << QStringLiteral("/a\tb/orvessa") << QStringLiteral(R"("/a\tb/orvessa")");
    QTest::newRow("percent alone") << QStringLiteral("/100%/orvessa") << QStringLiteral("/100%%/orvessa");
    QTest::newRow("percent with blank") << QStringLiteral("/100 %/orvessa") << QStringLiteral("\"/100 %%/orvessa\"");
    QTest::newRow("non-ASCII letters kept")
        << QStringLiteral("/home/citt\u00e0/orvessa") << QStringLiteral("/home/citt\u00e0/orvessa");
}

void TestAboutWindow::execValue()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);
    QCOMPARE(desktopExecValue(path), exec);
    QVERIFY(autostartEntryText(path).contains(QStringLiteral("\nExec=") + exec + QStringLiteral("\n")));
}

void TestAboutWindow::desktopStartsQuotedPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("blanks") << QStringLiteral("My Radio Apps");
    QTest::newRow("dollar, quotes and backslash") << QStringLiteral("a$HOME \"b\" 'c' \\d");
    QTest::newRow("hash, parentheses, ampersand") << QStringLiteral("#1 (x) & more; <y>");
}

// A real desktop-entry reader must start the program from the entry we write.
void TestAboutWindow::desktopStartsQuotedPath()
{
    QFETCH(QString, folder);
    QTemporaryDir root;
    const QString marker = root.filePath(QStringLiteral("started"));
    QVERIFY(QDir(root.path()).mkpath(folder));
    const QString program = root.path() + QStringLiteral("/") + folder + QStringLiteral("/run orvessa");
    QFile script(program);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    const QString entryPath = root.filePath(QStringLiteral("entry.desktop"));
    QFile entry(entryPath);
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write(autostartEntryText(program).toUtf8());
    entry.close();

    QProcess gio;
    gio.start(QStringLiteral("gio"), {QStringLiteral("launch"), entryPath});
    QVERIFY(gio.waitForFinished(10000));
    QVERIFY2(gio.exitCode() == 0, gio.readAllStandardError().constData());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 10000);
}

void TestAboutWindow::buttonTogglesEntry()
{
    AboutWindow window;
    QPushButton* button = autostartButton(window);
    QVERIFY(button);
    QCOMPARE(button->text(), QStringLiteral(" Autostart: ???? "));
    window.display();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(button->text(), QStringLiteral(" Autostart: OFF "));

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(QFile::exists(config.path() + QStringLiteral("/autostart/Orvessa.desktop")));
    QCOMPARE(button->text(), QStringLiteral(" Autostart: ON "));

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!QFile::exists(config.path() + QStringLiteral("/autostart/Orvessa.desktop")));
    QCOMPARE(button->text(), QStringLiteral(" Autostart: OFF "));
}

void TestAboutWindow::displayShowsRealState()
{
    AboutWindow window;
    window.display();
    QCOMPARE(autostartButton(window)->text(), QStringLiteral(" Autostart: OFF "));
    window.hide();
    createAutostartEntry();
    window.display();
    QCOMPARE(autostartButton(window)->text(), QStringLiteral(" Autostart: ON "));
    removeAutostartEntry();
    removeAutostartEntry();
    QVERIFY(!autostartEntryExists());
}

void TestAboutWindow::keysHideWindow_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<int>("shortcuts");
    QTest::newRow("ctrl+o opens the settings") << int(Qt::Key_O) << int(Qt::ControlModifier) << true << 1;
    QTest::newRow("ctrl+shift+o does nothing")
        << int(Qt::Key_O) << int(Qt::ControlModifier | Qt::ShiftModifier) << false << 0;
    QTest::newRow("ctrl+alt+o does nothing")
        << int(Qt::Key_O) << int(Qt::ControlModifier | Qt::AltModifier) << false << 0;
    QTest::newRow("plain o does nothing") << int(Qt::Key_O) << int(Qt::NoModifier) << false << 0;
    QTest::newRow("ctrl+p does nothing") << int(Qt::Key_P) << int(Qt::ControlModifier) << false << 0;
    QTest::newRow("escape hides") << int(Qt::Key_Escape) << int(Qt::NoModifier) << true << 0;
}

void TestAboutWindow::keysHideWindow()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, hidden);
    QFETCH(int, shortcuts);
    AboutWindow window;
    window.display();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QSignalSpy shortcut(&window, &AboutWindow::shortcutActivated);
    // Into the focused child, as a real key press arrives, so it must travel up to the dialog.
    QWidget* focused = QApplication::focusWidget();
    QVERIFY(focused && window.isAncestorOf(focused));
    QTest::keyClick(focused, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(window.isHidden(), hidden);
    QCOMPARE(shortcut.count(), shortcuts);

    window.display();
    QVERIFY(window.isVisible());
    QVERIFY(!window.close());
    QVERIFY(window.isHidden());
}

QTEST_MAIN(TestAboutWindow)
#include "tst_aboutwindow.moc"
