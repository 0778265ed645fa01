// Waits on many client connections at once and hands every message that arrives to one handler. Used in the
// bench's thread.
#pragma once

#include "WsClient.h"

class Poller
{
public:
    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // The monotonic clock in nanoseconds: every deadline and every timestamp of the bench.
    static qint64 now();

    void add(WsClient* client);
    // Waits until something arrives or the deadline passes and hands over what arrived. A client the server has
    // closed is dropped and counted.
    void wait(qint64 deadline, const WsClient::Handler& handler);
    int closedCount() const { return closed; }

private:
    int fd;
    int closed = 0;
};
