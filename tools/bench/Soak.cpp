#include "Soak.h"

#include "ClientChurn.h"
#include "Ft991Protocol.h"
#include "Report.h"
#include "RequestStream.h"
#include "app/Orvessa.h"

#include <QThread>

#include <algorithm>

namespace {

constexpr qint64 millisecond = Poller::millisecond;
constexpr int clientsInFlight = 64;
constexpr int streamConnections = 4;
constexpr int streamDepth = 32;
constexpr double datagramRate = 50;
// A round that makes no progress for this long has stalled; none may run longer than the cap.
constexpr qint64 stallLimit = 30000 * millisecond;
constexpr qint64 roundCap = 1200000 * millisecond;
// Resident memory: the rounds in which the heap grows to what the work needs, then the growth in KiB allowed from
// one round to the next and in all after them. Measured here, the program adds about 400 KiB in rounds 1 to 3, then
// less and less: 300 KiB in rounds 3 to 10, 500 KiB in rounds 3 to 40. A leak of 100 bytes a connection adds 1 MiB
// in rounds 3 to 10 of the default run.
constexpr int warmUpRounds = 3;
constexpr double rssStepTolerance = 512;
constexpr double rssTotalTolerance = 1024;

int sum(const QMap<QString, int>& counts)
{
    int total = 0;
    for (const int count : counts)
        total += count;
    return total;
}

// "socket 3, pipe 2": what is held, most first.
QString listed(const QMap<QString, int>& counts)
{
    QVector<QPair<int, QString>> entries;
    for (auto entry = counts.cbegin(); entry != counts.cend(); ++entry)
        entries.append({-entry.value(), entry.key()});
    std::sort(entries.begin(), entries.end());
    QStringList parts;
    for (const auto& entry : qAsConst(entries))
        parts.append(QStringLiteral("%1 %2").arg(entry.second).arg(-entry.first));
    return parts.join(QStringLiteral(", "));
}

// "TCP CLOSE_WAIT +120": each kind that some later count holds more of than the first, by the most it held beyond.
QString beyond(const QMap<QString, int>& first, const QVector<QMap<QString, int>>& later)
{
    QMap<QString, int> most;
    for (const QMap<QString, int>& counts : later) {
        for (auto entry = counts.cbegin(); entry != counts.cend(); ++entry)
            most[entry.key()] = std::max(most.value(entry.key()), entry.value() - first.value(entry.key()));
    }
    QStringList parts;
    for (auto entry = most.cbegin(); entry != most.cend(); ++entry) {
        if (entry.value() > 0)
            parts.append(QStringLiteral("%1 +%2").arg(entry.key()).arg(entry.value()));
    }
    return parts.join(QStringLiteral(", "));
}

// The share of `total` that falls to round `round` of `rounds`, so that the shares add up exactly.
qint64 share(qint64 total, int round, int rounds)
{
    return total * round / rounds - total * (round - 1) / rounds;
}

} // namespace

Soak::Soak(const Options& options_)
    : options(options_)
    , port(ServerHome::freeTcpPort())
    , udpPort(ServerHome::freeUdpPort())
    , source(udpPort)
{ }

int Soak::run(std::FILE* out)
{
    if (!setUp())
        return 2;
    std::fprintf(out,
                 "%s\n\n%d rounds; in all %lld connect cycles (%d in flight), %lld ovInfo pipelined over %d "
                 "connections (%d in flight each) with one other method after every 8, %g datagrams/s to the relay.\n\n"
                 "| round | cycles (failed) | answers (wrong) | datagrams (lost) | seconds | descriptors | threads | "
                 "RSS (KiB) |\n|---|---:|---:|---:|---:|---:|---:|---:|\n",
                 qPrintable(Report::machine()),
                 options.rounds,
                 options.cycles,
                 clientsInFlight,
                 options.requests,
                 streamConnections,
                 streamDepth,
                 datagramRate);
    footprints.append(atRest());
    printRow(out, QStringLiteral("start"), footprints.last(), nullptr);
    for (int round = 1; round <= options.rounds; ++round) {
        std::fprintf(stderr, "orvessa-soak: round %d of %d\n", round, options.rounds);
        Work work;
        const bool ran = runRound(round, work);
        if (!server->isRunning()) {
            std::fprintf(out, "\nOrvessa ended during round %d.\n", round);
            return 1;
        }
        footprints.append(atRest());
        printRow(out, QString::number(round), footprints.last(), &work);
        if (!ran) {
            std::fprintf(out, "\nRound %d could not run: see the messages above.\n", round);
            return 1;
        }
    }
    return judge(out) ? 0 : 1;
}

bool Soak::setUp()
{
    if (radio.portName().isEmpty() || port == 0 || udpPort == 0 || !home.prepareOrvessa(port))
        return false;
    server = std::make_unique<ServerProcess>(options.orvessa, QStringList(), home.environment(), -1);
    if (!server->start(port, 10000)) {
        std::fprintf(stderr, "orvessa-soak: %s did not listen within 10 s\n", qPrintable(options.orvessa));
        return false;
    }
    return true;
}

bool Soak::runRound(int round, Work& work)
{
    const QByteArray radioPort = radio.portName().toUtf8();
    const auto call = [&](WsClient& client, const char* method, const QByteArray& params, const char* expected) {
        const QByteArray answer = poller.call(client, Poller::request(method, params, nextId++), 30000);
        if (!answer.contains(expected))
            std::fprintf(
                stderr, "orvessa-soak: %s answered %s\n", method, answer.isEmpty() ? "nothing" : answer.data());
        return answer.contains(expected);
    };
    // The radio and the relay stay from the first round on; the control client tallies the relayed datagrams.
    WsClient control;
    if (!control.open(port, allowedOrigins().constFirst().toUtf8(), 3000))
        return false;
    poller.add(&control);
    if (round == 1
        && (!call(control,
                  "connectRig",
                  "[\"" + radioPort + "\"," + QByteArray::number(Ft991Protocol::modelId) + ",\"38400\"]",
                  "Rig connected")
            || !call(control,
                     "udpQsoStartFilters",
                     "[" + QByteArray::number(udpPort) + ",\"127.0.0.1\",\"\",[]]",
                     "Started UDP QSO")))
        return false;
    if (!call(control, "udpQsoSubscribe", {}, "Subscribed"))
        return false;

    ClientChurn churn(poller, port, radioPort, clientsInFlight);
    RequestStream stream(poller, port, radioPort, streamConnections, streamDepth);
    const qint64 from = Poller::now();
    churn.begin(share(options.cycles, round, options.rounds));
    if (!stream.begin(share(options.requests, round, options.rounds)))
        return false;
    source.begin(datagramRate);
    qint64 progress = 0;
    qint64 progressAt = from;
    poller.drive(
        from + roundCap,
        [&](WsClient& client, const QByteArray& message) {
            if (&client == &control)
                source.take(message, Poller::now());
            else if (!stream.take(client, message))
                churn.take(client, message);
        },
        [&] { return (churn.done() && stream.done()) || Poller::now() - progressAt > stallLimit; },
        [&](qint64 now) {
            stream.flush();
            if (stream.answeredCount() + churn.finishedCount() != progress) {
                progress = stream.answeredCount() + churn.finishedCount();
                progressAt = now;
            }
            return std::min({source.sendDue(now), churn.tick(now), now + 1000 * millisecond});
        });
    work.stalled = !(churn.done() && stream.done());
    source.end();
    work.seconds = (Poller::now() - from) / 1e9;
    poller.drive(
        Poller::now() + 2000 * millisecond,
        [&](WsClient& client, const QByteArray& message) {
            if (&client == &control)
                source.take(message, Poller::now());
        },
        [&] { return source.allArrived(); });
    stream.end();
    churn.abandon();

    work.cycles = churn.finishedCount();
    work.cyclesFailed = churn.failedCount();
    work.answers = stream.answeredCount();
    work.wrong = stream.wrongCount();
    work.datagrams = source.sentCount();
    work.lost = source.lostCount();
    for (auto reason = churn.failures().cbegin(); reason != churn.failures().cend(); ++reason)
        failures[reason.key()] += reason.value();
    total.cycles += work.cycles;
    total.cyclesFailed += work.cyclesFailed;
    total.answers += work.answers;
    total.wrong += work.wrong;
    total.datagrams += work.datagrams;
    total.lost += work.lost;
    total.stalled = total.stalled || work.stalled;
    return true;
}

Soak::Footprint Soak::atRest()
{
    // Closed connections are released by the event loop a moment later: counts must hold still for two seconds.
    constexpr int stillSamples = 8;
    Footprint footprint;
    int still = 0;
    for (int sample = 0; sample < 60 && still < stillSamples; ++sample) {
        QThread::msleep(250);
        Footprint now {server->descriptors(), server->threads(), 0};
        still = now.descriptors == footprint.descriptors && now.threads == footprint.threads ? still + 1 : 0;
        footprint = now;
    }
    footprint.rssKiB = server->rssKiB();
    return footprint;
}

void Soak::printRow(std::FILE* out, const QString& name, const Footprint& footprint, const Work* work) const
{
    const QString none = QStringLiteral("—");
    std::fprintf(out,
                 "| %s | %s | %s | %s | %s | %d | %d | %.0f |\n",
                 qPrintable(name),
                 qPrintable(work ? QStringLiteral("%1 (%2)").arg(work->cycles).arg(work->cyclesFailed) : none),
                 qPrintable(work ? QStringLiteral("%1 (%2)").arg(work->answers).arg(work->wrong) : none),
                 qPrintable(work ? QStringLiteral("%1 (%2)").arg(work->datagrams).arg(work->lost) : none),
                 qPrintable(work ? QString::number(work->seconds, 'f', 1) : none),
                 sum(footprint.descriptors),
                 sum(footprint.threads),
                 footprint.rssKiB);
    std::fflush(out);
}

bool Soak::judge(std::FILE* out) const
{
    // Round 1 opens what stays: the radio's port, the relay's socket, a pool thread that ends when idle. After it, no
    // kind of descriptor and no thread may be found more often than then.
    const Footprint& first = footprints.at(1);
    QVector<QMap<QString, int>> laterDescriptors;
    QVector<QMap<QString, int>> laterThreads;
    for (int round = 2; round < footprints.size(); ++round) {
        laterDescriptors.append(footprints.at(round).descriptors);
        laterThreads.append(footprints.at(round).threads);
    }
    const QString descriptorGrowth = beyond(first.descriptors, laterDescriptors);
    const QString threadGrowth = beyond(first.threads, laterThreads);

    // The allocator grows its heap to what the work needs during the first rounds and keeps it; after them each
    // round repeats the same work, so a round that needs more memory than the last holds on to something.
    const int settled = std::min(warmUpRounds, options.rounds - 1);
    double largestStep = 0;
    for (int round = settled + 1; round < footprints.size(); ++round)
        largestStep = std::max(largestStep, footprints.at(round).rssKiB - footprints.at(round - 1).rssKiB);
    const double rssGrowth = footprints.last().rssKiB - footprints.at(settled).rssKiB;
    const bool rssHeld = largestStep <= rssStepTolerance && rssGrowth <= rssTotalTolerance;

    const bool workDone = total.cyclesFailed == 0 && total.wrong == 0 && total.lost == 0 && !total.stalled;

    std::fprintf(out,
                 "\nDescriptors after round 1: %s.\n  Later: %s.\n",
                 qPrintable(listed(first.descriptors)),
                 descriptorGrowth.isEmpty() ? "no kind more often, no growth"
                                            : qPrintable("GROWTH: " + descriptorGrowth));
    std::fprintf(out,
                 "Threads after round 1: %s.\n  Later: %s.\n",
                 qPrintable(listed(first.threads)),
                 threadGrowth.isEmpty() ? "no name more often, no growth" : qPrintable("GROWTH: " + threadGrowth));
    std::fprintf(out,
                 "RSS: rounds 1 to %d warm up; after them the largest step from one round to the next is %+.0f KiB "
                 "(limit %.0f) and rounds %d to %d add %+.0f KiB (limit %.0f): %s.\n",
                 settled,
                 largestStep,
                 rssStepTolerance,
                 settled,
                 options.rounds,
                 rssGrowth,
                 rssTotalTolerance,
                 rssHeld ? "no growth" : "GROWTH");
    std::fprintf(
        out,
        "Work: %lld cycles (%lld failed), %lld answers (%lld wrong or missing), %lld datagrams (%lld lost)%s.\n",
        total.cycles,
        total.cyclesFailed,
        total.answers,
        total.wrong,
        total.datagrams,
        total.lost,
        total.stalled ? ", a round stalled" : "");
    for (auto reason = failures.cbegin(); reason != failures.cend(); ++reason)
        std::fprintf(out, "  failed cycles, %s: %d\n", qPrintable(reason.key()), reason.value());
    const bool held = descriptorGrowth.isEmpty() && threadGrowth.isEmpty() && rssHeld && workDone;
    std::fprintf(out, "Verdict: %s\n", held ? "pass" : "FAIL");
    return held;
}
