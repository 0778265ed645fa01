#include "JsonRpcServer.h"

#include "JsonRpcEndpoint.h"
#include "JsonRpcFileLogger.h"
#include "JsonRpcValue.h"
#include "VariantToString.h"
#include "server/MyFuture.h"

#include <QGenericArgument>
#include <QJsonObject>
#include <QPointer>

#include <array>
#include <exception>

namespace jcon {

namespace {

constexpr int methodNotFound = -32601;
constexpr int invalidRequest = -32600;
// The most arguments a meta-object call can pass.
constexpr int maxArguments = 10;

// A service's notification signals, the slots that send what they ask for, and how they meet: one
// notification waits for the emitting code to return; a notification to many goes out at once when the
// service shares the server's thread, sparing every client's socket one more turn of the event loop.
struct NotificationLink
{
    const char* signal;
    const char* slot;
    Qt::ConnectionType type;
};
const NotificationLink notificationLinks[] {
    {"sendUnsolicitedNotification(jcon::JsonRpcEndpoint*,QString,QVariant)",
     "serviceNotificationReceived(jcon::JsonRpcEndpoint*,QString,QVariant)",
     Qt::QueuedConnection},
    {"sendUnsolicitedNotifications(QVector<jcon::JsonRpcEndpoint*>,QString,QVariant)",
     "serviceNotificationsReceived(QVector<jcon::JsonRpcEndpoint*>,QString,QVariant)",
     Qt::AutoConnection}};

// One line per call, written once its result is known; without a result for a void method, a notification
// whose work never starts, or a call whose client left before its answer.
void logInvocation(JsonRpcLogger& logger, const QString& invocation, const QVariant& result)
{
    if (invocation.isEmpty()) {
        return;
    }
    QString line = QStringLiteral("JSON RPC server: ") + invocation;
    if (result.isValid()) {
        line += QStringLiteral(" -> returning: ") + variantToString(result);
    }
    logger.logInfo(line);
}

} // namespace

thread_local JsonRpcEndpoint* JsonRpcServer::current = nullptr;

JsonRpcServer::JsonRpcServer(QObject* parent, std::shared_ptr<JsonRpcLogger> logger_)
    : QObject(parent)
    , logger(std::move(logger_))
{
    if (!logger) {
        logger = std::make_shared<JsonRpcFileLogger>(QStringLiteral("json_server_log.txt"));
    }
    qRegisterMetaType<MyFuture>("MyFuture");
    // Services emit notifications from other threads; the queued delivery needs the endpoint type.
    qRegisterMetaType<jcon::JsonRpcEndpoint*>("jcon::JsonRpcEndpoint*");
    qRegisterMetaType<QVector<jcon::JsonRpcEndpoint*>>("QVector<jcon::JsonRpcEndpoint*>");
}

JsonRpcServer::~JsonRpcServer() = default;

JsonRpcEndpoint* JsonRpcServer::currentEndpoint()
{
    return current;
}

void JsonRpcServer::registerServices(const QObjectList& list)
{
    services.clear();
    for (QObject* service : list) {
        services.insert(service, QString());
    }
    namespaceSeparator.clear();
    indexMethods();
    connectNotifications();
}

void JsonRpcServer::registerServices(const QMap<QObject*, QString>& map, const QString& separator)
{
    services = map;
    namespaceSeparator = separator;
    indexMethods();
    connectNotifications();
}

void JsonRpcServer::indexMethods()
{
    methodsByName.clear();
    for (QObject* service : services.keys()) {
        const QMetaObject* const meta = service->metaObject();
        QHash<QByteArray, QVector<int>>& byName = methodsByName[service];
        for (int index = meta->methodOffset(); index < meta->methodCount(); ++index) {
            byName[meta->method(index).name()].append(index);
        }
    }
}

void JsonRpcServer::setNotificationsEnabled(bool enabled)
{
    notificationsEnabled = enabled;
}

void JsonRpcServer::connectNotifications()
{
    if (!notificationsEnabled) {
        return;
    }
    for (const NotificationLink& link : notificationLinks) {
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot(link.slot));
        for (QObject* service : services.keys()) {
            const int index = service->metaObject()->indexOfSignal(link.signal);
            if (index >= 0) {
                // Unique, so registering the same service again does not send every notification twice.
                connect(service,
                        service->metaObject()->method(index),
                        this,
                        slot,
                        static_cast<Qt::ConnectionType>(link.type | Qt::UniqueConnection));
            }
        }
    }
}

void JsonRpcServer::jsonRequestReceived(const QJsonObject& request, QObject* socket)
{
    if (request.value(QStringLiteral("jsonrpc")).toString() != QStringLiteral("2.0")) {
        logError(QStringLiteral("invalid protocol tag"));
        return;
    }
    current = endpointForSocket(socket);

    const QString methodName = request.value(QStringLiteral("method")).toString();
    if (methodName.isEmpty()) {
        logError(QStringLiteral("no method present in request"));
    }
    const QVariant params = request.value(QStringLiteral("params")).toVariant();
    const QString id = requestIdText(request.value(QStringLiteral("id")));

    QVariant returnValue;
    QString invocation;
    if (!dispatch(methodName, params, returnValue, invocation)) {
        const QString message
            = QStringLiteral("method '%1' not found, check name and parameter types ").arg(methodName);
        logError(message);
        if (!id.isEmpty()) {
            sendResponse(current, createErrorResponse(id, methodNotFound, message));
        }
        return;
    }
    if (returnValue.userType() == qMetaTypeId<MyFuture>()) {
        MyFuture future = returnValue.value<MyFuture>();
        // A value known already (a refusal) is answered now, before the next request, like any other.
        if (const std::optional<QVariant> known = future.knownValue()) {
            returnValue = *known;
        } else if (id.isEmpty()) {
            // A notification: its deferred work is never started.
            logInvocation(*logger, invocation, QVariant());
            return;
        } else {
            // The endpoint may be gone by the time the work ends without having said so (server torn down).
            QPointer<JsonRpcEndpoint> endpoint = current;
            const bool hadEndpoint = current != nullptr;
            future.start(
                this,
                current,
                [this, id, methodName, endpoint, hadEndpoint, invocation](const QVariant& value) {
                    logInvocation(*logger, invocation, value);
                    if (!hadEndpoint || !endpoint) {
                        logError(QStringLiteral("invalid client socket, cannot send response"));
                        return;
                    }
                    endpoint->send(createResponse(id, value, methodName));
                },
                [logger = logger, invocation] { logInvocation(*logger, invocation, QVariant()); });
            return;
        }
    }
    logInvocation(*logger, invocation, returnValue);
    if (!id.isEmpty()) {
        sendResponse(current, createResponse(id, returnValue, methodName));
    }
}

void JsonRpcServer::sendResponse(JsonRpcEndpoint* endpoint, const QByteArray& message)
{
    if (!endpoint) {
        logError(QStringLiteral("invalid client socket, cannot send response"));
        return;
    }
    endpoint->send(message);
}

bool JsonRpcServer::dispatch(const QString& fullName,
                             const QVariant& params,
                             QVariant& returnValue,
                             QString& invocation)
{
    QString space;
    QString name = fullName;
    if (!namespaceSeparator.isEmpty()) {
        const int at = fullName.lastIndexOf(namespaceSeparator);
        if (at > 0) {
            space = fullName.left(at);
            name = fullName.mid(at + namespaceSeparator.size());
        }
    }
    const QByteArray wanted = name.toUtf8();

    for (auto entry = services.cbegin(); entry != services.cend(); ++entry) {
        if (!entry.value().isEmpty() && entry.value() != space) {
            continue;
        }
        QObject* const service = entry.key();
        const QMetaObject* const meta = service->metaObject();
        for (const int index : methodsByName.value(service).value(wanted)) {
            const QMetaMethod method = meta->method(index);
            QVariantList arguments;
            bool matched = false;
            const int kind = params.userType();
            if (kind == QMetaType::QVariantList || kind == QMetaType::QStringList) {
                matched = matchArguments(method, params.toList(), arguments);
            } else if (kind == QMetaType::QVariantMap) {
                matched = matchNamedArguments(method, params.toMap(), arguments);
            } else if (!params.isValid()) {
                matched = matchArguments(method, QVariantList(), arguments);
            }
            if (matched && invoke(service, method, arguments, returnValue, invocation)) {
                return true;
            }
        }
    }
    return false;
}

bool JsonRpcServer::argumentCountFits(const QMetaMethod& method, int count)
{
    if (count == method.parameterCount()) {
        return true;
    }
    logError(QStringLiteral("wrong number of arguments to method %1 -- expected %2 arguments, but got %3")
                 .arg(QString::fromLatin1(method.methodSignature()))
                 .arg(method.parameterCount())
                 .arg(count));
    return false;
}

bool JsonRpcServer::matchArguments(const QMetaMethod& method, const QVariantList& arguments, QVariantList& converted)
{
    if (!argumentCountFits(method, arguments.size())) {
        return false;
    }
    for (int i = 0; i < arguments.size(); ++i) {
        if (!convertArgument(method, i, arguments.at(i), converted)) {
            return false;
        }
    }
    return true;
}

bool JsonRpcServer::matchNamedArguments(const QMetaMethod& method,
                                        const QVariantMap& arguments,
                                        QVariantList& converted)
{
    if (!argumentCountFits(method, arguments.size())) {
        return false;
    }
    const QList<QByteArray> names = method.parameterNames();
    for (int i = 0; i < names.size(); ++i) {
        const auto found = arguments.constFind(QString::fromUtf8(names.at(i)));
        if (found == arguments.cend() || !convertArgument(method, i, found.value(), converted)) {
            return false;
        }
    }
    return true;
}

bool JsonRpcServer::convertArgument(const QMetaMethod& method,
                                    int index,
                                    const QVariant& argument,
                                    QVariantList& converted)
{
    QVariant value;
    switch (jcon::convertArgument(method.parameterTypes().at(index), argument, value)) {
    case ArgumentFit::NoValue:
        logError(QStringLiteral("argument %1 of %2 to method %3 is invalid")
                     .arg(index + 1)
                     .arg(method.parameterCount())
                     .arg(QString::fromLatin1(method.methodSignature())));
        return false;
    case ArgumentFit::Unfit:
        return false;
    case ArgumentFit::Converted:
        break;
    }
    converted.append(value);
    return true;
}

bool JsonRpcServer::invoke(
    QObject* service, const QMetaMethod& method, QVariantList& arguments, QVariant& returnValue, QString& invocation)
{
    if (arguments.size() > maxArguments) {
        return false;
    }
    const QList<QByteArray> typeNames = method.parameterTypes();
    std::array<QGenericArgument, maxArguments> passed;
    for (int i = 0; i < arguments.size(); ++i) {
        passed[i] = QGenericArgument(typeNames.at(i).constData(), arguments[i].data());
    }

    returnValue = QVariant();
    QGenericReturnArgument returnSlot;
    const int returnType = method.returnType();
    if (returnType != QMetaType::Void && returnType != QMetaType::UnknownType) {
        returnValue = QVariant(returnType, nullptr);
        returnSlot = QGenericReturnArgument(method.typeName(), returnValue.data());
    }

    bool invoked = false;
    QString failure;
    try {
        invoked = method.invoke(service,
                                Qt::DirectConnection,
                                returnSlot,
                                passed[0],
                                passed[1],
                                passed[2],
                                passed[3],
                                passed[4],
                                passed[5],
                                passed[6],
                                passed[7],
                                passed[8],
                                passed[9]);
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    } catch (...) {
        failure = QStringLiteral("unknown exception");
    }
    if (!failure.isNull()) {
        // The client still gets an answer, in the error form every other failure of a service takes.
        logError(QStringLiteral("method '%1' failed: %2").arg(QString::fromLatin1(method.name()), failure));
        returnValue = QVariantMap {{QStringLiteral("Error"), QStringLiteral("Internal error: %1").arg(failure)}};
        return true;
    }
    if (!invoked) {
        returnValue = QVariant();
        return false;
    }

    invocation = QStringLiteral("%1 invoked ").arg(QString::fromLatin1(method.name()));
    if (arguments.isEmpty()) {
        invocation += QStringLiteral("without arguments");
    } else {
        const QList<QByteArray> names = method.parameterNames();
        const QStringList texts = variantsToStrings(arguments);
        QStringList items;
        for (int i = 0; i < texts.size(); ++i) {
            items.append(QString::fromUtf8(names.at(i)) + QStringLiteral(": ") + texts.at(i));
        }
        invocation
            += QStringLiteral("with argument%1: %2")
                   .arg(arguments.size() == 1 ? QString() : QStringLiteral("s"), items.join(QStringLiteral(", ")));
    }
    return true;
}

QByteArray JsonRpcServer::createResponse(const QString& id, const QVariant& returnValue, const QString& methodName)
{
    if (!isRenderable(returnValue)) {
        const QString message
            = QStringLiteral("method '%1' has unknown return type: %2").arg(methodName).arg(returnValue.userType());
        logError(message);
        return createErrorResponse(id, invalidRequest, message);
    }
    QByteArray text = "{\n    \"id\": ";
    writeJsonString(id, text);
    text += ",\n    \"jsonrpc\": \"2.0\",\n    \"result\": ";
    writeJson(returnValue, 1, text);
    text += "\n}\n";
    return text;
}

QByteArray JsonRpcServer::createErrorResponse(const QString& id, int code, const QString& message)
{
    QByteArray text = "{\n    \"error\": {\n        \"code\": " + QByteArray::number(code) + ",\n        \"message\": ";
    writeJsonString(message, text);
    text += "\n    },\n    \"id\": ";
    writeJsonString(id, text);
    text += ",\n    \"jsonrpc\": \"2.0\"\n}\n";
    return text;
}

QByteArray JsonRpcServer::createNotification(const QString& methodName, const QVariant& params)
{
    if (!isRenderable(params)) {
        logError(QStringLiteral("unknown return type: %1").arg(params.userType()));
        return QByteArray();
    }
    QByteArray text = "{\n    \"jsonrpc\": \"2.0\",\n    \"method\": ";
    writeJsonString(methodName, text);
    text += ",\n    \"params\": ";
    writeJson(params, 1, text);
    text += "\n}\n";
    return text;
}

void JsonRpcServer::serviceNotificationReceived(jcon::JsonRpcEndpoint* endp, const QString& name, const QVariant& value)
{
    const QByteArray notification = createNotification(name, value);
    if (notification.isEmpty()) {
        return;
    }
    if (!endp) {
        for (JsonRpcEndpoint* endpoint : connectedEndpoints()) {
            if (endpoint) {
                endpoint->send(notification);
            }
        }
    } else if (isConnectedEndpoint(endp)) {
        endp->send(notification);
    }
}

void JsonRpcServer::serviceNotificationsReceived(const QVector<jcon::JsonRpcEndpoint*>& endpoints,
                                                 const QString& name,
                                                 const QVariant& value)
{
    if (endpoints.isEmpty()) {
        return;
    }
    const QByteArray notification = createNotification(name, value);
    if (notification.isEmpty()) {
        return;
    }
    const QString text = QString::fromUtf8(notification);
    for (JsonRpcEndpoint* endpoint : endpoints) {
        if (isConnectedEndpoint(endpoint)) {
            endpoint->sendText(text);
        }
    }
}

void JsonRpcServer::logInfo(const QString& message)
{
    logger->logInfo(QStringLiteral("JSON RPC server: ") + message);
}

void JsonRpcServer::logError(const QString& message)
{
    logger->logError(QStringLiteral("JSON RPC server error: ") + message);
}

} // namespace jcon
