// Runs one logging scenario named on the command line, so a test can read the exact bytes
// the log writes to standard output.
#include "Log.h"
#include "Orvessa.h"

#include <QCoreApplication>
#include <QString>

#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void logFromThreads(int threads, int lines)
{
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, lines] {
            const std::string payload(3000, static_cast<char>('a' + t));
            for (int i = 0; i < lines; ++i) {
                LOG("thread {} line {} {}\n", t, i, payload);
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        return 2;
    }
    const std::string scenario = argv[1];
    if (scenario == "line") {
        LOG("plain {} {} {}\n", 42, true, "text");
    } else if (scenario == "pointer") {
        LOG("at {}\n", reinterpret_cast<const void*>(0xbeef));
    } else if (scenario == "bad-format") {
        LOG("{} and {}\n", 1);
        LOG("{:d}\n", "not a number");
        LOG("still logging\n");
    } else if (scenario == "qstring") {
        LOG("[{}] [{:>8}]\n", QString::fromUtf8("Citt\u00e0 \u263a"), QStringLiteral("ab"));
    } else if (scenario == "threads") {
        logFromThreads(4, 400);
    } else if (scenario == "qt-no-context") {
        qtMessageHandler(QtWarningMsg, QMessageLogContext(), QStringLiteral("some Qt warning"));
    } else if (scenario == "qt-half-context") {
        qtMessageHandler(QtCriticalMsg, QMessageLogContext(nullptr, 7, "someFunction", "cat"), QStringLiteral("x"));
    } else if (scenario == "qt-context") {
        qtMessageHandler(QtDebugMsg, QMessageLogContext("file.cpp", 12, "someFunction", "cat"), QStringLiteral("y"));
        qtMessageHandler(QtInfoMsg, QMessageLogContext("file.cpp", 13, "someFunction", "cat"), QStringLiteral("z"));
    } else if (scenario == "qt-unknown-type") {
        qtMessageHandler(static_cast<QtMsgType>(42), QMessageLogContext("f.cpp", 1, "f", "c"), QStringLiteral("no"));
        LOG("after\n");
    } else if (scenario == "qt-installed") {
        qInstallMessageHandler(qtMessageHandler);
        qWarning("through qWarning");
    } else if (scenario == "hold-lock" && argc == 3) {
        const bool running = isAlreadyRunning(argv[2]);
        LOG("{}\n", running ? "busy" : "held");
        std::fflush(stdout);
        for (;;) {
            pause();
        }
    } else {
        return 2;
    }
    return 0;
}
