// Runs the measurements, each against a fresh Orvessa and then a fresh baseline, and fills the report. Lives in
// the bench's thread, which has a core of its own when there are two.
#pragma once

#include "Poller.h"
#include "Report.h"
#include "ServerHome.h"
#include "ServerProcess.h"

#include <QStringList>

#include <cstdio>
#include <memory>
#include <vector>

class SimulatedRadio;

class Bench
{
public:
    struct Options
    {
        QString orvessa;
        QString baseline;
        // Empty runs every cell.
        QStringList cells;
        // Shortens every duration and count of requests.
        double scale = 1;
        // -1 leaves the servers unpinned.
        int serverCpu = -1;
    };

    static const QStringList cellNames;

    explicit Bench(const Options& options);
    // Runs the chosen cells and prints the table on `out`.
    void run(std::FILE* out);

private:
    enum class Kind { Orvessa, Baseline };

    // One server with its clients; the clients close before the server stops.
    struct Session
    {
        std::unique_ptr<ServerProcess> server;
        Poller poller;
        std::vector<std::unique_ptr<WsClient>> clients;
    };

    void roundTrip();
    void pipelined();
    // Requests a second over a short window with `depth` requests in flight on each of the session's clients.
    double pipelinedRate(Session& session, int depth);
    void relay();
    // Four kinds of trouble with one radio; the other radio must not notice.
    void troubledRadio();
    void manySubscribers();
    void fanOut();
    void footprint();
    void statusRead();
    // A radio falling silent and a radio's process stopped: how soon its subscribers hear of it, how soon a
    // request on it is answered, how soon a stopped process is replaced.
    void silence();
    // Pages asking for 400 radios that never answer: what that makes Orvessa hold.
    void floods();
    // 200,000 requests for a radio being opened: what they make Orvessa hold; a disconnect meanwhile.
    void waitingForAnOpen();
    // A desktop program on the radio's shared port beside a page.
    void sharedRadio();

    // A fresh server on fresh ports with `count` connected clients; null when either fails.
    std::unique_ptr<Session> open(Kind kind, int count);
    bool connectClients(Session& session, int count);
    // Starts Orvessa's relay listener on the session's UDP port (the baseline's is always on) and subscribes.
    bool joinRelay(Kind kind, Session& session, WsClient& client);
    // Connects the radio through Orvessa and, if asked, subscribes the client to its status pushes.
    bool connectRadio(Session& session, WsClient& client, const SimulatedRadio& radio, bool subscribe);
    // Sends one request and waits for its answer, dropping whatever else arrives; empty on time-out.
    QByteArray
    call(Session& session, WsClient& client, const char* method, const QByteArray& params = {}, int timeoutMs = 5000);
    QByteArray request(const char* method, const QByteArray& params = {});
    // A scaled duration in nanoseconds.
    qint64 seconds(double value) const;

    Options options;
    Report report;
    ServerHome home;
    quint16 port = 0;
    quint16 udpPort = 0;
    // The first port of shared radios in the next server started; 0 leaves sharing off.
    quint16 sharePort = 0;
    qint64 nextId = 1;
};
