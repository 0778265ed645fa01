#include "AppSettings.h"
#include "SettingsWindow.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void refusedOnSave_data();
    void refusedOnSave();
    void savedAsInteger_data();
    void savedAsInteger();
    void cannotBeTyped_data();
    void cannotBeTyped();
    void displayShowsStoredPort();
    void closingHides();

private:
    QLineEdit* portField(SettingsWindow& window);
    void typePort(SettingsWindow& window, const QString& keys);

    QTemporaryDir config;
};

void TestSettingsWindow::initTestCase()
{
    QVERIFY(config.isValid());
    // Before the first QSettings: the store's folder is fixed on first use.
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication::setOrganizationName(AppSettings::organizationName);
    QCoreApplication::setApplicationName(AppSettings::applicationName);
}

void TestSettingsWindow::init()
{
    QSettings().clear();
}

QLineEdit* TestSettingsWindow::portField(SettingsWindow& window)
{
    return window.findChild<QLineEdit*>(QStringLiteral("portValue"));
}

void TestSettingsWindow::typePort(SettingsWindow& window, const QString& keys)
{
    QLineEdit* field = portField(window);
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, keys);
}

void TestSettingsWindow::refusedOnSave_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("just below the range") << QStringLiteral("1023");
    QTest::newRow("well-known port") << QStringLiteral("80");
    QTest::newRow("empty field") << QString();
}

void TestSettingsWindow::refusedOnSave()
{
    QFETCH(QString, typed);
    QSettings().setValue(AppSettings::serverPortKey, 4000);
    SettingsWindow window;
    window.display();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    typePort(window, typed);
    QCOMPARE(portField(window)->text(), typed);
    QSignalSpy updated(&window, &SettingsWindow::settingsUpdated);

    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            QTest::keyClick(box, Qt::Key_Escape);
        }
    });
    answer.start(20);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("saveBtn")), Qt::LeftButton);
    answer.stop();

    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("Invalid port number!"));
    QCOMPARE(icon, QMessageBox::Warning);
    QVERIFY(window.isVisible());
    QCOMPARE(updated.count(), 0);
    QCOMPARE(QSettings().value(AppSettings::serverPortKey).toInt(), 4000);
}

void TestSettingsWindow::savedAsInteger_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("stored");
    QTest::newRow("lowest port") << QStringLiteral("1024") << 1024;
    QTest::newRow("highest port") << QStringLiteral("65535") << 65535;
    QTest::newRow("the port already stored") << QStringLiteral("7351") << 7351;
}

void TestSettingsWindow::savedAsInteger()
{
    QFETCH(QString, typed);
    QFETCH(int, stored);
    QSettings().setValue(AppSettings::serverPortKey, 7351);
    SettingsWindow window;
    window.display();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    typePort(window, typed);
    QSignalSpy updated(&window, &SettingsWindow::settingsUpdated);
    bool storedWhenSignalled = false;
    connect(&window, &SettingsWindow::settingsUpdated, this, [&] {
        storedWhenSignalled = QSettings().value(AppSettings::serverPortKey).toInt() == stored;
    });

    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("saveBtn")), Qt::LeftButton);

    QCOMPARE(updated.count(), 1);
    QVERIFY2(storedWhenSignalled, "the worker would read the old port");
    QVERIFY(window.isHidden());
    const QVariant value = QSettings().value(AppSettings::serverPortKey);
    QCOMPARE(value.userType(), int(QMetaType::Int));
    QCOMPARE(value.toInt(), stored);
    // Already on disk, so a crash before the next start does not lose it.
    QFile file(QSettings().fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().split('\n').contains(QByteArray("serverPort1=") + QByteArray::number(stored)));
}

void TestSettingsWindow::cannotBeTyped_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::newRow("above the range") << QStringLiteral("65536") << QStringLiteral("6553");
    QTest::newRow("leading zero") << QStringLiteral("02000") << QStringLiteral("2000");
    QTest::newRow("letters") << QStringLiteral("8a0b8x0") << QStringLiteral("8080");
    QTest::newRow("sign and blank") << QStringLiteral("-+ 5000") << QStringLiteral("5000");
    QTest::newRow("sixth digit") << QStringLiteral("123456") << QStringLiteral("12345");
}

void TestSettingsWindow::cannotBeTyped()
{
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    SettingsWindow window;
    window.display();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    typePort(window, keys);
    QCOMPARE(portField(window)->text(), shown);
}

void TestSettingsWindow::displayShowsStoredPort()
{
    QSettings().setValue(AppSettings::serverPortKey, 2000);
    SettingsWindow window;
    QCOMPARE(portField(window)->text(), QStringLiteral("2000"));
    window.display();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    typePort(window, QStringLiteral("3000"));
    window.display();
    QCOMPARE(portField(window)->text(), QStringLiteral("3000"));

    window.close();
    QSettings().setValue(AppSettings::serverPortKey, 2500);
    window.display();
    QCOMPARE(portField(window)->text(), QStringLiteral("2500"));
}

void TestSettingsWindow::closingHides()
{
    QPointer<SettingsWindow> window = new SettingsWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->display();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(!window->close());
    QVERIFY(window->isHidden());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(!window.isNull(), "closing destroyed the window");
    window->display();
    QVERIFY(window->isVisible());
    delete window;
}

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
