#include "ServiceHost.h"

#include "app/AppSettings.h"
#include "app/Log.h"
#include "app/Orvessa.h"
#include "radio/RadioLink.h"
#include "server/RPCWorker.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

#include <hamlib/rig.h>

#include <cstdio>

ServiceHost::ServiceHost()
{
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication::setOrganizationName(AppSettings::organizationName);
    QCoreApplication::setApplicationName(AppSettings::applicationName);
    qInstallMessageHandler(qtMessageHandler);
    rig_set_debug(RIG_DEBUG_NONE);
    RadioLink::setProgram(qEnvironmentVariable("ORVESSA_TEST_RADIO", QStringLiteral(ORVESSA_RADIO)));
    const quint16 wanted = freeTcpPort();
    QSettings().setValue(AppSettings::serverPortKey, wanted);

    worker = new RPCWorker(allowedOrigins());
    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::started, worker, &RPCWorker::restart);
    QObject::connect(&thread, &QThread::finished, worker, &RPCWorker::finish);
    QObject::connect(
        &thread, &QThread::finished, &thread, [this] { delete worker; }, Qt::DirectConnection);
    thread.start();
    if (QTest::qWaitFor([&] { return RpcClient().open(wanted, 200); }, 10000)) {
        port = wanted;
    }
}

ServiceHost::~ServiceHost()
{
    thread.quit();
    thread.wait();
    // The service's own account of a run, when a developer asks for it.
    if (qEnvironmentVariableIsSet("ORVESSA_TEST_LOG")) {
        std::fwrite(log.text().constData(), 1, size_t(log.text().size()), stderr);
    }
}

std::unique_ptr<RpcClient> ServiceHost::client()
{
    auto client = std::make_unique<RpcClient>();
    return client->open(port) ? std::move(client) : nullptr;
}

void ServiceHost::restartWith(const QVariant& storedPort)
{
    QSettings().setValue(AppSettings::serverPortKey, storedPort);
    QMetaObject::invokeMethod(worker, &RPCWorker::restart, Qt::BlockingQueuedConnection);
}

QStringList ServiceHost::share(bool on, const QVariant& firstPort)
{
    QSettings().setValue(AppSettings::shareRadiosKey, on);
    QSettings().setValue(AppSettings::sharePortKey, firstPort);
    QStringList told;
    const QMetaObject::Connection telling = QObject::connect(
        worker,
        &RPCWorker::radiosShared,
        worker,
        [&told](const QStringList& radios) { told = radios; },
        Qt::DirectConnection);
    QMetaObject::invokeMethod(worker, &RPCWorker::restart, Qt::BlockingQueuedConnection);
    QObject::disconnect(telling);
    return told;
}

quint16 ServiceHost::freeTcpPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

quint16 ServiceHost::freeUdpPort()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress(QHostAddress::LocalHost), 0) ? probe.localPort() : 0;
}
