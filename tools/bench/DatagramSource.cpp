#include "DatagramSource.h"

#include "Poller.h"

#include <cstring>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Sequence number and send time lead the datagram; 24 characters of Base64 cover both.
constexpr int stampBytes = 16;
constexpr int stampBase64 = 24;

} // namespace

DatagramSource::DatagramSource(quint16 port_)
    : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    , port(port_)
    , payload(datagramSize, 'x')
{ }

DatagramSource::~DatagramSource()
{
    ::close(fd);
}

void DatagramSource::begin(double rate)
{
    interval = 1e9 / rate;
    started = Poller::now();
    next = started;
    first = sequence;
    sent = 0;
    received = 0;
    latency = Samples();
}

void DatagramSource::end()
{
    stopped = Poller::now();
    next = std::numeric_limits<qint64>::max();
}

qint64 DatagramSource::sendDue(qint64 now)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    while (next <= now) {
        const qint64 stamp[2] = {sequence, Poller::now()};
        std::memcpy(payload.data(), stamp, stampBytes);
        if (::sendto(fd,
                     payload.constData(),
                     size_t(payload.size()),
                     0,
                     reinterpret_cast<const sockaddr*>(&address),
                     sizeof address)
            != payload.size())
            break;
        ++sequence;
        ++sent;
        // The schedule stays fixed: a late round sends what fell due meanwhile, so the average rate holds.
        next = started + qint64(double(sequence - first) * interval);
    }
    return next;
}

bool DatagramSource::take(const QByteArray& message, qint64 now)
{
    const int key = message.indexOf("\"UDPData\"");
    if (key < 0)
        return false;
    const int value = message.indexOf('"', key + 9) + 1;
    const QByteArray decoded = value > 0 ? QByteArray::fromBase64(message.mid(value, stampBase64)) : QByteArray();
    if (decoded.size() < stampBytes)
        return true;
    qint64 stamp[2];
    std::memcpy(stamp, decoded.constData(), stampBytes);
    if (stamp[0] >= first) {
        ++received;
        latency.add((now - stamp[1]) / 1e6);
    }
    return true;
}

Samples DatagramSource::latencies() const
{
    Samples all = latency;
    for (qint64 i = 0; i < lostCount(); ++i)
        all.add(std::numeric_limits<double>::infinity());
    return all;
}

double DatagramSource::achievedRate() const
{
    return stopped > started ? sent * 1e9 / double(stopped - started) : 0;
}
