// The relay's test traffic: paced 500-byte datagrams to one UDP port on loopback, each carrying its sequence number
// and send time, and the tally of those that come back inside QsoInfo notifications. Used in the bench's thread.
#pragma once

#include "Samples.h"

#include <QByteArray>

#include <limits>

class DatagramSource
{
public:
    static constexpr int datagramSize = 500;

    explicit DatagramSource(quint16 port);
    ~DatagramSource();
    DatagramSource(const DatagramSource&) = delete;
    DatagramSource& operator=(const DatagramSource&) = delete;

    // Starts a run of `rate` datagrams a second; from now on only this run's datagrams are tallied.
    void begin(double rate);
    // Stops sending; what the run sent may still arrive.
    void end();
    // Sends every datagram due by `now`; returns when the next one falls due.
    qint64 sendDue(qint64 now);
    // Tallies the message if it relays one of this run's datagrams; true for every QsoInfo notification.
    bool take(const QByteArray& message, qint64 now);

    qint64 sentCount() const { return sent; }
    qint64 lostCount() const { return sent - received; }
    bool allArrived() const { return received == sent; }
    // Datagrams a second the run really sent.
    double achievedRate() const;
    // From sending to arrival at the client, in milliseconds; a datagram that never arrived took forever.
    Samples latencies() const;

private:
    int fd;
    quint16 port;
    QByteArray payload;
    double interval = 0;
    qint64 started = 0;
    qint64 stopped = 0;
    qint64 next = std::numeric_limits<qint64>::max();
    qint64 sequence = 0;
    qint64 first = 0;
    qint64 sent = 0;
    qint64 received = 0;
    Samples latency;
};
