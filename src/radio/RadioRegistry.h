// Radios: the catalogue of models, every connected radio with the link to its own process, what waits for a radio
// being opened, who keyed each transmitter, its subscribers and the status push. Lives in the service's thread,
// which it never makes wait for a radio.
#pragma once

#include "server/MyFuture.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QPointer>
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
    using Reply = MyFuture::Reply;

    // Radio processes alive at once, those still closing included; past it a connectRig is refused at once.
    static constexpr int maxRadios = 64;
    // The longest text parameter taken, in UTF-8 bytes: far past any port, mode or VFO name.
    static constexpr int maxTextBytes = 256;

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
    MyFuture setPTT(const QString& serialName, int ptt, QObject* caller);
    MyFuture setVFO(const QString& serialName, const QString& vfo);
    // The one way from a connection to a radio's process: request {"op": ..., arguments} runs on the radio of port
    // in turn with the others, under the same bounds, and reply gets its answer (at once for a refusal). A setPTT
    // that keys the transmitter makes caller the one whose going releases it.
    void request(const QString& port, const QVariantMap& request, QObject* caller, const Reply& reply);
    // One push tick: a status read for each radio with subscribers, unless one is under way.
    void rigInfoPush();
    // A connection has gone: it subscribes to nothing any more, and a transmitter it keyed is released.
    void forget(QObject* connection);
    // Ends every radio's process within the time given, killing those stuck inside Hamlib; waits for them.
    void shutDown(int withinMs);

private:
    // A request sent while its radio is being opened, run as if sent after the open.
    struct AfterOpen
    {
        std::function<void()> run;
        Reply reply;
        bool connect = false;
    };
    // A radio as this thread knows it, connected or being opened; the radio itself lives in its own process.
    struct ConnectedRig
    {
        RadioLink* link = nullptr;
        QVariantMap info;
        // False while it is being opened: requests for it wait in afterOpen.
        bool open = false;
        QVector<AfterOpen> afterOpen;
        // The connectRig that is opening it.
        Reply connecting;
        bool refusing = false;
        bool reading = false;
        bool failing = false;
        QElapsedTimer lastRead;
        QElapsedTimer lastSilencePush;
        // The connection whose setPTT keyed the transmitter, until a setPTT releases it.
        QPointer<QObject> keyer;
    };
    using RigWork = std::function<void(ConnectedRig&, const Reply&)>;

    void buildRigCatalogue();
    bool inCatalogue(uint modelId) const;
    // Runs work on the radio of port: at once when connected, after its open when it is being opened;
    // "Rig not connected" otherwise.
    MyFuture withRig(const QString& port, const RigWork& work);
    void runWithRig(const QString& port, const RigWork& work, const Reply& reply, bool connect = false);
    void refuseBusy(const QString& port, ConnectedRig& rig, const Reply& reply);
    // A request of a page for the radio's process, in turn with those before it.
    MyFuture ask(const QString& port, const QVariantMap& request, QObject* caller = nullptr);
    void connectPort(const QString& port, uint model, const QString& speed, const Reply& reply);
    void openAnswered(const QString& port, RadioLink* link, const QVariantMap& opened);
    // The open of port is over: what waited for it runs, as if sent after it.
    void finishOpening(const QString& port, bool opened);
    void disconnectNow(const QString& port, jcon::JsonRpcEndpoint* caller, const Reply& reply);
    // disconnectRig of a radio still being opened: the open is given up, its process ended.
    void abandonOpen(const QString& port, const Reply& reply);
    // Asks the radio's process for one status read; its subscribers get the push with the tick's others.
    void readStatusOf(const QString& port, ConnectedRig& rig);
    // Sends the tick's pushes, in ascending port order; a read still under way pushes on its own when done.
    void flushTick();
    void pushToSubscribers(const QString& port, QVariantMap status);

    QVariantList rigCatalogue;
    QMap<QString, ConnectedRig> rigs;
    QMap<QString, QSet<jcon::JsonRpcEndpoint*>> rigInfoSubscribers;
    QTimer pushTimer;
    // The pushes of this tick's reads, and the reads still under way, by port.
    QMap<QString, QVariantMap> tickDone;
    QSet<QString> tickReading;
    // A slow radio holds up the others' pushes this long at most.
    QTimer tickDeadline;
    bool atRadioLimit = false;
};
