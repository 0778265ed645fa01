// Hosts the JSON-RPC server and the rig service; moved to a thread of its own by start-up.
#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QTimer>

#include <memory>

class RigService;

namespace jcon {
class JsonRpcLogger;
class JsonRpcWebSocketServer;
} // namespace jcon

class RPCWorker : public QObject
{
    Q_OBJECT

signals:
    // The server cannot listen on the port (another program holds it): told once, until it listens again or
    // the setting changes. Meanwhile the worker tries again every few seconds.
    void listenFailed(int port, QString reason);
    // Which radio the desktop programs reach on which port, for the operator; empty when none is shared.
    void radiosShared(QStringList radios);

public slots:
    void restart();
    void finish();

public:
    RPCWorker(const QStringList& allowedOrigins, QObject* parent = nullptr);
    explicit RPCWorker(QObject* parent = nullptr);
    ~RPCWorker() override;

    // The port restart() listens on, given the one the server listens on now (0 when closed) and the stored
    // setting; 0 when the server may stay as it is. A stored value outside the valid range means the default.
    static int portToListen(int listening, const QVariant& stored);

private:
    void registerService();
    void listenOn(int port);

    std::shared_ptr<jcon::JsonRpcLogger> logger;
    RigService* service = nullptr;
    jcon::JsonRpcWebSocketServer* server = nullptr;
    QSettings* settings = nullptr;
    QTimer* retry = nullptr;
    int wantedPort = 0;
    bool failureTold = false;
};
