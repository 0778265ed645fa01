// orvessa-rigsim: a simulated Yaesu FT-991 on a pseudo-terminal, for trying Orvessa without a radio.
#include "PtyRadio.h"
#include "QuitOnSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvessa-rigsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates a Yaesu FT-991 (Hamlib model %1) on a pseudo-terminal and prints its path.\n"
                       "Connect it from Orvessa with that path as the port and any speed; stop it with Ctrl+C.\n"
                       "Type \"silent\" to switch the radio off as if its cable were pulled, \"answer\" to "
                       "bring it back.")
            .arg(Ft991Protocol::modelId));
    parser.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make a symbolic link at <path> to the pseudo-terminal."),
                                  QStringLiteral("path"));
    const QCommandLineOption verbose(QStringList {QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Print every command the radio receives on standard error."));
    parser.addOption(link);
    parser.addOption(verbose);
    parser.process(app);

    PtyRadio radio;
    if (!radio.open()) {
        std::fprintf(stderr, "orvessa-rigsim: %s\n", qPrintable(radio.errorString()));
        return 1;
    }
    QString linkPath = parser.value(link);
    if (!linkPath.isEmpty()) {
        QFile::remove(linkPath);
        if (!QFile::link(radio.portName(), linkPath)) {
            std::fprintf(stderr, "orvessa-rigsim: cannot make the link %s\n", qPrintable(linkPath));
            return 1;
        }
    }
    if (parser.isSet(verbose)) {
        QObject::connect(&radio, &PtyRadio::commandReceived, &radio, [](const QByteArray& command) {
            std::fprintf(stderr, "%s;\n", command.constData());
        });
    }
    // The console doubles as the radio's power switch: a station's radio goes quiet without warning. Started in
    // the background of a shell, reading the terminal would stop the whole radio (SIGTTIN): the read fails instead,
    // and the console is left alone.
    std::signal(SIGTTIN, SIG_IGN);
    QSocketNotifier console(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&console, &QSocketNotifier::activated, &radio, [&radio, &console] {
        char line[64];
        const ssize_t got = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (got <= 0) {
            console.setEnabled(false);
            return;
        }
        const QByteArray words(line, int(got));
        if (words.contains("silent"))
            radio.setAnswering(false);
        else if (words.contains("answer"))
            radio.setAnswering(true);
    });
    // Ended by Ctrl+C or kill through the event loop, so that the link is removed on the way out.
    quitOnSignals({SIGINT, SIGTERM, SIGHUP});
    std::printf("%s\n", qPrintable(radio.portName()));
    std::fflush(stdout);
    const int result = QCoreApplication::exec();
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
    return result;
}
