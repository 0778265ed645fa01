// The object whose public slots are the JSON-RPC methods: radios, status pushes and the QSO relay.
// Built in the main thread as a child of the worker, then lives in the worker thread.
#pragma once

#include "MyFuture.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <QVariant>
#include <QVector>

#include <functional>
#include <optional>

class KrRig;
class QThread;
class RigWorker;
class UdpMulticast;

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
    QVariantMap rigInfoSubscribe(QString& serialName);
    QVariantMap rigInfoUnsubscribe(QString& serialName);
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

    // Stops everything that reports to the service's thread: the relay, the pools, the radio thread. Called
    // in that thread just before it ends.
    void shutDown();
    // True once a service ended while its radio thread was still inside a Hamlib call, which nothing can
    // interrupt: the process must then end without running the library's global destructors.
    static bool leftRadioThreadBehind();

private slots:
    void newEndpoint(jcon::JsonRpcEndpoint* endpoint);
    void endpointDisconnected(QObject* socket);
    void endpointError(QObject* socket, QAbstractSocket::SocketError error);
    void rigInfoPush();

private:
    // Not slots: no client may call them by name (a forged QSO pushed to every subscriber, a forged answer
    // to another client's radio request).
    void udpQsoPush(const QVariantMap& qso);
    void radioResults();
    // The worker hands each new client over directly.
    friend class RPCWorker;

    // A connected radio as this thread knows it; the radio itself lives in the radio thread.
    struct ConnectedRig
    {
        QVariantMap info;
        // The device the port text names, its links resolved: one device is opened under one name only.
        QString device;
        // Tells a reconnected port from the radio that was there before.
        quint64 id = 0;
        bool reading = false;
        bool failing = false;
        QElapsedTimer lastRead;
    };

    void buildRigCatalogue();
    bool inCatalogue(uint modelId) const;
    // The checks every radio method starts with, in this order: the port text and the method's other texts
    // are there, and the port names a connected radio. The refusal, if any.
    std::optional<QVariantMap> refusal(const QString& port, bool textsGiven = true) const;
    // Runs a radio method's Hamlib calls in the radio thread, after those asked for before; their envelope
    // is the answer.
    MyFuture onRadio(const QString& port, std::function<QVariantMap(KrRig&)> work);
    // Runs work in the radio thread, then continues in this thread with its result.
    void post(std::function<QVariant(RigWorker&)> work, std::function<void(const QVariant&)> then);
    // Runs work on the relay's own thread, after the relay requests asked before it; then makes the answer
    // in this thread from its result.
    MyFuture onRelay(std::function<QVariant()> work, std::function<QVariant(const QVariant&)> then);
    // Runs call in the receiver's thread and waits for it (from the relay's thread, never from this one).
    static void onReceiver(UdpMulticast* receiver, const std::function<void(UdpMulticast&)>& call);
    bool deviceTaken(const QString& device) const;
    // Asks the radio thread for one status read of the radio; its subscribers get the push when it is done.
    void readStatusOf(const QString& port, ConnectedRig& rig);
    QVariantMap udpQsoStart_1(quint16 port, const QString& add, const QString& group, const QVariant& patterns);

    QVariantList rigCatalogue;
    QMap<QString, ConnectedRig> rigs;
    // Ports whose radio is being opened, with their device: taken, not yet connected.
    QMap<QString, QString> opening;
    QMap<QString, QSet<jcon::JsonRpcEndpoint*>> rigInfoSubscribers;
    QTimer pushTimer;
    QThreadPool taskPool;
    // Starts, stops and status of the relay, one at a time in the order they came, apart from taskPool's work.
    QThreadPool relayPool;
    UdpMulticast* udpReceiver = nullptr;
    QSet<jcon::JsonRpcEndpoint*> udpQsoSubscribers;
    // On the heap: a thread stuck in Hamlib at the end is left to the process, never destroyed.
    QThread* radioThread = nullptr;
    RigWorker* radios = nullptr;
    QHash<quint64, std::function<void(const QVariant&)>> waiting;
    quint64 nextTicket = 1;
};
