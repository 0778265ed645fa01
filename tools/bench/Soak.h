// Runs Orvessa through rounds of clients that come and go, pipelined requests and relayed datagrams, reads what the
// process holds at rest after each round (descriptors, threads, resident memory) and judges whether it grows. Lives
// in the soak's thread.
#pragma once

#include "DatagramSource.h"
#include "Poller.h"
#include "ServerHome.h"
#include "ServerProcess.h"
#include "SimulatedRadio.h"

#include <QMap>
#include <QString>
#include <QVector>

#include <cstdio>
#include <memory>

class Soak
{
public:
    struct Options
    {
        QString orvessa;
        int rounds = 10;
        // In all rounds together.
        qint64 cycles = 10000;
        qint64 requests = 1000000;
    };

    explicit Soak(const Options& options);
    // Prints a row per round on `out`, then the verdict: 0 when it holds, 1 when it fails, 2 when Orvessa could not
    // be set up.
    int run(std::FILE* out);

private:
    struct Footprint
    {
        QMap<QString, int> descriptors;
        QMap<QString, int> threads;
        double rssKiB = 0;
    };

    struct Work
    {
        qint64 cycles = 0;
        qint64 cyclesFailed = 0;
        qint64 answers = 0;
        qint64 wrong = 0;
        qint64 datagrams = 0;
        qint64 lost = 0;
        double seconds = 0;
        bool stalled = false;
    };

    bool setUp();
    // One round's share of the work; false when it could not start.
    bool runRound(int round, Work& work);
    // Waits until the process's descriptors and threads hold still, then reads them.
    Footprint atRest();
    void printRow(std::FILE* out, const QString& name, const Footprint& footprint, const Work* work) const;
    bool judge(std::FILE* out) const;

    Options options;
    ServerHome home;
    // Orvessa stops before the radio it holds open goes.
    SimulatedRadio radio;
    std::unique_ptr<ServerProcess> server;
    Poller poller;
    quint16 port;
    quint16 udpPort;
    DatagramSource source;
    qint64 nextId = 1;
    QVector<Footprint> footprints;
    Work total;
    QMap<QString, int> failures;
};
