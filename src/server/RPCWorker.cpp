#include "RPCWorker.h"

#include "RigService.h"
#include "app/AppSettings.h"
#include "app/Log.h"
#include "jcon/JsonRpcDebugLogger.h"
#include "jcon/JsonRpcWebSocketServer.h"
#include "share/RadioShare.h"

#include <QHostAddress>

RPCWorker::RPCWorker(const QStringList& allowedOrigins, QObject* parent)
    : QObject(parent)
    , logger(std::make_shared<jcon::JsonRpcDebugLogger>())
    , service(new RigService(this))
    , server(new jcon::JsonRpcWebSocketServer(allowedOrigins, this, logger))
    , settings(new QSettings(this))
{
    registerService();
}

RPCWorker::RPCWorker(QObject* parent)
    : QObject(parent)
    , logger(std::make_shared<jcon::JsonRpcDebugLogger>())
    , service(new RigService(this))
    , server(new jcon::JsonRpcWebSocketServer(this, logger))
    , settings(new QSettings(this))
{
    registerService();
}

RPCWorker::~RPCWorker()
{
    LOG("DESTROY RPCWorker \n");
    delete settings;
    delete service;
    logger.reset();
}

void RPCWorker::registerService()
{
    retry = new QTimer(this);
    retry->setSingleShot(true);
    retry->setInterval(2000);
    connect(retry, &QTimer::timeout, this, [this] { listenOn(wantedPort); });

    // Notifications must be on before registration: that is when the service's signal gets connected.
    server->setNotificationsEnabled(true);
    server->registerServices(QObjectList {service});
    connect(server, &jcon::JsonRpcWebSocketServer::clientConnected, service, [this](QObject* clientSocket) {
        service->newEndpoint(server->endpointForSocket(clientSocket));
    });
    connect(service->share, &RadioShare::sharedChanged, this, &RPCWorker::radiosShared);
}

int RPCWorker::portToListen(int listening, const QVariant& stored)
{
    // A stored 0 or non-number reads as 0, which is also what a closed server reports: that is no
    // reason to stay closed.
    const int configured = stored.toInt();
    if (listening != 0 && listening == configured) {
        return 0;
    }
    return AppSettings::portOr(configured, AppSettings::defaultServerPort);
}

void RPCWorker::restart()
{
    LOG("Change port\n");
    service->share->configure(
        settings->value(AppSettings::shareRadiosKey, AppSettings::defaultShareRadios).toBool(),
        RadioShare::firstPortFrom(settings->value(AppSettings::sharePortKey, AppSettings::defaultSharePort)));
    const int port
        = portToListen(server->port(), settings->value(AppSettings::serverPortKey, AppSettings::defaultServerPort));
    if (port == 0) {
        LOG("Same port\n");
        return;
    }
    LOG("New port\n");
    // A new setting starts afresh: its failure is worth telling.
    retry->stop();
    failureTold = false;
    server->close();
    listenOn(port);
}

void RPCWorker::listenOn(int port)
{
    wantedPort = port;
    if (server->listen(QHostAddress::LocalHost, port)) {
        failureTold = false;
        return;
    }
    if (!failureTold) {
        const QString reason = server->listenError();
        LOG("Cannot listen on port {}: {}\n", port, reason);
        emit listenFailed(port, reason);
        failureTold = true;
    }
    // Whatever holds the port may let it go at any time.
    retry->start();
}

void RPCWorker::finish()
{
    LOG("closing thread\n");
    retry->stop();
    server->close();
    service->shutDown();
}
