#include "RigStation.h"

#include "Orvessa.h"
#include "TestEnvironment.h"

#include <QJsonValue>
#include <QTcpServer>

RigStation::RigStation(QObject* parent)
    : QObject(parent)
{ }

bool RigStation::start()
{
    if (!radio.isOpen()) {
        return false;
    }
    // Never the default port: programs of other test runs on this machine may be listening there.
    const quint16 chosen = TestEnvironment::freeTcpPort();
    if (chosen == 0) {
        return false;
    }
    orvessa.storePort(chosen);
    serverPort = orvessa.startListening();
    return serverPort == chosen;
}

std::unique_ptr<RpcClient> RigStation::newClient()
{
    auto client = std::make_unique<RpcClient>(allowedOrigins().value(0));
    if (!client->open(serverPort)) {
        return nullptr;
    }
    return client;
}

QJsonObject RigStation::call(RpcClient& client, const QString& method, const QJsonArray& params, int timeoutMs)
{
    return client.result(method, params, timeoutMs).toObject();
}

QJsonObject RigStation::connectRadio(RpcClient& client, const QString& port)
{
    return call(client, QStringLiteral("connectRig"), {port, int(RigSimulator::modelId), QStringLiteral("38400")});
}

QJsonArray RigStation::connectedRigs(RpcClient& client)
{
    return client.result(QStringLiteral("listConnectedRigs"), QJsonValue::Undefined, answerTimeoutMs).toArray();
}

QStringList RigStation::linesFrom(int from, const QRegularExpression& pattern) const
{
    return QStringList(orvessa.lines().mid(from)).filter(pattern);
}
