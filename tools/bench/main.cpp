// orvessa-bench: measures Orvessa against the in-tree baseline server and prints a Markdown table.
#include "Bench.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <hamlib/rig.h>

#include <cstdio>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// With two cores or more, the servers get one and the bench (clients, simulated radios) another, so neither
// measures the other's load. Threads the bench starts later inherit its core.
int pinBenchAndChooseServerCpu()
{
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return -1;
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed))
            cpus.push_back(cpu);
    }
    if (cpus.size() < 2)
        return -1;
    cpu_set_t bench;
    CPU_ZERO(&bench);
    CPU_SET(cpus.at(0), &bench);
    ::sched_setaffinity(0, sizeof bench, &bench);
    return cpus.at(1);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    rig_set_debug(RIG_DEBUG_NONE);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Measures Orvessa against a minimal Qt server of the same wire protocol and prints a Markdown "
                       "table. Cells: %1.")
            .arg(Bench::cellNames.join(QStringLiteral(", "))));
    parser.addHelpOption();
    const QString here = QCoreApplication::applicationDirPath();
    const QCommandLineOption only(
        QStringLiteral("only"), QStringLiteral("Run only these cells (comma-separated)."), QStringLiteral("cells"));
    const QCommandLineOption quick(QStringLiteral("short"),
                                   QStringLiteral("Shorter runs: a rougher table in a third of the time."));
    const QCommandLineOption orvessa(QStringLiteral("orvessa"),
                                     QStringLiteral("The Orvessa program to measure."),
                                     QStringLiteral("path"),
                                     QDir::cleanPath(here + QStringLiteral("/../../src/orvessa")));
    const QCommandLineOption baseline(QStringLiteral("baseline"),
                                      QStringLiteral("The baseline server."),
                                      QStringLiteral("path"),
                                      here + QStringLiteral("/orvessa-bench-baseline"));
    parser.addOptions({only, quick, orvessa, baseline});
    parser.process(app);

    Bench::Options options;
    options.orvessa = parser.value(orvessa);
    options.baseline = parser.value(baseline);
    options.cells = parser.value(only).split(QLatin1Char(','), Qt::SkipEmptyParts);
    options.scale = parser.isSet(quick) ? 0.3 : 1;
    for (const QString& cell : qAsConst(options.cells)) {
        if (!Bench::cellNames.contains(cell)) {
            std::fprintf(stderr, "orvessa-bench: no cell named %s\n", qPrintable(cell));
            return 2;
        }
    }
    // Hundreds of connections (the footprint cell): the servers inherit the raised limit.
    rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    options.serverCpu = pinBenchAndChooseServerCpu();

    // Orvessa's library logs on standard output (a released radio says so): the table keeps that stream to itself.
    std::FILE* const table = ::fdopen(::dup(STDOUT_FILENO), "w");
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    Bench(options).run(table);
    std::fclose(table);
    return 0;
}
