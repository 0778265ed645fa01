// Clients that come and go, many at a time: each opens, subscribes to a radio's status and to the relay, waits for
// its first push and leaves, by a closing handshake or by a reset; some stall in the handshake or are refused it.
// Used in the soak's thread.
#pragma once

#include "Poller.h"

#include <QHash>
#include <QMap>
#include <QString>

#include <memory>
#include <vector>

class ClientChurn
{
public:
    ClientChurn(Poller& poller, quint16 port, const QByteArray& radioPort, int inFlight);

    // Adds `count` cycles to run.
    void begin(qint64 count);
    // Ends what is due and starts new cycles into free places; returns when it next has something to do.
    qint64 tick(qint64 now);
    // Takes the message if one of its clients received it.
    bool take(WsClient& client, const QByteArray& message);
    bool done() const { return finished == target; }
    // Drops the clients still in flight, each counted as failed.
    void abandon();

    qint64 finishedCount() const { return finished; }
    qint64 failedCount() const { return failed; }
    // How many cycles failed, by reason.
    const QMap<QString, int>& failures() const { return reasons; }

private:
    enum class Kind { Clean, Reset, Stall, Refused };
    enum class Step { Subscribing, Closing, Stalling };

    struct Cycle
    {
        std::unique_ptr<WsClient> client;
        Kind kind = Kind::Clean;
        Step step = Step::Subscribing;
        qint64 deadline = 0;
        int answers = 0;
        bool pushed = false;
        bool refused = false;
        bool endByReset = false;
    };

    // False when the client could not connect: no more are opened until the next tick.
    bool start(Cycle& cycle, qint64 now);
    void advance(Cycle& cycle, qint64 now);
    // Drops the cycle's client; an empty reason counts the cycle as done well.
    void finish(Cycle& cycle, const QString& reason = {});

    Poller& poller;
    quint16 port;
    QByteArray origin;
    QByteArray radioSubscription;
    std::vector<Cycle> cycles;
    QHash<WsClient*, Cycle*> owner;
    qint64 started = 0;
    qint64 target = 0;
    qint64 finished = 0;
    qint64 failed = 0;
    QMap<QString, int> reasons;
};
