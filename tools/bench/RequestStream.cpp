#include "RequestStream.h"

#include "app/Orvessa.h"

namespace {

constexpr int openTimeoutMs = 3000;
constexpr int ovInfoPerOther = 8;

} // namespace

RequestStream::RequestStream(Poller& poller_, quint16 port_, const QByteArray& radioPort, int count, int depth_)
    : poller(poller_)
    , port(port_)
    , depth(depth_)
    , ovInfo {"ovInfo", {}, "\"OrvessaVersion\""}
    , connections(std::size_t(count))
{
    const QByteArray radio = "[\"" + radioPort + "\"]";
    others = {{"udpQsoStatus", {}, "\"Receiving\": true"},
              {"listConnectedRigs", {}, radioPort},
              {"allAddresses", {}, "\"result\": ["},
              {"rigInfoSubscribe", radio, "\"subscribed\""},
              {"rigInfoUnsubscribe", radio, "\"unsubscribed\""},
              {"udpQsoSubscribe", {}, "\"Subscribed to UDP QSO\""},
              {"udpQsoUnsubscribe", {}, "\"Unsubscribed from UDP QSO\""},
              {"soakNoSuchMethod", {}, "-32601"}};
}

bool RequestStream::begin(qint64 ovInfoCount)
{
    const QByteArray origin = allowedOrigins().constFirst().toUtf8();
    const qint64 count = qint64(connections.size());
    for (qint64 i = 0; i < count; ++i) {
        Connection& connection = connections.at(std::size_t(i));
        connection = Connection();
        connection.ovInfoTarget = ovInfoCount * (i + 1) / count - ovInfoCount * i / count;
        connection.client = std::make_unique<WsClient>();
        if (!connection.client->open(port, origin, openTimeoutMs))
            return false;
        poller.add(connection.client.get());
        for (int j = 0; j < depth; ++j)
            queueNext(int(i));
    }
    flush();
    return true;
}

const RequestStream::Method& RequestStream::method(qint64 k) const
{
    const qint64 place = k % (ovInfoPerOther + 1);
    return place < ovInfoPerOther ? ovInfo : others.at(std::size_t(k / (ovInfoPerOther + 1)) % others.size());
}

void RequestStream::queueNext(int index)
{
    Connection& connection = connections.at(std::size_t(index));
    if (connection.ovInfoSent == connection.ovInfoTarget)
        return;
    const Method& next = method(connection.sent);
    // The id tells the connection and the request's place on it.
    connection.client->queue(
        Poller::request(next.name, next.params, connection.sent * qint64(connections.size()) + index));
    ++connection.sent;
    ++connection.inFlight;
    connection.ovInfoSent += &next == &ovInfo;
}

void RequestStream::flush()
{
    for (Connection& connection : connections) {
        if (connection.client)
            connection.client->flush();
    }
}

bool RequestStream::take(WsClient& client, const QByteArray& message)
{
    int index = 0;
    while (index < int(connections.size()) && connections.at(std::size_t(index)).client.get() != &client)
        ++index;
    if (index == int(connections.size()))
        return false;
    // Pushes to a subscribed connection have no id.
    const int key = message.indexOf("\"id\"");
    if (key < 0)
        return true;
    Connection& connection = connections.at(std::size_t(index));
    const int from = message.indexOf('"', key + 4) + 1;
    const qint64 id = message.mid(from, message.indexOf('"', from) - from).toLongLong();
    const qint64 count = qint64(connections.size());
    --connection.inFlight;
    ++answered;
    if (id % count != index || id / count >= connection.sent || !message.contains(method(id / count).expected))
        ++wrong;
    queueNext(index);
    return true;
}

bool RequestStream::done() const
{
    for (const Connection& connection : connections) {
        if (connection.inFlight > 0 || connection.ovInfoSent < connection.ovInfoTarget)
            return false;
    }
    return true;
}

void RequestStream::end()
{
    for (Connection& connection : connections) {
        wrong += connection.inFlight;
        connection.inFlight = 0;
        connection.client.reset();
    }
}
