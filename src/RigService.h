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

class RadioLink;
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

    // Stops everything that reports to the service's thread: the relay, the pools, the radios' hosts (within a
    // second, killed if stuck). Called in that thread just before it ends.
    void shutDown();

private slots:
    void newEndpoint(jcon::JsonRpcEndpoint* endpoint);
    void endpointDisconnected(QObject* socket);
    void endpointError(QObject* socket, QAbstractSocket::SocketError error);
    void rigInfoPush();

private:
    // Not slots: no client may call them by name (a forged QSO pushed to every subscriber, a forged answer
    // to another client's radio request).
    void udpQsoPush(const QVariantMap& qso);
    // The worker hands each new client over directly.
    friend class RPCWorker;

    using Reply = std::function<void(const QVariant&)>;

    // A radio as this thread knows it, connected or being opened; the radio itself lives in its host process.
    struct ConnectedRig
    {
        RadioLink* link = nullptr;
        QVariantMap info;
        // False while it is being opened: requests for it wait in afterOpen, to run as if sent after the open.
        bool open = false;
        QVector<std::function<void()>> afterOpen;
        bool reading = false;
        bool failing = false;
        QElapsedTimer lastRead;
    };
    using RigWork = std::function<void(ConnectedRig&, const Reply&)>;

    void buildRigCatalogue();
    bool inCatalogue(uint modelId) const;
    // The checks every radio method starts with, in this order: the port text and the method's other texts
    // are there. The refusal, if any.
    static std::optional<QVariantMap> refusal(const QString& port, bool textsGiven = true);
    // Runs body with the way to answer: an answer given before body returns goes out at once, in turn with the
    // requests around it; a later one when it comes.
    static MyFuture answer(const std::function<void(const Reply&)>& body);
    // Runs work on the radio of port: at once when connected, after its open when it is being opened;
    // "Rig not connected" otherwise.
    MyFuture withRig(const QString& port, const RigWork& work);
    void runWithRig(const QString& port, const RigWork& work, const Reply& reply);
    // Hands a page's request to the radio's host, in turn with those before it.
    void ask(ConnectedRig& rig, const QVariantMap& request, const Reply& reply);
    void connectPort(const QString& port, uint model, const QString& speed, const Reply& reply);
    void deviceKnown(const QString& port, uint model, const QString& speed, const QString& device, const Reply& reply);
    // The open of port is over: what waited for it runs, as if sent after it.
    void finishOpening(const QString& port, bool opened);
    // Another port text holds the device, or a host of a disconnected radio still has it open.
    bool deviceTaken(const QString& device, const QString& port) const;
    RadioLink* closingHolder(const QString& device) const;
    void disconnectNow(const QString& port, jcon::JsonRpcEndpoint* caller, const Reply& reply);
    // Asks the radio's host for one status read; its subscribers get the push when it is done.
    void readStatusOf(const QString& port, ConnectedRig& rig);
    void pushToSubscribers(const QString& port, const QVariantMap& status);
    // Runs work on the relay's own thread, after the relay requests asked before it; then makes the answer
    // in this thread from its result.
    MyFuture onRelay(std::function<QVariant()> work, std::function<QVariant(const QVariant&)> then);
    // Runs call in the receiver's thread and waits for it (from the relay's thread, never from this one).
    static void onReceiver(UdpMulticast* receiver, const std::function<void(UdpMulticast&)>& call);
    QVariantMap udpQsoStart_1(quint16 port, const QString& add, const QString& group, const QVariant& patterns);

    QVariantList rigCatalogue;
    QMap<QString, ConnectedRig> rigs;
    QMap<QString, QSet<jcon::JsonRpcEndpoint*>> rigInfoSubscribers;
    QTimer pushTimer;
    QThreadPool taskPool;
    // Starts, stops and status of the relay, one at a time in the order they came, apart from taskPool's work.
    QThreadPool relayPool;
    UdpMulticast* udpReceiver = nullptr;
    QSet<jcon::JsonRpcEndpoint*> udpQsoSubscribers;
};
