// The object whose public slots are the JSON-RPC methods: radios, status pushes and the QSO relay.
// Built in the main thread as a child of the worker, then lives in the worker thread.
#pragma once

#include "MyFuture.h"

#include <QAbstractSocket>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <QVariant>

#include <memory>

class KrRig;
class UdpMulticast;

namespace jcon {
class JsonRpcEndpoint;
} // namespace jcon

class RigService : public QObject
{
    Q_OBJECT

signals:
    void sendUnsolicitedNotification(jcon::JsonRpcEndpoint* endpoint, QString method, QVariant params);

public slots:
    QVariantList listRig();
    QVariantList listUSB();
    QVariantMap connectRig(QString& serial, uint model_id, QString& serial_speed);
    QVariantList listConnectedRigs();
    QVariantMap rigInfo(QString& serialName);
    QVariantMap rigInfoSubscribe(QString& serialName);
    QVariantMap rigInfoUnsubscribe(QString& serialName);
    QVariantMap disconnectRig(QString& serialName);
    MyFuture futureNumber();
    MyFuture udpQsoStart(quint16 port, QString& add, QString& group);
    MyFuture udpQsoStartFilters(quint16 port, QString& add, QString& group, QStringList filters);
    QVariantMap udpQsoStop();
    QVariantMap udpQsoSubscribe();
    QVariantMap udpQsoUnsubscribe();
    QVariantMap udpQsoStatus();
    QVariantList allAddresses();
    QVariantMap setFreq(QString& serialName, double frequency);
    QVariantMap setMode(QString& serialName, QString& mode, int passband);
    QVariantMap setPTT(QString& serialName, int ptt);
    QVariantMap setVFO(QString& serialName, QString& vfo);
    QVariantMap ovInfo();

public:
    explicit RigService(QObject* parent = nullptr);
    ~RigService() override;

private slots:
    void newEndpoint(jcon::JsonRpcEndpoint* endpoint);
    void endpointDisconnected(QObject* socket);
    void endpointError(QObject* socket, QAbstractSocket::SocketError error);
    void rigInfoPush();
    void udpQsoPush(QVariantMap qso);

private:
    void buildRigCatalogue();
    bool inCatalogue(uint modelId) const;
    // The rig connected under exactly this port text, or null.
    KrRig* connectedRig(const QString& port) const;
    QVariantMap udpQsoStart_1(quint16 port, const QString& add, const QString& group, const QVariant& patterns);

    QVariantList rigCatalogue;
    QMap<QString, std::shared_ptr<KrRig>> rigs;
    QMap<QString, QSet<jcon::JsonRpcEndpoint*>> rigInfoSubscribers;
    QTimer pushTimer;
    QThreadPool taskPool;
    UdpMulticast* udpReceiver = nullptr;
    QSet<jcon::JsonRpcEndpoint*> udpQsoSubscribers;
};
