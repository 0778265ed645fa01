// The tray icon and its menu, the one-time ready message and the first-run autostart entry. Main thread.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <QVector>

class AboutWindow;
class QAction;
class QMenu;
class SettingsWindow;

class TrayIcon : public QObject
{
    Q_OBJECT

public slots:
    // Tells the operator why no page can reach the program for now.
    void showListenFailure(int port, const QString& reason);

public:
    TrayIcon(QObject* parent, AboutWindow* aboutWindow, SettingsWindow* settingsWindow);
    ~TrayIcon() override;

private slots:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

private:
    void addLink(const QString& address, const QString& text);
    void confirmQuit();

    QSystemTrayIcon* trayIcon;
    QMenu* menu;
    QAction* infoAction;
    QAction* quitAction;
    QVector<QAction*> linkActions;
    SettingsWindow* settingsWindow;
    AboutWindow* aboutWindow;
};
