// The operator's windows on the offscreen platform: the settings window, the About window with the autostart
// switch, and the tray's menu, first-run work and quit question.
#include "DeploymentConfig.h"
#include "app/AppSettings.h"
#include "shell/AboutWindow.h"
#include "shell/Autostart.h"
#include "shell/SettingsWindow.h"
#include "shell/TrayIcon.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

// Answers the next modal message box with a button, remembering what it said.
struct BoxAnswer
{
    explicit BoxAnswer(QMessageBox::StandardButton button)
    {
        QObject::connect(&poll, &QTimer::timeout, &poll, [this, button] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                said = QStringList {box->windowTitle(), box->text()};
                defaultButton = box->standardButton(box->defaultButton());
                poll.stop();
                box->button(button)->click();
            }
        });
        poll.start(10);
    }
    QTimer poll;
    QStringList said;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

QLineEdit* portField(SettingsWindow& window)
{
    return window.findChild<QLineEdit*>("portValue");
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void savePort_data();
    void savePort();
    void settingsShowTheStoredPort();
    void saveSharing_data();
    void saveSharing();
    void autostartSwitch();
    void shortcutOpensSettings();
    void trayFirstRunOnly();
    void quitIsAsked_data();
    void quitIsAsked();

private:
    QTemporaryDir config;
};

void TestWindows::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication::setOrganizationName(AppSettings::organizationName);
    QCoreApplication::setApplicationName(AppSettings::applicationName);
}

void TestWindows::init()
{
    QSettings().clear();
    removeAutostartEntry();
}

void TestWindows::savePort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("saved");
    QTest::newRow("1024") << "1024" << true;
    QTest::newRow("65535") << "65535" << true;
    QTest::newRow("1023") << "1023" << false;
    QTest::newRow("80") << "80" << false;
    QTest::newRow("empty") << "" << false;
}

void TestWindows::savePort()
{
    QFETCH(QString, text);
    QFETCH(bool, saved);
    SettingsWindow window;
    // The file as another thread finds it the moment the window says it saved: QSettings objects of one
    // process share what they have not written yet, so the file itself is read.
    QStringList onDisk;
    connect(&window, &SettingsWindow::settingsUpdated, this, [&onDisk] {
        QFile file(QSettings().fileName());
        onDisk << (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString());
    });
    window.display();
    portField(window)->setText(text);
    BoxAnswer answer(QMessageBox::Ok);
    QTest::mouseClick(window.findChild<QPushButton*>("saveBtn"), Qt::LeftButton);
    answer.poll.stop();
    if (saved) {
        QCOMPARE(onDisk.size(), 1);
        QVERIFY2(onDisk.first().contains(QStringLiteral("%1=%2\n").arg(AppSettings::serverPortKey, text)),
                 qPrintable(onDisk.first()));
        QVERIFY(window.isHidden() && answer.said.isEmpty());
    } else {
        QCOMPARE(answer.said, QStringList({"Error", "Invalid port number!"}));
        QVERIFY(onDisk.isEmpty() && window.isVisible());
        QVERIFY(!QSettings().contains(AppSettings::serverPortKey));
    }
}

void TestWindows::settingsShowTheStoredPort()
{
    SettingsWindow window;
    window.display();
    QCOMPARE(portField(window)->text(), QStringLiteral("7351"));
    QSettings().setValue(AppSettings::serverPortKey, 7400);
    portField(window)->setText("9999");
    window.close();
    QVERIFY(window.isHidden());
    window.display();
    QCOMPARE(portField(window)->text(), QStringLiteral("7400"));
}

void TestWindows::saveSharing_data()
{
    QTest::addColumn<bool>("on");
    QTest::addColumn<QString>("firstPort");
    // The stored settings after the save; none when it is refused.
    QTest::addColumn<QVariantList>("stored");
    QTest::newRow("on, from another port") << true << "4600" << QVariantList {true, 4600};
    QTest::newRow("off keeps the port") << false << "4532" << QVariantList {false, 4532};
    QTest::newRow("first port out of range") << true << "1023" << QVariantList();
}

void TestWindows::saveSharing()
{
    QFETCH(bool, on);
    QFETCH(QString, firstPort);
    QFETCH(QVariantList, stored);
    SettingsWindow window;
    QSignalSpy saved(&window, &SettingsWindow::settingsUpdated);
    window.display();
    QCOMPARE(window.findChild<QLineEdit*>("sharePortValue")->text(), QStringLiteral("4532"));
    window.findChild<QCheckBox*>("shareRadios")->setChecked(on);
    window.findChild<QLineEdit*>("sharePortValue")->setText(firstPort);
    BoxAnswer answer(QMessageBox::Ok);
    QTest::mouseClick(window.findChild<QPushButton*>("saveBtn"), Qt::LeftButton);
    answer.poll.stop();
    QCOMPARE(saved.size(), stored.isEmpty() ? 0 : 1);
    QCOMPARE(answer.said, stored.isEmpty() ? QStringList({"Error", "Invalid port number!"}) : QStringList());
    const QVariantList now {QSettings().value(AppSettings::shareRadiosKey),
                            QSettings().value(AppSettings::sharePortKey)};
    QCOMPARE(now, stored.isEmpty() ? QVariantList({QVariant(), QVariant()}) : stored);
    // Shown as the service tells, one radio a line.
    window.showSharedRadios(
        {"/dev/ttyUSB0 (Yaesu FT-991): 127.0.0.1:4532", "/dev/ttyUSB1 (Icom IC-7300): 127.0.0.1:4533"});
    QVERIFY(window.findChild<QLabel*>("sharedRadios")
                ->text()
                .endsWith("4532\n/dev/ttyUSB1 (Icom IC-7300): 127.0.0.1:4533"));
}

void TestWindows::autostartSwitch()
{
    AboutWindow about;
    about.display();
    auto* button = about.findChild<QPushButton*>();
    QCOMPARE(button->text(), QStringLiteral(" Autostart: OFF "));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QStringLiteral(" Autostart: ON "));
    QFile entry(config.filePath("autostart/Orvessa.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(entry.readAll()), autostartEntryText(QCoreApplication::applicationFilePath()));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QStringLiteral(" Autostart: OFF "));
    QVERIFY(!entry.exists());
}

void TestWindows::shortcutOpensSettings()
{
    AboutWindow about;
    SettingsWindow settings;
    TrayIcon tray(nullptr, &about, &settings);
    about.display();
    QTest::keyClick(&about, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(about.isVisible() && settings.isHidden());
    QTest::keyClick(&about, Qt::Key_O, Qt::ControlModifier);
    QVERIFY(about.isHidden() && settings.isVisible());
    about.display();
    about.close();
    QVERIFY(about.isHidden());
}

void TestWindows::trayFirstRunOnly()
{
    AboutWindow about;
    SettingsWindow settings;
    QSettings().setValue(AppSettings::notificationShownKey, "25.11.0");
    {
        TrayIcon first(nullptr, &about, &settings);
        QStringList entries;
        for (QAction* action : first.findChild<QSystemTrayIcon*>()->contextMenu()->actions()) {
            entries << action->text();
        }
        QCOMPARE(entries, QStringList({ORVESSA_SERVICE_1_LABEL, ORVESSA_SERVICE_2_LABEL, "Info", "Quit"}));
    }
    QCOMPARE(QSettings().value(AppSettings::notificationShownKey), QVariant("25.12.0"));
    QCOMPARE(QSettings().value(AppSettings::autostartInstalledKey), QVariant(true));
    QVERIFY(autostartEntryExists());
    // The operator's choice stands: a later start does not bring the entry back.
    removeAutostartEntry();
    TrayIcon later(nullptr, &about, &settings);
    QVERIFY(!autostartEntryExists());
}

void TestWindows::quitIsAsked_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("button");
    QTest::addColumn<bool>("quits");
    QTest::newRow("no keeps it running") << QMessageBox::No << false;
    // Last: once the application has quit, no event loop runs again in this process.
    QTest::newRow("yes quits") << QMessageBox::Yes << true;
}

void TestWindows::quitIsAsked()
{
    QFETCH(QMessageBox::StandardButton, button);
    QFETCH(bool, quits);
    AboutWindow about;
    SettingsWindow settings;
    TrayIcon tray(nullptr, &about, &settings);
    BoxAnswer answer(button);
    QEventLoop loop;
    QTimer::singleShot(
        0, &loop, [&tray] { tray.findChild<QSystemTrayIcon*>()->contextMenu()->actions().last()->trigger(); });
    QTimer::singleShot(1000, &loop, [&loop] { loop.exit(1); });
    // A quit of the application ends this loop too, with 0.
    QCOMPARE(loop.exec() == 0, quits);
    QCOMPARE(answer.said, QStringList({"Orvessa Quit", "Quit Orvessa?"}));
    QCOMPARE(answer.defaultButton, QMessageBox::No);
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
