// Requests pipelined over a few connections: ovInfo, with other cheap methods mixed in, each answer checked against
// what its request asked. Used in the soak's thread.
#pragma once

#include "Poller.h"

#include <memory>
#include <vector>

class RequestStream
{
public:
    RequestStream(Poller& poller, quint16 port, const QByteArray& radioPort, int connections, int depth);

    // Opens the connections and sends the first requests of a run of `ovInfoCount` ovInfo and their mix; false when
    // a connection fails.
    bool begin(qint64 ovInfoCount);
    // Sends in one write per connection what the answers since the last call have queued.
    void flush();
    // Takes the message if one of its connections received it.
    bool take(WsClient& client, const QByteArray& message);
    bool done() const;
    // Closes the connections; what was asked and not answered counts as wrong.
    void end();

    qint64 answeredCount() const { return answered; }
    qint64 wrongCount() const { return wrong; }

private:
    struct Connection
    {
        std::unique_ptr<WsClient> client;
        qint64 sent = 0;
        qint64 ovInfoSent = 0;
        qint64 ovInfoTarget = 0;
        qint64 inFlight = 0;
    };

    // Queues the connection's next request, if its run has one left.
    void queueNext(int index);

    Poller& poller;
    quint16 port;
    int depth;
    struct Method
    {
        QByteArray name;
        QByteArray params;
        // A text its answer holds.
        QByteArray expected;
    };

    // The connection's k-th request.
    const Method& method(qint64 k) const;

    Method ovInfo;
    // In this order on every connection, one after every eight ovInfo: a subscription always comes before its end.
    std::vector<Method> others;
    std::vector<Connection> connections;
    qint64 answered = 0;
    qint64 wrong = 0;
};
