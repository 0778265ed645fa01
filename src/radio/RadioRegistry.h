// Radios: the catalogue of models, every connected radio with the link to its own process, what waits for a radio
// being opened, its subscribers and the status push. Lives in the service's thread, which it never makes wait for a
// radio.
#pragma once

#include "server/MyFuture.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QVariant>
#include <QVector>

#include <functional>

class RadioLink;

namespace jcon {
class JsonRpcEndpoint;
} // namespace jcon

class RadioRegistry : public QObject
{
    Q_OBJECT

signals:
    // One notification for each of these endpoints: rendered once, however many they are.
    void sendUnsolicitedNotifications(QVector<jcon::JsonRpcEndpoint*> endpoints, QString method, QVariant params);
    // A radio is connected, described as listConnectedRigs describes it; and it is gone, after the requests it cut
    // short were answered.
    void rigOpened(const QString& port, const QVariantMap& info);
    void rigClosed(const QString& port);

public:
    explicit RadioRegistry(QObject* parent = nullptr);
    ~RadioRegistry() override;

    // The radio methods, by the names pages call them; caller is the connection the request came from.
    QVariantList listRig();
    QVariantList listUSB();
    MyFuture
    connectRig(const QString& serial, uint model_id, const QString& serial_speed, jcon::JsonRpcEndpoint* caller);
    QVariantList listConnectedRigs() const;
    MyFuture disconnectRig(const QString& serialName, jcon::JsonRpcEndpoint* caller);
    MyFuture rigInfo(const QString& serialName);
    MyFuture rigInfoSubscribe(const QString& serialName, jcon::JsonRpcEndpoint* caller);
    MyFuture rigInfoUnsubscribe(const QString& serialName, jcon::JsonRpcEndpoint* caller);
    MyFuture setFreq(const QString& serialName, double frequency);
    MyFuture setMode(const QString& serialName, const QString& mode, int passband);
    MyFuture setPTT(const QString& serialName, int ptt);
    MyFuture setVFO(const QString& serialName, const QString& vfo);
    // A request of a desktop program for the radio of port: in the same queue as the pages' and under the same bound.
    void askFor(const QString& port, const QVariantMap& request, const MyFuture::Reply& reply);
    // One push tick: a status read for each radio with subscribers, unless one is under way.
    void rigInfoPush();
    // A connection has gone: it subscribes to nothing any more.
    void forget(jcon::JsonRpcEndpoint* endpoint);
    // Ends every radio's process within the time given, killing those stuck inside Hamlib; waits for them.
    void shutDown(int withinMs);

private:
    using Reply = MyFuture::Reply;

    // A radio as this thread knows it, connected or being opened; the radio itself lives in its own process.
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
    // Runs work on the radio of port: at once when connected, after its open when it is being opened;
    // "Rig not connected" otherwise.
    MyFuture withRig(const QString& port, const RigWork& work);
    void runWithRig(const QString& port, const RigWork& work, const Reply& reply);
    // A request of a page for the radio's process, in turn with those before it.
    MyFuture ask(const QString& port, const QVariantMap& request);
    void connectPort(const QString& port, uint model, const QString& speed, const Reply& reply);
    // The open of port is over: what waited for it runs, as if sent after it.
    void finishOpening(const QString& port, bool opened);
    void disconnectNow(const QString& port, jcon::JsonRpcEndpoint* caller, const Reply& reply);
    // Asks the radio's process for one status read; its subscribers get the push when it is done.
    void readStatusOf(const QString& port, ConnectedRig& rig);
    void pushToSubscribers(const QString& port, const QVariantMap& status);

    QVariantList rigCatalogue;
    QMap<QString, ConnectedRig> rigs;
    QMap<QString, QSet<jcon::JsonRpcEndpoint*>> rigInfoSubscribers;
    QTimer pushTimer;
};
