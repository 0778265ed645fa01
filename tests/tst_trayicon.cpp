#include "AboutWindow.h"
#include "AppSettings.h"
#include "Autostart.h"
#include "DeploymentConfig.h"
#include "SettingsWindow.h"
#include "TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

class TestTrayIcon : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl& url) { openedUrls << url; }

private slots:
    void initTestCase();
    void init();
    void firstRunOnly_data();
    void firstRunOnly();
    void menuEntries();
    void infoAndShortcutOpenWindows();

private:
    QMenu* trayMenu(TrayIcon& tray);

    QTemporaryDir config;
    QList<QUrl> openedUrls;
};

void TestTrayIcon::initTestCase()
{
    QVERIFY(config.isValid());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication::setOrganizationName(AppSettings::organizationName);
    QCoreApplication::setApplicationName(AppSettings::applicationName);
    // Qt's own hook for the desktop's URL handler: no browser starts, the address is recorded.
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
}

void TestTrayIcon::init()
{
    QSettings().clear();
    QDir(config.path() + QStringLiteral("/autostart")).removeRecursively();
    openedUrls.clear();
}

QMenu* TestTrayIcon::trayMenu(TrayIcon& tray)
{
    auto* icon = tray.findChild<QSystemTrayIcon*>();
    return icon ? icon->contextMenu() : nullptr;
}

void TestTrayIcon::firstRunOnly_data()
{
    QTest::addColumn<QVariant>("shownBefore");
    QTest::addColumn<QVariant>("installedBefore");
    QTest::addColumn<bool>("entryCreated");
    QTest::newRow("first start, empty store") << QVariant() << QVariant() << true;
    QTest::newRow("second start of the same version") << QVariant(AppSettings::version) << QVariant(true) << false;
    QTest::newRow("older version shows the message again")
        << QVariant(QStringLiteral("25.11.0")) << QVariant(true) << false;
    QTest::newRow("message shown but entry never installed")
        << QVariant(AppSettings::version) << QVariant(false) << true;
}

void TestTrayIcon::firstRunOnly()
{
    QFETCH(QVariant, shownBefore);
    QFETCH(QVariant, installedBefore);
    QFETCH(bool, entryCreated);
    {
        QSettings settings;
        if (shownBefore.isValid()) {
            settings.setValue(QStringLiteral("notificationShown"), shownBefore);
        }
        if (installedBefore.isValid()) {
            settings.setValue(QStringLiteral("autostart_installed"), installedBefore);
        }
    }
    AboutWindow about;
    SettingsWindow settingsWindow;
    TrayIcon tray(nullptr, &about, &settingsWindow);

    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("notificationShown")), QVariant(QStringLiteral("25.12.0")));
    QCOMPARE(settings.value(QStringLiteral("autostart_installed")).toBool(), true);
    QCOMPARE(QFile::exists(config.path() + QStringLiteral("/autostart/Orvessa.desktop")), entryCreated);
}

void TestTrayIcon::menuEntries()
{
    AboutWindow about;
    SettingsWindow settingsWindow;
    TrayIcon tray(nullptr, &about, &settingsWindow);
    QMenu* menu = trayMenu(tray);
    QVERIFY(menu);

    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << action->text();
    }
    const QStringList expected {
        QStringLiteral(ORVESSA_SERVICE_1_LABEL), QStringLiteral(ORVESSA_SERVICE_2_LABEL), "Info", "Quit"};
    QCOMPARE(texts, expected);

    menu->actions().at(0)->trigger();
    menu->actions().at(1)->trigger();
    const QList<QUrl> pages {QUrl(QStringLiteral(ORVESSA_SERVICE_1_URL)), QUrl(QStringLiteral(ORVESSA_SERVICE_2_URL))};
    QCOMPARE(openedUrls, pages);
}

void TestTrayIcon::infoAndShortcutOpenWindows()
{
    AboutWindow about;
    SettingsWindow settingsWindow;
    TrayIcon tray(nullptr, &about, &settingsWindow);
    QMenu* menu = trayMenu(tray);
    QVERIFY(menu);

    menu->actions().at(2)->trigger();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QVERIFY(settingsWindow.isHidden());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::ControlModifier);
    QVERIFY(about.isHidden());
    QVERIFY(settingsWindow.isVisible());
    QTRY_COMPARE(QApplication::activeWindow(), &settingsWindow);
}

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
