#include "ClientChurn.h"

#include "app/Orvessa.h"

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 millisecond = Poller::millisecond;
// Pushes come every 250 ms from the radio and with every datagram: a client waits far longer only when they stop.
constexpr qint64 pushWait = 5000 * millisecond;
constexpr qint64 closeWait = 3000 * millisecond;
constexpr qint64 stallHold = 50 * millisecond;
constexpr int openTimeoutMs = 3000;

} // namespace

ClientChurn::ClientChurn(Poller& poller_, quint16 port_, const QByteArray& radioPort, int inFlight)
    : poller(poller_)
    , port(port_)
    , origin(allowedOrigins().constFirst().toUtf8())
    , radioSubscription(Poller::request("rigInfoSubscribe", "[\"" + radioPort + "\"]", 1))
    , cycles(std::size_t(inFlight))
{ }

void ClientChurn::begin(qint64 count)
{
    target += count;
}

qint64 ClientChurn::tick(qint64 now)
{
    qint64 next = std::numeric_limits<qint64>::max();
    bool opening = true;
    for (Cycle& cycle : cycles) {
        if (cycle.client)
            advance(cycle, now);
        // A refused client ends at once and leaves its place to the next.
        while (opening && !cycle.client && started < target)
            opening = start(cycle, now);
        if (cycle.client)
            next = std::min(next, cycle.deadline);
        else if (started < target)
            next = now;
    }
    return next;
}

bool ClientChurn::start(Cycle& cycle, qint64 now)
{
    // Half the full cycles end cleanly and half by a reset; one in ten stalls, one in ten is refused.
    const qint64 number = started++;
    const int place = int(number % 10);
    cycle = Cycle();
    cycle.kind = place == 9 ? Kind::Refused : place == 8 ? Kind::Stall : place % 2 ? Kind::Reset : Kind::Clean;
    cycle.endByReset = (number / 10) % 2;
    cycle.client = std::make_unique<WsClient>();
    switch (cycle.kind) {
    case Kind::Refused:
        // Another port is another site.
        if (cycle.client->open(port, origin + ":8443", openTimeoutMs))
            finish(cycle, QStringLiteral("a foreign origin was admitted"));
        else
            finish(cycle);
        return true;
    case Kind::Stall:
        if (!cycle.client->openPartly(port, origin, openTimeoutMs)) {
            finish(cycle, QStringLiteral("could not connect"));
            return false;
        }
        cycle.step = Step::Stalling;
        cycle.deadline = now + stallHold;
        return true;
    case Kind::Clean:
    case Kind::Reset:
        break;
    }
    if (!cycle.client->open(port, origin, openTimeoutMs)) {
        finish(cycle, QStringLiteral("handshake failed"));
        return false;
    }
    cycle.client->queue(radioSubscription);
    cycle.client->queue(Poller::request("udpQsoSubscribe", {}, 2));
    if (!cycle.client->flush()) {
        finish(cycle, QStringLiteral("could not send"));
        return false;
    }
    poller.add(cycle.client.get());
    owner.insert(cycle.client.get(), &cycle);
    cycle.step = Step::Subscribing;
    cycle.deadline = now + pushWait;
    return true;
}

void ClientChurn::advance(Cycle& cycle, qint64 now)
{
    switch (cycle.step) {
    case Step::Subscribing:
        if (cycle.refused) {
            finish(cycle, QStringLiteral("a subscription was refused"));
        } else if (cycle.client->ended()) {
            finish(cycle, QStringLiteral("closed by the server"));
        } else if (cycle.answers == 2 && cycle.pushed) {
            if (cycle.kind == Kind::Reset) {
                cycle.client->reset();
                return finish(cycle);
            }
            if (!cycle.client->sendClose())
                return finish(cycle, QStringLiteral("could not send the close"));
            cycle.step = Step::Closing;
            cycle.deadline = now + closeWait;
        } else if (now >= cycle.deadline) {
            finish(cycle, cycle.answers < 2 ? QStringLiteral("subscriptions unanswered") : QStringLiteral("no push"));
        }
        return;
    case Step::Closing:
        if (cycle.client->ended())
            finish(cycle);
        else if (now >= cycle.deadline)
            finish(cycle, QStringLiteral("close unanswered"));
        return;
    case Step::Stalling:
        if (now >= cycle.deadline) {
            if (cycle.endByReset)
                cycle.client->reset();
            finish(cycle);
        }
        return;
    }
}

bool ClientChurn::take(WsClient& client, const QByteArray& message)
{
    Cycle* const cycle = owner.value(&client);
    if (!cycle)
        return false;
    // Answers carry an id; both subscriptions succeed for a fresh client.
    if (message.contains("\"id\"")) {
        ++cycle->answers;
        cycle->refused = cycle->refused || !message.contains("\"Success\"");
    } else {
        cycle->pushed = true;
    }
    return true;
}

void ClientChurn::abandon()
{
    for (Cycle& cycle : cycles) {
        if (cycle.client)
            finish(cycle, QStringLiteral("still in flight at the end"));
    }
    target = started;
}

void ClientChurn::finish(Cycle& cycle, const QString& reason)
{
    ++finished;
    if (!reason.isEmpty()) {
        ++failed;
        ++reasons[reason];
    }
    owner.remove(cycle.client.get());
    cycle.client.reset();
}
