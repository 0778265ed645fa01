// orvessa-soak: drives Orvessa through rounds of work and checks that what it holds at rest does not grow.
#include "Soak.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs Orvessa through rounds of clients coming and going, pipelined requests and relayed "
                       "datagrams, and checks that its descriptors, threads and memory at rest do not grow. Exits 1 "
                       "when they do or the work fails, 2 when Orvessa cannot be set up."));
    parser.addHelpOption();
    const Soak::Options defaults;
    const QCommandLineOption rounds(QStringLiteral("rounds"),
                                    QStringLiteral("Rounds of work (at least 5)."),
                                    QStringLiteral("n"),
                                    QString::number(defaults.rounds));
    const QCommandLineOption cycles(QStringLiteral("cycles"),
                                    QStringLiteral("Connect cycles in all rounds together."),
                                    QStringLiteral("n"),
                                    QString::number(defaults.cycles));
    const QCommandLineOption requests(QStringLiteral("requests"),
                                      QStringLiteral("ovInfo requests in all rounds together."),
                                      QStringLiteral("n"),
                                      QString::number(defaults.requests));
    const QCommandLineOption quick(
        QStringLiteral("quick"),
        QStringLiteral("A short run, about 25 s: 6 rounds, 3,000 cycles, 300,000 requests (unless given)."));
    const QCommandLineOption orvessa(
        QStringLiteral("orvessa"),
        QStringLiteral("The Orvessa program to run."),
        QStringLiteral("path"),
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../../src/orvessa")));
    parser.addOptions({rounds, cycles, requests, quick, orvessa});
    parser.process(app);

    // A number given wins over --quick's; anything that is not a number reads as -1 and is refused.
    const auto number = [&](const QCommandLineOption& option, qint64 quickValue) {
        bool valid = true;
        const qint64 value
            = parser.isSet(option) || !parser.isSet(quick) ? parser.value(option).toLongLong(&valid) : quickValue;
        return valid ? value : -1;
    };
    Soak::Options options;
    options.orvessa = parser.value(orvessa);
    options.rounds = int(std::min<qint64>(number(rounds, 6), 1000));
    options.cycles = number(cycles, 3000);
    options.requests = number(requests, 300000);
    if (options.rounds < 5 || options.cycles < 0 || options.requests < 0) {
        std::fprintf(stderr, "orvessa-soak: at least 5 rounds, and counts of 0 or more\n");
        return 2;
    }
    // Many clients at once, each a descriptor here and one in Orvessa, which inherits the limit.
    rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    return Soak(options).run(stdout);
}
