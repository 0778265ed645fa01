#include "TrayIcon.h"

#include "AboutWindow.h"
#include "Autostart.h"
#include "DeploymentConfig.h"
#include "SettingsWindow.h"
#include "app/AppSettings.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

TrayIcon::TrayIcon(QObject* parent, AboutWindow* aboutWindow_, SettingsWindow* settingsWindow_)
    : QObject(parent)
    , trayIcon(new QSystemTrayIcon(this))
    , menu(new QMenu)
    , infoAction(nullptr)
    , quitAction(nullptr)
    , settingsWindow(settingsWindow_)
    , aboutWindow(aboutWindow_)
{
    trayIcon->setIcon(QIcon(QStringLiteral(":/appicon")));

    addLink(QStringLiteral(ORVESSA_SERVICE_1_URL), QStringLiteral(ORVESSA_SERVICE_1_LABEL));
    addLink(QStringLiteral(ORVESSA_SERVICE_2_URL), QStringLiteral(ORVESSA_SERVICE_2_LABEL));

    infoAction = new QAction(QStringLiteral("Info"), this);
    infoAction->setIconVisibleInMenu(false);
    infoAction->setIcon(QIcon());
    menu->addAction(infoAction);
    connect(infoAction, &QAction::triggered, aboutWindow, &AboutWindow::display);

    connect(aboutWindow, &AboutWindow::shortcutActivated, this, [this] { settingsWindow->display(); });

    quitAction = new QAction(QStringLiteral("Quit"), this);
    quitAction->setIconVisibleInMenu(false);
    quitAction->setIcon(QIcon());
    menu->addAction(quitAction);
    connect(
        quitAction, &QAction::triggered, quitAction, [this] { confirmQuit(); }, Qt::DirectConnection);

    trayIcon->setContextMenu(menu);
    // A plain click opens the menu too: many trays never send the context-menu gesture.
    connect(trayIcon, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    trayIcon->setVisible(true);

    QSettings settings;
    if (settings.value(AppSettings::notificationShownKey, AppSettings::defaultNotificationShown).toString()
        != AppSettings::version) {
        trayIcon->showMessage(QStringLiteral("Orvessa"),
                              QStringLiteral("Ready in background"),
                              QIcon(QStringLiteral(":/appicon")),
                              10000);
        settings.setValue(AppSettings::notificationShownKey, AppSettings::version);
    }
    if (!settings.value(AppSettings::autostartInstalledKey, AppSettings::defaultAutostartInstalled).toBool()) {
        createAutostartEntry();
        settings.setValue(AppSettings::autostartInstalledKey, true);
    }
}

TrayIcon::~TrayIcon()
{
    delete trayIcon;
    delete menu;
    delete infoAction;
    delete quitAction;
    qDeleteAll(linkActions);
}

void TrayIcon::showListenFailure(int port, const QString& reason)
{
    trayIcon->showMessage(QStringLiteral("Orvessa"),
                          QStringLiteral("Orvessa cannot listen on port %1 (%2): web pages cannot reach it. It keeps "
                                         "trying; another port can be set in the settings window.")
                              .arg(port)
                              .arg(reason),
                          QSystemTrayIcon::Warning,
                          10000);
}

void TrayIcon::addLink(const QString& address, const QString& text)
{
    auto* action = new QAction(text, this);
    action->setIconVisibleInMenu(false);
    action->setIcon(QIcon());
    menu->addAction(action);
    connect(action, &QAction::triggered, this, [address] { QDesktopServices::openUrl(QUrl(address)); });
    linkActions.append(action);
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger) {
        menu->exec(QCursor::pos());
    }
}

void TrayIcon::confirmQuit()
{
    QMessageBox box(QMessageBox::Question,
                    QStringLiteral("Orvessa Quit"),
                    QStringLiteral("Quit Orvessa?"),
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() == QMessageBox::Yes) {
        QCoreApplication::quit();
    }
}
