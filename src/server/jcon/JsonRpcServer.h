// The transport-independent JSON-RPC server: a registry of service objects, dispatch of each request onto
// a method they declare, the answers, and the services' notifications. Lives in the thread of its endpoints.
#pragma once

#include <QAbstractSocket>
#include <QHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QMetaMethod>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>

#include <memory>

namespace jcon {

class JsonRpcEndpoint;
class JsonRpcLogger;

class JsonRpcServer : public QObject
{
    Q_OBJECT

signals:
    void clientConnected(QObject* client_socket);
    void clientDisconnected(QObject* client_socket);
    // Declared for transports that report socket errors; nothing here emits it.
    void socketError(QObject* socket, QAbstractSocket::SocketError error);

public slots:
    void jsonRequestReceived(const QJsonObject& request, QObject* socket);

public:
    // An empty logger means a file logger on "json_server_log.txt" in the current directory.
    JsonRpcServer(QObject* parent, std::shared_ptr<JsonRpcLogger> logger);
    ~JsonRpcServer() override;

    virtual bool listen(int port) = 0;
    virtual bool listen(const QHostAddress& address, int port) = 0;
    virtual void close() = 0;
    virtual JsonRpcEndpoint* endpointForSocket(QObject* socket) = 0;
    virtual QVector<JsonRpcEndpoint*> connectedEndpoints() = 0;
    // Whether the endpoint is one of the connected ones; never touches it.
    virtual bool isConnectedEndpoint(JsonRpcEndpoint* endpoint) const = 0;

    // Notifications must be enabled before registering: the flag is read only here.
    void registerServices(const QObjectList& services);
    void registerServices(const QMap<QObject*, QString>& services, const QString& separator);
    void setNotificationsEnabled(bool enabled);

    // The three messages in their wire text (Qt's indented JSON layout, keys in order).
    QByteArray createResponse(const QString& id, const QVariant& returnValue, const QString& methodName);
    QByteArray createErrorResponse(const QString& id, int code, const QString& message);
    // Empty when the value has no JSON form.
    QByteArray createNotification(const QString& methodName, const QVariant& params);

    // The endpoint of the request being dispatched. Outside a service method call it may name a client
    // that has gone since: timers and pushes must not use it.
    static JsonRpcEndpoint* currentEndpoint();

protected slots:
    virtual void newConnection() = 0;
    virtual void disconnectClient(QObject* client_socket) = 0;

private slots:
    void serviceNotificationReceived(jcon::JsonRpcEndpoint* endp, const QString& name, const QVariant& value);
    // The same notification to many endpoints, rendered once; those no longer connected are skipped.
    void serviceNotificationsReceived(const QVector<jcon::JsonRpcEndpoint*>& endpoints,
                                      const QString& name,
                                      const QVariant& value);

protected:
    void logInfo(const QString& message);
    void logError(const QString& message);

    std::shared_ptr<JsonRpcLogger> logger;

private:
    void connectNotifications();
    void indexMethods();
    // True when a method was called (also when it threw: returnValue then carries the failure).
    // invocation gets the log line of the call, without its result.
    bool dispatch(const QString& methodName, const QVariant& params, QVariant& returnValue, QString& invocation);
    bool argumentCountFits(const QMetaMethod& method, int count);
    bool matchArguments(const QMetaMethod& method, const QVariantList& arguments, QVariantList& converted);
    bool matchNamedArguments(const QMetaMethod& method, const QVariantMap& arguments, QVariantList& converted);
    bool convertArgument(const QMetaMethod& method, int index, const QVariant& argument, QVariantList& converted);
    bool invoke(QObject* service,
                const QMetaMethod& method,
                QVariantList& arguments,
                QVariant& returnValue,
                QString& invocation);
    void sendResponse(JsonRpcEndpoint* endpoint, const QByteArray& message);

    QMap<QObject*, QString> services;
    // Each service's methods by name, in declaration order: looked up once per request, built at registration.
    QHash<QObject*, QHash<QByteArray, QVector<int>>> methodsByName;
    QString namespaceSeparator;
    bool notificationsEnabled = false;

    // One per thread: each server serves its clients from one thread, and two servers never share it.
    static thread_local JsonRpcEndpoint* current;
};

} // namespace jcon
