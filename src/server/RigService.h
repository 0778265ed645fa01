// The method table: the object whose public slots are the JSON-RPC methods. Each hands its call to the owner of
// what it is about (the radios, the QSO relay) with the connection it came from. Built in the main thread as a
// child of the worker, then lives in the worker thread.
#pragma once

#include "MyFuture.h"

#include <QAbstractSocket>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <QVariant>
#include <QVector>

class QsoRelay;
class RadioRegistry;
class RadioShare;

namespace jcon {
class JsonRpcEndpoint;
} // namespace jcon

class RigService : public QObject
{
    Q_OBJECT

signals:
    void sendUnsolicitedNotification(jcon::JsonRpcEndpoint* endpoint, QString method, QVariant params);
    // One notification for each of these endpoints: rendered once, however many they are.
    void sendUnsolicitedNotifications(QVector<jcon::JsonRpcEndpoint*> endpoints, QString method, QVariant params);

public slots:
    QVariantList listRig();
    QVariantList listUSB();
    MyFuture connectRig(QString& serial, uint model_id, QString& serial_speed);
    QVariantList listConnectedRigs();
    MyFuture rigInfo(QString& serialName);
    MyFuture rigInfoSubscribe(QString& serialName);
    MyFuture rigInfoUnsubscribe(QString& serialName);
    MyFuture disconnectRig(QString& serialName);
    MyFuture futureNumber();
    MyFuture udpQsoStart(quint16 port, QString& add, QString& group);
    MyFuture udpQsoStartFilters(quint16 port, QString& add, QString& group, QStringList filters);
    MyFuture udpQsoStop();
    QVariantMap udpQsoSubscribe();
    QVariantMap udpQsoUnsubscribe();
    MyFuture udpQsoStatus();
    QVariantList allAddresses();
    MyFuture setFreq(QString& serialName, double frequency);
    MyFuture setMode(QString& serialName, QString& mode, int passband);
    MyFuture setPTT(QString& serialName, int ptt);
    MyFuture setVFO(QString& serialName, QString& vfo);
    QVariantMap ovInfo();

public:
    explicit RigService(QObject* parent = nullptr);
    ~RigService() override;

    // Stops everything that reports to the service's thread: the relay, the pool, the radios' processes (within
    // a second, killed if stuck). Called in that thread just before it ends.
    void shutDown();

private slots:
    void newEndpoint(jcon::JsonRpcEndpoint* endpoint);
    void endpointDisconnected(QObject* socket);
    void endpointError(QObject* socket, QAbstractSocket::SocketError error);
    void rigInfoPush();

private:
    // The worker hands each new client over directly.
    friend class RPCWorker;

    QThreadPool taskPool;
    RadioRegistry* radios;
    QsoRelay* relay;
    RadioShare* share;
};
