// Hosts the JSON-RPC server and the rig service; moved to a thread of its own by start-up.
#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>

#include <memory>

class RigService;

namespace jcon {
class JsonRpcLogger;
class JsonRpcWebSocketServer;
} // namespace jcon

class RPCWorker : public QObject
{
    Q_OBJECT

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

    std::shared_ptr<jcon::JsonRpcLogger> logger;
    RigService* service = nullptr;
    jcon::JsonRpcWebSocketServer* server = nullptr;
    QSettings* settings = nullptr;
};
