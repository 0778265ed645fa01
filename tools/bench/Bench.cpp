#include "Bench.h"

#include "DatagramSource.h"
#include "Ft991Protocol.h"
#include "PtyRadio.h"
#include "SimulatedRadio.h"
#include "app/Orvessa.h"
#include "radio/KrRig.h"
#include "radio/RadioRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>

namespace {

constexpr qint64 millisecond = Poller::millisecond;
constexpr qint64 never = std::numeric_limits<qint64>::max();
const double failed = std::numeric_limits<double>::quiet_NaN();

// Answers carry an id; notifications never do, and Base64 holds no quotes.
bool isAnswer(const QByteArray& message)
{
    return message.contains("\"id\"");
}

bool isRigStatus(const QByteArray& message)
{
    return message.contains("\"RigInfo\"") && message.contains("\"freq\"");
}

QByteArray portParams(const SimulatedRadio& radio)
{
    return "[\"" + radio.portName().toUtf8() + "\"]";
}

// One status read as the service makes it: frequency, mode, PTT, then the meter that goes with it.
template <typename Radio>
double statusReadMedian(Radio& rig, bool dirtyErrno, int rounds)
{
    Samples times;
    for (int round = 0; round < rounds; ++round) {
        // As far apart as two status ticks.
        QThread::msleep(160);
        // Qt's non-blocking sockets leave EAGAIN behind in Orvessa's service thread.
        if (dirtyErrno)
            errno = EAGAIN;
        const qint64 from = Poller::now();
        rig.getFreq(RIG_VFO_CURR);
        pbwidth_t width;
        rig.getMode(width, RIG_VFO_CURR);
        if (rig.getPTT(RIG_VFO_CURR) != RIG_PTT_OFF)
            rig.getLevelF(RIG_LEVEL_ALC, RIG_VFO_CURR);
        else
            rig.getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR);
        times.add((Poller::now() - from) / 1e6);
    }
    return times.median();
}

// The orvessa-radio process that has the port open, or 0.
int radioHost(const QString& port)
{
    for (const QFileInfo& entry : QDir(QStringLiteral("/proc")).entryInfoList(QDir::Dirs)) {
        QFile name(entry.filePath() + QStringLiteral("/comm"));
        if (!name.open(QIODevice::ReadOnly) || name.readAll().trimmed() != "orvessa-radio")
            continue;
        for (const QFileInfo& descriptor : QDir(entry.filePath() + QStringLiteral("/fd")).entryInfoList(QDir::System)) {
            if (descriptor.symLinkTarget() == port)
                return entry.fileName().toInt();
        }
    }
    return 0;
}

void killRadioHost(const QString& port)
{
    if (const int pid = radioHost(port))
        ::kill(pid, SIGKILL);
}

double radioHostRssMiB(const QString& port)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(radioHost(port)));
    if (!status.open(QIODevice::ReadOnly))
        return failed;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return failed;
}

} // namespace

const QStringList Bench::cellNames {QStringLiteral("rtt"),
                                    QStringLiteral("pipeline"),
                                    QStringLiteral("relay"),
                                    QStringLiteral("trouble"),
                                    QStringLiteral("subscribers"),
                                    QStringLiteral("fanout"),
                                    QStringLiteral("footprint"),
                                    QStringLiteral("status"),
                                    QStringLiteral("silence"),
                                    QStringLiteral("floods"),
                                    QStringLiteral("opening"),
                                    QStringLiteral("share")};

Bench::Bench(const Options& options_)
    : options(options_)
{ }

void Bench::run(std::FILE* out)
{
    const QVector<void (Bench::*)()> cells {&Bench::roundTrip,
                                            &Bench::pipelined,
                                            &Bench::relay,
                                            &Bench::troubledRadio,
                                            &Bench::manySubscribers,
                                            &Bench::fanOut,
                                            &Bench::footprint,
                                            &Bench::statusRead,
                                            &Bench::silence,
                                            &Bench::floods,
                                            &Bench::waitingForAnOpen,
                                            &Bench::sharedRadio};
    for (int i = 0; i < cells.size(); ++i) {
        if (options.cells.isEmpty() || options.cells.contains(cellNames.at(i))) {
            std::fprintf(stderr, "orvessa-bench: %s\n", qPrintable(cellNames.at(i)));
            (this->*cells.at(i))();
        }
    }
    std::fputs(report.markdown().constData(), out);
}

void Bench::roundTrip()
{
    const int block = std::max(200, int(1000 * options.scale));
    // Both servers run at once, idle in turn, and are measured in alternating blocks: a drift of the machine's
    // speed then touches both alike.
    std::unique_ptr<Session> sessions[2] = {open(Kind::Orvessa, 1), open(Kind::Baseline, 1)};
    Samples times[2];
    for (int round = 0; round < 6; ++round) {
        for (int k = 0; k < 2; ++k) {
            for (int i = 0; sessions[k] && i < block; ++i) {
                const qint64 from = Poller::now();
                if (call(*sessions[k], *sessions[k]->clients.front(), "ovInfo").isEmpty()) {
                    sessions[k].reset();
                    times[k] = Samples();
                } else if (round > 0) {
                    times[k].add((Poller::now() - from) / 1e6);
                }
            }
        }
    }
    report.add(QStringLiteral("ovInfo round trip p50 (ms)"),
               times[0].median(),
               times[1].median(),
               Report::Goal::RatioAtMost,
               1.2);
    report.add(QStringLiteral("ovInfo round trip p99 (ms)"),
               times[0].percentile(99),
               times[1].percentile(99),
               Report::Goal::None);
}

void Bench::pipelined()
{
    for (const auto& [connections, depth] : {std::pair {1, 32}, std::pair {8, 16}, std::pair {50, 4}}) {
        const std::unique_ptr<Session> sessions[2]
            = {open(Kind::Orvessa, connections), open(Kind::Baseline, connections)};
        Samples rates[2];
        for (int round = 0; round < 5; ++round) {
            for (int k = 0; k < 2; ++k) {
                if (sessions[k])
                    rates[k].add(pipelinedRate(*sessions[k], depth));
            }
        }
        report.add(QStringLiteral("pipelined ovInfo, %1 × %2 in flight (requests/s)").arg(connections).arg(depth),
                   rates[0].median(),
                   rates[1].median(),
                   Report::Goal::RatioAtLeast,
                   0.75);
    }
}

double Bench::pipelinedRate(Session& session, int depth)
{
    qint64 answered = 0;
    qint64 asked = 0;
    bool refill = true;
    // Each answer queues the next request on its connection, keeping `depth` in flight; what a round of answers
    // queued leaves in one write per connection, so the client side stays cheap.
    const auto next = [&](WsClient& client, const QByteArray&) {
        ++answered;
        if (refill) {
            client.queue(request("ovInfo"));
            ++asked;
        }
    };
    const auto flush = [&session](qint64) {
        for (const auto& client : session.clients)
            client->flush();
        return never;
    };
    for (const auto& client : session.clients) {
        for (int i = 0; i < depth; ++i)
            client->queue(request("ovInfo"));
    }
    asked = depth * qint64(session.clients.size());
    session.poller.drive(Poller::now() + seconds(0.2), next, {}, flush);
    const qint64 before = answered;
    const qint64 from = Poller::now();
    session.poller.drive(from + seconds(0.6), next, {}, flush);
    const double rate = (answered - before) * 1e9 / double(Poller::now() - from);
    refill = false;
    // The next window starts with nothing in flight.
    const bool drained
        = session.poller.drive(Poller::now() + 2000 * millisecond, next, [&] { return answered == asked; });
    return drained ? rate : failed;
}

void Bench::relay()
{
    const double rates[2] = {2000, 20000};
    double p50[2][2] = {{failed, failed}, {failed, failed}};
    double p99[2][2] = {{failed, failed}, {failed, failed}};
    double lost[2][2] = {{failed, failed}, {failed, failed}};
    double best[2] = {failed, failed};
    for (const Kind kind : {Kind::Orvessa, Kind::Baseline}) {
        const int k = int(kind);
        const auto session = open(kind, 1);
        if (!session || !joinRelay(kind, *session, *session->clients.front()))
            continue;
        DatagramSource source(udpPort);
        const auto tally = [&source](WsClient&, const QByteArray& message) { source.take(message, Poller::now()); };
        // Sends for `duration`, then gives the relay a second to deliver the rest.
        const auto runAt = [&](double rate, double duration) {
            session->poller.settle();
            source.begin(rate);
            session->poller.drive(
                Poller::now() + seconds(duration), tally, {}, [&source](qint64 now) { return source.sendDue(now); });
            source.end();
            session->poller.drive(Poller::now() + 1000 * millisecond, tally, [&source] { return source.allArrived(); });
            return source.allArrived();
        };
        runAt(rates[0], 0.5);
        for (int r = 0; r < 2; ++r) {
            runAt(rates[r], 3);
            const Samples latencies = source.latencies();
            p50[k][r] = latencies.median();
            p99[k][r] = latencies.percentile(99);
            lost[k][r] = source.lostCount();
        }
        // Doubles the rate until a run loses a datagram, then halves the gap three times.
        double lossless = 0;
        double low = 0;
        double high = 0;
        for (double rate = 5000; rate <= 1280000; rate *= 2) {
            if (!runAt(rate, 2)) {
                high = rate;
                break;
            }
            lossless = source.achievedRate();
            low = rate;
            if (lossless < 0.9 * rate) {
                std::fprintf(stderr, "orvessa-bench: the sender cannot go past %.0f datagrams/s\n", lossless);
                break;
            }
        }
        for (int step = 0; high > 0 && step < 3; ++step) {
            const double middle = (low + high) / 2;
            if (runAt(middle, 2)) {
                low = middle;
                lossless = source.achievedRate();
            } else {
                high = middle;
            }
        }
        best[k] = lossless;
    }
    for (int r = 0; r < 2; ++r) {
        const QString rate = QString::number(rates[r] / 1000) + QStringLiteral(",000/s");
        report.add(QStringLiteral("relay at %1, p50 (ms)").arg(rate), p50[0][r], p50[1][r], Report::Goal::None);
        report.add(
            QStringLiteral("relay at %1, p99 (ms)").arg(rate), p99[0][r], p99[1][r], Report::Goal::RatioAtMost, 1.5);
        report.add(
            QStringLiteral("relay at %1, datagrams lost").arg(rate), lost[0][r], lost[1][r], Report::Goal::AtMost, 0);
    }
    report.add(
        QStringLiteral("highest lossless relay rate (datagrams/s)"), best[0], best[1], Report::Goal::RatioAtLeast, 0.8);
}

void Bench::troubledRadio()
{
    const QStringList troubles {QStringLiteral("silent"),
                                QStringLiteral("being connected while switched off"),
                                QStringLiteral("flooded"),
                                QStringLiteral("its host killed")};
    double hostRss = failed;
    for (const QString& trouble : troubles) {
        SimulatedRadio steady;
        SimulatedRadio troubled;
        SimulatedRadio off;
        double pushRate = failed;
        double askP99 = failed;
        const auto session = open(Kind::Orvessa, 3);
        WsClient* const listener = session ? session->clients.at(0).get() : nullptr;
        WsClient* const watcher = session ? session->clients.at(1).get() : nullptr;
        WsClient* const asker = session ? session->clients.at(2).get() : nullptr;
        if (session && connectRadio(*session, *listener, troubled, true)
            && connectRadio(*session, *watcher, steady, true)) {
            if (std::isnan(hostRss))
                hostRss = radioHostRssMiB(troubled.portName());
            // From the moment the trouble starts, not from its first error push.
            if (trouble == troubles.at(0)) {
                troubled.setAnswering(false);
            } else if (trouble == troubles.at(1)) {
                off.setAnswering(false);
                listener->send(request("connectRig",
                                       "[\"" + off.portName().toUtf8() + "\","
                                           + QByteArray::number(Ft991Protocol::modelId) + ",\"38400\"]"));
            } else if (trouble == troubles.at(3)) {
                killRadioHost(troubled.portName());
            }
            Samples asks;
            qint64 asked = 0;
            qint64 nextAsk = 0;
            int pushes = 0;
            const qint64 from = Poller::now();
            const qint64 until = from + seconds(10);
            const auto handler = [&](WsClient& client, const QByteArray& message) {
                const qint64 now = Poller::now();
                if (&client == asker && asked && isAnswer(message)) {
                    asks.add((now - asked) / 1e6);
                    asked = 0;
                } else if (&client == watcher && isRigStatus(message) && now < until) {
                    ++pushes;
                }
            };
            // The flood: requests without id, far faster than the radio takes them, a burst every 10 ms.
            int flooded = trouble == troubles.at(2) ? 100000 : 0;
            qint64 nextBurst = from;
            // rigInfo of the other radio twenty times a second, one at a time.
            const auto tick = [&](qint64 now) {
                if (now >= until)
                    return never;
                if (flooded > 0 && now >= nextBurst) {
                    for (int i = 0; i < 500; ++i, --flooded)
                        listener->queue(R"({"jsonrpc":"2.0","method":"setFreq","params":[")"
                                        + troubled.portName().toUtf8() + "\"," + QByteArray::number(7000000 + flooded)
                                        + "]}");
                    listener->flush();
                    nextBurst = now + 10 * millisecond;
                }
                if (!asked && now >= nextAsk) {
                    asker->send(request("rigInfo", portParams(steady)));
                    asked = now;
                    nextAsk = now + 50 * millisecond;
                }
                return asked || flooded > 0 ? now + millisecond : nextAsk;
            };
            session->poller.drive(until, handler, {}, tick);
            session->poller.drive(Poller::now() + 2000 * millisecond, handler, [&] { return !asked; });
            if (asked)
                asks.add(std::numeric_limits<double>::infinity());
            askP99 = asks.percentile(99);
            pushRate = pushes * 1e9 / double(until - from);
        }
        report.add(QStringLiteral("one radio %1: the other radio's pushes per second").arg(trouble),
                   pushRate,
                   {},
                   Report::Goal::AtLeast,
                   3.8);
        report.add(QStringLiteral("one radio %1: the other radio's rigInfo p99 (ms)").arg(trouble),
                   askP99,
                   {},
                   Report::Goal::AtMost,
                   100);
    }
    report.add(QStringLiteral("RSS of one radio's host, radio connected (MiB)"), hostRss, {}, Report::Goal::AtMost, 12);
}

void Bench::manySubscribers()
{
    constexpr int subscribers = 50;
    SimulatedRadio radio;
    double readsPerTick = failed;
    double cpu = failed;
    const auto session = open(Kind::Orvessa, subscribers);
    if (session && connectRadio(*session, *session->clients.front(), radio, true)) {
        WsClient* const first = session->clients.front().get();
        int pushes = 0;
        int answered = 0;
        const auto handler = [&](WsClient& client, const QByteArray& message) {
            pushes += &client == first && isRigStatus(message);
            answered += isAnswer(message);
        };
        session->poller.drive(Poller::now() + 1000 * millisecond, handler);
        pushes = 0;
        int commands = radio.commandCount();
        session->poller.drive(Poller::now() + seconds(3), handler);
        const double commandsPerRead = double(radio.commandCount() - commands) / pushes;

        answered = 0;
        for (std::size_t i = 1; i < session->clients.size(); ++i)
            session->clients.at(i)->send(request("rigInfoSubscribe", portParams(radio)));
        session->poller.drive(
            Poller::now() + 10000 * millisecond, handler, [&] { return answered == subscribers - 1; });
        pushes = 0;
        commands = radio.commandCount();
        const double cpuBefore = session->server->cpuSeconds();
        const qint64 from = Poller::now();
        session->poller.drive(from + seconds(10), handler);
        readsPerTick = (radio.commandCount() - commands) / commandsPerRead / pushes;
        cpu = (session->server->cpuSeconds() - cpuBefore) * 1e11 / double(Poller::now() - from);
    }
    report.add(QStringLiteral("50 subscribers of one radio: radio reads per tick"),
               readsPerTick,
               {},
               Report::Goal::AtMost,
               1.1);
    report.add(
        QStringLiteral("50 subscribers of one radio: Orvessa CPU (% of a core)"), cpu, {}, Report::Goal::AtMost, 10);
}

void Bench::fanOut()
{
    // A station's pages: tens of connections.
    constexpr int connections = 50;
    double cpuMs[2] = {failed, failed};
    for (const Kind kind : {Kind::Orvessa, Kind::Baseline}) {
        const auto session = open(kind, connections);
        if (!session || !joinRelay(kind, *session, *session->clients.front()))
            continue;
        int answers = 0;
        int deliveries = 0;
        const auto count = [&](WsClient&, const QByteArray& message) {
            answers += isAnswer(message);
            deliveries += message.contains("\"QsoInfo\"");
        };
        for (std::size_t i = 1; i < session->clients.size(); ++i)
            session->clients.at(i)->send(request("udpQsoSubscribe"));
        if (!session->poller.drive(
                Poller::now() + 60000 * millisecond, count, [&] { return answers == connections - 1; }))
            continue;
        DatagramSource source(udpPort);
        Samples times;
        for (int round = 0; round < 5; ++round) {
            session->poller.settle();
            deliveries = 0;
            const qint64 before = session->server->runNanoseconds();
            source.begin(1);
            source.sendDue(Poller::now());
            source.end();
            if (!session->poller.drive(
                    Poller::now() + 20000 * millisecond, count, [&] { return deliveries == connections; }))
                break;
            times.add((session->server->runNanoseconds() - before) / 1e6);
        }
        if (times.count() == 5)
            cpuMs[int(kind)] = times.median();
    }
    report.add(QStringLiteral("one datagram to 50 subscribers: server CPU (ms)"),
               cpuMs[0],
               cpuMs[1],
               Report::Goal::RatioAtMost,
               1.5);
}

void Bench::footprint()
{
    constexpr int idleClients = 300;
    double startup[2] = {failed, failed};
    double idle[2] = {failed, failed};
    double perClient[2] = {failed, failed};
    for (const Kind kind : {Kind::Orvessa, Kind::Baseline}) {
        const int k = int(kind);
        Samples starts;
        for (int i = 0; i < 3; ++i) {
            if (const auto session = open(kind, 0))
                starts.add(session->server->startupMs());
        }
        const auto session = open(kind, 0);
        if (!session || starts.count() < 3)
            continue;
        startup[k] = starts.median();
        QThread::msleep(500);
        const double rss = session->server->rssKiB();
        idle[k] = rss / 1024;
        if (connectClients(*session, idleClients)) {
            QThread::msleep(500);
            perClient[k] = (session->server->rssKiB() - rss) / idleClients;
        }
    }
    report.add(QStringLiteral("start-up to listening (ms)"), startup[0], startup[1], Report::Goal::AtMost, 300);
    report.add(QStringLiteral("idle RSS (MiB)"), idle[0], idle[1], Report::Goal::AtMost, 40);
    report.add(
        QStringLiteral("RSS per idle client, 300 clients (KiB)"), perClient[0], perClient[1], Report::Goal::AtMost, 64);
}

void Bench::statusRead()
{
    const int rounds = std::max(5, int(20 * options.scale));
    SimulatedRadio radio;
    double rig[2] = {failed, failed};
    double krRig[2] = {failed, failed};
    double connectDirect = failed;
    try {
        const qint64 opening = Poller::now();
        KrRig direct(Ft991Protocol::modelId);
        direct.setConf("rig_pathname", radio.portName().toUtf8().constData());
        direct.setConf("serial_speed", "38400");
        direct.open();
        // As in Orvessa's radio process: Hamlib 4.6 resets the cache's lifetime just after the open.
        QThread::msleep(60);
        direct.setConf("cache_timeout", "0");
        direct.getFreq(RIG_VFO_CURR);
        connectDirect = (Poller::now() - opening) / 1e6;
        for (const bool dirty : {false, true}) {
            rig[dirty] = statusReadMedian(static_cast<Rig&>(direct), dirty, rounds);
            krRig[dirty] = statusReadMedian(direct, dirty, rounds);
        }
        direct.close();
    } catch (const RigException& failure) {
        std::fprintf(stderr, "orvessa-bench: %s\n", failure.message);
    }
    double through = failed;
    double connectThrough = failed;
    const auto session = open(Kind::Orvessa, 1);
    const qint64 connecting = Poller::now();
    if (session && connectRadio(*session, *session->clients.front(), radio, false)) {
        connectThrough = (Poller::now() - connecting) / 1e6;
        Samples times;
        for (int round = 0; round < rounds; ++round) {
            QThread::msleep(160);
            const qint64 from = Poller::now();
            if (!call(*session, *session->clients.front(), "rigInfo", portParams(radio)).contains("\"freq\""))
                break;
            times.add((Poller::now() - from) / 1e6);
        }
        if (times.count() == rounds)
            through = times.median();
    }
    // The baseline column holds Hamlib's own Rig: KrRig must not be slower.
    report.add(QStringLiteral("status read, errno clean: KrRig vs Hamlib's Rig (ms)"),
               krRig[0],
               rig[0],
               Report::Goal::RatioAtMost,
               1.1);
    report.add(QStringLiteral("status read, errno EAGAIN: KrRig vs Hamlib's Rig (ms)"),
               krRig[1],
               rig[1],
               Report::Goal::RatioAtMost,
               1.1);
    report.add(QStringLiteral("rigInfo round trip through Orvessa vs direct KrRig read (ms)"),
               through,
               krRig[0],
               Report::Goal::RatioAtMost,
               1.1);
    report.add(QStringLiteral("connectRig of an answering radio through Orvessa vs direct open (ms)"),
               connectThrough,
               connectDirect,
               Report::Goal::AtMostBaselinePlus,
               150);
}

void Bench::silence()
{
    const int trials = std::max(2, int(5 * options.scale));
    Samples firstPush;
    Samples answers;
    double stoppedPush = failed;
    double replaced = failed;
    SimulatedRadio radio;
    const auto session = open(Kind::Orvessa, 2);
    WsClient* const listener = session ? session->clients.at(0).get() : nullptr;
    WsClient* const asker = session ? session->clients.at(1).get() : nullptr;
    if (session && connectRadio(*session, *listener, radio, true)) {
        qint64 pushed = 0;
        qint64 status = 0;
        const auto handler = [&](WsClient& client, const QByteArray& message) {
            if (&client == listener && message.contains("\"RigInfo\"")) {
                (message.contains("\"Error\"") ? pushed : status) = Poller::now();
            }
        };
        // Each trial starts at another point of the tick and of the read under way.
        for (int trial = 0; trial < trials; ++trial) {
            session->poller.drive(Poller::now() + (700 + 130 * trial) * millisecond, handler);
            pushed = 0;
            const qint64 from = Poller::now();
            radio.setAnswering(false);
            if (!session->poller.drive(from + 20000 * millisecond, handler, [&] { return pushed != 0; }))
                break;
            firstPush.add((pushed - from) / 1e6);
            for (const char* method : {"rigInfo", "setFreq", "setPTT", "setMode", "rigInfo"}) {
                const QByteArray params = QByteArray(method) == "setFreq" ? ",7010000"
                    : QByteArray(method) == "setPTT"                      ? ",1"
                    : QByteArray(method) == "setMode"                     ? ",\"CW\",0"
                                                                          : "";
                // Spread over the read under way when it fell silent and the quiet reads after it.
                session->poller.drive(Poller::now() + 400 * millisecond, handler);
                const qint64 asked = Poller::now();
                const QByteArray answer = call(*session, *asker, method, portParams(radio).chopped(1) + params + "]");
                answers.add(answer.contains("\"Error\"") ? (Poller::now() - asked) / 1e6
                                                         : std::numeric_limits<double>::infinity());
            }
            radio.setAnswering(true);
            status = 0;
            session->poller.drive(Poller::now() + 10000 * millisecond, handler, [&] { return status != 0; });
        }
        // A process stopped where it stands, as one stuck inside Hamlib would be.
        const int host = radioHost(radio.portName());
        pushed = 0;
        const qint64 from = Poller::now();
        if (host && ::kill(host, SIGSTOP) == 0
            && session->poller.drive(from + 20000 * millisecond, handler, [&] { return pushed != 0; })) {
            stoppedPush = (pushed - from) / 1e6;
            status = 0;
            if (session->poller.drive(from + 60000 * millisecond, handler, [&] { return status != 0; }))
                replaced = (status - from) / 1e9;
        }
    }
    report.add(QStringLiteral("radio falls silent: first error push, slowest of %1 trials (ms)").arg(trials),
               firstPush.count() == trials ? firstPush.percentile(100) : failed,
               {},
               Report::Goal::AtMost,
               4500);
    report.add(QStringLiteral("silent radio: slowest answer of %1 requests (ms)").arg(trials * 5),
               answers.count() == trials * 5 ? answers.percentile(100) : failed,
               {},
               Report::Goal::AtMost,
               1000);
    report.add(
        QStringLiteral("radio's process stopped: first error push (ms)"), stoppedPush, {}, Report::Goal::AtMost, 4500);
    report.add(QStringLiteral("radio's process stopped: pushes of a fresh process after (s)"),
               replaced,
               {},
               Report::Goal::AtMost,
               25);
}

void Bench::floods()
{
    // Every simulated radio holds two descriptors here: main() has raised the limit.
    constexpr int radios = 400;
    constexpr int refused = radios - RadioRegistry::maxRadios;
    double alive = failed;
    double privateMiB = failed;
    double orvessaMiB = failed;
    double refusedMs = failed;
    QThread farm;
    std::vector<std::unique_ptr<PtyRadio>> silent;
    for (int i = 0; i < radios; ++i) {
        silent.push_back(std::make_unique<PtyRadio>());
        if (!silent.back()->open()) {
            silent.pop_back();
            break;
        }
        silent.back()->setAnswering(false);
        silent.back()->moveToThread(&farm);
    }
    farm.start();
    const auto session = open(Kind::Orvessa, 1);
    WsClient* const page = session ? session->clients.front().get() : nullptr;
    if (session && int(silent.size()) == radios) {
        const double before = session->server->rssKiB();
        int answered = 0;
        qint64 lastAnswer = 0;
        const auto handler = [&](WsClient&, const QByteArray& message) {
            answered += isAnswer(message);
            lastAnswer = Poller::now();
        };
        const qint64 from = Poller::now();
        for (const auto& radio : silent) {
            page->queue(request("connectRig",
                                "[\"" + radio->portName().toUtf8() + "\"," + QByteArray::number(Ft991Protocol::modelId)
                                    + ",\"38400\"]"));
        }
        page->flush();
        // Those past the bound are refused at once; the others are being opened.
        session->poller.drive(from + 10000 * millisecond, handler, [&] { return answered >= refused; });
        refusedMs = answered >= refused ? (lastAnswer - from) / 1e6 : failed;
        int most = 0;
        double memory = 0;
        for (int look = 0; look < 10; ++look) {
            session->poller.drive(Poller::now() + 300 * millisecond, handler);
            const QList<int> hosts = session->server->children("orvessa-radio");
            if (hosts.size() >= most) {
                most = hosts.size();
                memory = 0;
                for (int pid : hosts)
                    memory += ServerProcess::privateKiB(pid);
            }
        }
        alive = most;
        privateMiB = memory / 1024;
        orvessaMiB = (session->server->rssKiB() - before) / 1024;
    }
    report.add(QStringLiteral("connectRig of 400 silent radios: radio processes alive at most"),
               alive,
               {},
               Report::Goal::AtMost,
               RadioRegistry::maxRadios);
    report.add(QStringLiteral("connectRig of 400 silent radios: their private memory (MiB)"),
               privateMiB,
               {},
               Report::Goal::None);
    report.add(QStringLiteral("connectRig of 400 silent radios: Orvessa's RSS growth (MiB)"),
               orvessaMiB,
               {},
               Report::Goal::AtMost,
               20);
    // While the first 64 processes start, on the server's core: they inherit its pinning.
    report.add(
        QStringLiteral("connectRig of 400 silent radios: the %1 past the bound answered within (ms)").arg(refused),
        refusedMs,
        {},
        Report::Goal::AtMost,
        3000);
    for (const auto& radio : silent)
        QMetaObject::invokeMethod(
            radio.get(), [&radio] { radio->vanish(); }, Qt::BlockingQueuedConnection);
    farm.quit();
    farm.wait();
}

void Bench::waitingForAnOpen()
{
    const int requests = std::max(20000, int(200000 * options.scale));
    double growth = failed;
    double answeredAll = failed;
    double disconnectMs = failed;
    SimulatedRadio radio;
    radio.setAnswering(false);
    const auto session = open(Kind::Orvessa, 1);
    WsClient* const page = session ? session->clients.front().get() : nullptr;
    if (session) {
        const double before = session->server->rssKiB();
        int answered = 0;
        const auto handler = [&](WsClient&, const QByteArray& message) { answered += isAnswer(message); };
        page->send(request("connectRig",
                           "[\"" + radio.portName().toUtf8() + "\"," + QByteArray::number(Ft991Protocol::modelId)
                               + ",\"38400\"]"));
        // In bursts the page reads between: the bound under test is the radio's, not the connection's.
        const QByteArray ask = request("rigInfo", portParams(radio));
        double most = 0;
        for (int sent = 0; sent < requests;) {
            for (int i = 0; i < 2000 && sent < requests; ++i, ++sent)
                page->queue(ask);
            page->flush();
            session->poller.drive(Poller::now() + 5000 * millisecond, handler, [&] { return answered >= sent - 256; });
            most = std::max(most, session->server->rssKiB());
        }
        growth = (most - before) / 1024;
        answeredAll = answered;
        const qint64 from = Poller::now();
        if (call(*session, *page, "disconnectRig", portParams(radio)).contains("Rig disconnected"))
            disconnectMs = (Poller::now() - from) / 1e6;
    }
    report.add(QStringLiteral("%1 rigInfo for a radio being opened: answered at once").arg(requests),
               answeredAll,
               {},
               Report::Goal::AtLeast,
               requests - 256);
    report.add(QStringLiteral("%1 rigInfo for a radio being opened: Orvessa's RSS growth (MiB)").arg(requests),
               growth,
               {},
               Report::Goal::AtMost,
               20);
    report.add(
        QStringLiteral("disconnectRig of a radio being opened (ms)"), disconnectMs, {}, Report::Goal::AtMost, 1000);
}

void Bench::sharedRadio()
{
    const int rounds = std::max(10, int(40 * options.scale));
    SimulatedRadio radio;
    sharePort = ServerHome::freeTcpPort();
    const auto session = open(Kind::Orvessa, 1);
    sharePort = 0;
    double viaPort = failed;
    double viaPage = failed;
    double pushRate = failed;
    double alonePushRate = failed;
    QTcpSocket program;
    WsClient* const page = session ? session->clients.front().get() : nullptr;
    if (session && connectRadio(*session, *page, radio, false)) {
        const QString listed = QString::fromUtf8(call(*session, *page, "listConnectedRigs"));
        const QRegularExpression shared(QStringLiteral(R"("SharePort": (\d+))"));
        program.connectToHost(QHostAddress::LocalHost, quint16(shared.match(listed).captured(1).toUInt()));
        program.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        program.waitForConnected(3000);
    }
    // A line to the program's port and its answer, whole; empty on time-out.
    const auto ask = [&program](const QByteArray& line) {
        QByteArray answer;
        program.write(line);
        while (!answer.endsWith('\n') && program.waitForReadyRead(5000))
            answer += program.readAll();
        return answer;
    };
    if (program.state() == QAbstractSocket::ConnectedState) {
        // The same request both ways, the two alternating, past Hamlib's cache lifetime.
        Samples programs;
        Samples pages;
        for (int round = 0; round < rounds; ++round) {
            const QByteArray hertz = QByteArray::number(7074000 + 1000 * (round % 2));
            QThread::msleep(160);
            qint64 from = Poller::now();
            if (ask("F " + hertz + "\n") == "RPRT 0\n")
                programs.add((Poller::now() - from) / 1e6);
            QThread::msleep(160);
            from = Poller::now();
            if (call(*session, *page, "setFreq", "[\"" + radio.portName().toUtf8() + "\"," + hertz + "]")
                    .contains("Frequency set"))
                pages.add((Poller::now() - from) / 1e6);
        }
        if (programs.count() == rounds && pages.count() == rounds) {
            viaPort = programs.median();
            viaPage = pages.median();
        }
        // The page's pushes, then again while the program polls ten times a second.
        if (call(*session, *page, "rigInfoSubscribe", portParams(radio)).contains("\"subscribed\"")) {
            for (const bool polling : {false, true}) {
                // From the first push to the last: the pace, whatever part of a tick the window cuts.
                int pushes = 0;
                qint64 first = 0;
                qint64 last = 0;
                bool answered = true;
                const qint64 from = Poller::now();
                const qint64 until = from + seconds(10);
                for (qint64 next = from; next < until && answered; next += 100 * millisecond) {
                    session->poller.drive(next, [&](WsClient&, const QByteArray& message) {
                        if (isRigStatus(message)) {
                            last = Poller::now();
                            first = pushes++ ? first : last;
                        }
                    });
                    answered = !polling || ask("f\n").endsWith('\n');
                }
                (polling ? pushRate : alonePushRate)
                    = answered && pushes > 1 ? (pushes - 1) * 1e9 / double(last - first) : failed;
            }
        }
    }
    report.add(QStringLiteral("setFreq through the shared port (F) vs from a page (ms)"),
               viaPort,
               viaPage,
               Report::Goal::RatioAtMost,
               1.2);
    // The baseline column holds the same page's pushes without the program.
    report.add(QStringLiteral("a page's pushes per second while a program polls every 100 ms"),
               pushRate,
               alonePushRate,
               Report::Goal::AtLeast,
               3.95);
}

std::unique_ptr<Bench::Session> Bench::open(Kind kind, int count)
{
    port = ServerHome::freeTcpPort();
    udpPort = ServerHome::freeUdpPort();
    QString program = options.baseline;
    QStringList arguments {QString::number(port), QString::number(udpPort), allowedOrigins().constFirst()};
    if (kind == Kind::Orvessa) {
        if (!home.prepareOrvessa(port, sharePort))
            return nullptr;
        program = options.orvessa;
        arguments.clear();
    }
    auto session = std::make_unique<Session>();
    session->server = std::make_unique<ServerProcess>(program, arguments, home.environment(), options.serverCpu);
    if (!session->server->start(port, 10000)) {
        std::fprintf(stderr, "orvessa-bench: %s did not listen within 10 s\n", qPrintable(program));
        return nullptr;
    }
    return connectClients(*session, count) ? std::move(session) : nullptr;
}

bool Bench::connectClients(Session& session, int count)
{
    const QByteArray origin = allowedOrigins().constFirst().toUtf8();
    for (int i = 0; i < count; ++i) {
        auto client = std::make_unique<WsClient>();
        if (!client->open(port, origin, 3000)) {
            std::fprintf(stderr, "orvessa-bench: client %d of %d could not connect\n", i + 1, count);
            return false;
        }
        session.poller.add(client.get());
        session.clients.push_back(std::move(client));
    }
    return true;
}

bool Bench::joinRelay(Kind kind, Session& session, WsClient& client)
{
    const QByteArray params = "[" + QByteArray::number(udpPort) + ",\"127.0.0.1\",\"\",[]]";
    return (kind == Kind::Baseline || call(session, client, "udpQsoStartFilters", params).contains("Started UDP QSO"))
        && call(session, client, "udpQsoSubscribe").contains("Subscribed");
}

bool Bench::connectRadio(Session& session, WsClient& client, const SimulatedRadio& radio, bool subscribe)
{
    const QByteArray params
        = "[\"" + radio.portName().toUtf8() + "\"," + QByteArray::number(Ft991Protocol::modelId) + ",\"38400\"]";
    return !radio.portName().isEmpty() && call(session, client, "connectRig", params, 30000).contains("Rig connected")
        && (!subscribe || call(session, client, "rigInfoSubscribe", portParams(radio)).contains("\"subscribed\""));
}

QByteArray Bench::call(Session& session, WsClient& client, const char* method, const QByteArray& params, int timeoutMs)
{
    return session.poller.call(client, request(method, params), timeoutMs);
}

QByteArray Bench::request(const char* method, const QByteArray& params)
{
    return Poller::request(method, params, nextId++);
}

qint64 Bench::seconds(double value) const
{
    return qint64(value * options.scale * 1e9);
}
