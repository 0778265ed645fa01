// Waits on many client connections at once and hands every message that arrives to one handler. Used in the
// bench's thread.
#pragma once

#include "WsClient.h"

#include <functional>

class Poller
{
public:
    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // The monotonic clock in nanoseconds: every deadline and every timestamp of the bench.
    static qint64 now();
    static constexpr qint64 millisecond = 1000000;

    void add(WsClient* client);
    // Waits until something arrives or the deadline passes and hands over what arrived. A client the server has
    // closed is dropped and counted.
    void wait(qint64 deadline, const WsClient::Handler& handler);
    int closedCount() const { return closed; }

    // Serves the clients until the deadline or until done() holds; false at the deadline. tick() runs before each
    // wait, sends what has fallen due and returns when it next wants to run.
    bool drive(qint64 deadline,
               const WsClient::Handler& handler,
               const std::function<bool()>& done = {},
               const std::function<qint64(qint64 now)>& tick = {});
    // Waits until no message has arrived for a moment, so a run does not inherit the last one's backlog.
    void settle();
    // A JSON-RPC request; params, when not empty, is the JSON text of its parameters.
    static QByteArray request(const QByteArray& method, const QByteArray& params, qint64 id);
    // Sends one request and waits for its answer, dropping whatever else arrives; empty on time-out.
    QByteArray call(WsClient& client, const QByteArray& request, int timeoutMs);

private:
    int fd;
    int closed = 0;
};
