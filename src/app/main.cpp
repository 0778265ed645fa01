#include "AppSettings.h"
#include "Log.h"
#include "Orvessa.h"
#include "QuitOnSignals.h"
#include "server/RPCWorker.h"
#include "shell/AboutWindow.h"
#include "shell/SettingsWindow.h"
#include "shell/TrayIcon.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <hamlib/rig.h>

#include <csignal>

int main(int argc, char* argv[])
{
    LOG("Starting Orvessa {} (Build {} {})\n", AppSettings::version, __DATE__, __TIME__);
    keepDescriptorsFromChildren();
    rig_set_debug(RIG_DEBUG_NONE);
    qInstallMessageHandler(qtMessageHandler);

    auto* app = new QApplication(argc, argv);
    QApplication::setApplicationVersion(AppSettings::version);
    QApplication::setApplicationName(AppSettings::applicationName);
    QApplication::setOrganizationName(AppSettings::organizationName);
    QApplication::setOrganizationDomain(AppSettings::organizationDomain);

    if (isAlreadyRunning()) {
        QMessageBox::information(nullptr, QStringLiteral("Info"), QStringLiteral("Orvessa is already running."));
        delete app;
        return 0;
    }

    LOG("MAIN Thread id: {}\n", threadIdText());
    raiseDescriptorLimit();
    auto* origins = new QStringList(allowedOrigins());

    auto* worker = new RPCWorker(*origins);
    auto* workerThread = new QThread();
    worker->moveToThread(workerThread);
    QObject::connect(workerThread, &QThread::started, worker, &RPCWorker::restart);
    QObject::connect(workerThread, &QThread::finished, worker, &RPCWorker::finish);

    auto* aboutWindow = new AboutWindow(nullptr);
    auto* settingsWindow = new SettingsWindow(nullptr);
    auto* trayIcon = new TrayIcon(nullptr, aboutWindow, settingsWindow);
    QObject::connect(settingsWindow, &SettingsWindow::settingsUpdated, worker, &RPCWorker::restart);
    QObject::connect(worker, &RPCWorker::listenFailed, trayIcon, &TrayIcon::showListenFailure);
    QObject::connect(worker, &RPCWorker::radiosShared, settingsWindow, &SettingsWindow::showSharedRadios);

    QObject::connect(app, &QCoreApplication::aboutToQuit, workerThread, &QThread::quit);
    // Destroyed by its own thread as it ends, so its timers and sockets go where they were made; then this
    // thread, past wait(), may delete what it was connected to.
    QObject::connect(
        workerThread, &QThread::finished, workerThread, [worker] { delete worker; }, Qt::DirectConnection);
    // A kill or Ctrl+C quits as the tray's Quit does, so clients see a normal closure.
    quitOnSignals({SIGTERM, SIGINT});
    workerThread->start(QThread::InheritPriority);

    QGuiApplication::setQuitOnLastWindowClosed(false);
    const int result = QApplication::exec();

    workerThread->wait();
    delete trayIcon;
    delete settingsWindow;
    delete aboutWindow;
    delete workerThread;
    delete origins;
    delete app;
    return result;
}
