// orvessa-rigsim: a simulated radio on a pseudo-terminal, for trying Orvessa without one.
#include "Ic7300Protocol.h"
#include "PtyRadio.h"
#include "app/QuitOnSignals.h"

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

    QStringList plays;
    for (unsigned model : RadioProtocol::models()) {
        const auto radio = RadioProtocol::create(model);
        QString line = QStringLiteral("  %1  %2").arg(model).arg(radio->name());
        if (!radio->lacks().isEmpty())
            line += QStringLiteral(" (Hamlib reads %1 from it)").arg(radio->lacks());
        plays << line;
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates a radio on a pseudo-terminal and prints its path. It plays, by Hamlib model:\n%1\n"
                       "Connect it from Orvessa with that path, that model and any speed; stop it with Ctrl+C.\n"
                       "Its console switches faults, one a line: \"silent\" switches the radio off as if its cable "
                       "were pulled, \"answer\" brings it back; \"ignore PREFIX\" leaves commands starting with "
                       "PREFIX unanswered, as firmware without them does; \"refuse PREFIX [TIMES]\" answers the next "
                       "one (or TIMES) with the radio's refusal; \"slow MS\" delays every answer by MS ms; \"obey\" "
                       "ends ignoring, refusing and delaying.")
            .arg(plays.join(QLatin1Char('\n'))));
    parser.addHelpOption();
    const QCommandLineOption modelOption(QStringLiteral("model"),
                                         QStringLiteral("The radio to play, by its Hamlib model number (default %1).")
                                             .arg(RadioProtocol::models().first()),
                                         QStringLiteral("number"),
                                         QString::number(RadioProtocol::models().first()));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make a symbolic link at <path> to the pseudo-terminal."),
                                  QStringLiteral("path"));
    const QCommandLineOption verbose(
        QStringList {QStringLiteral("v"), QStringLiteral("verbose")},
        QStringLiteral("Print every command the radio receives on standard error, one a line "
                       "(an Icom frame as its bytes in hexadecimal)."));
    const QCommandLineOption echo(QStringLiteral("echo"),
                                  QStringLiteral("Icom: send every frame back before the answer, as the radio does "
                                                 "with its USB echo-back setting on (it leaves the factory off)."));
    parser.addOption(modelOption);
    parser.addOption(echo);
    parser.addOption(link);
    parser.addOption(verbose);
    parser.process(app);

    bool numeric = false;
    const unsigned model = parser.value(modelOption).toUInt(&numeric);
    std::unique_ptr<RadioProtocol> protocol = numeric ? RadioProtocol::create(model) : nullptr;
    if (!protocol) {
        QStringList known;
        for (unsigned each : RadioProtocol::models())
            known << QString::number(each);
        std::fprintf(stderr,
                     "orvessa-rigsim: cannot play Hamlib model %s; it plays %s\n",
                     qPrintable(parser.value(modelOption)),
                     qPrintable(known.join(QStringLiteral(", "))));
        return 2;
    }
    if (parser.isSet(echo)) {
        auto* icom = dynamic_cast<Ic7300Protocol*>(protocol.get());
        if (!icom) {
            std::fprintf(stderr, "orvessa-rigsim: only the Icom echoes its frames\n");
            return 2;
        }
        icom->setEcho(true);
    }
    PtyRadio radio(std::move(protocol));
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
        QObject::connect(&radio, &PtyRadio::commandReceived, &radio, [&radio](const QByteArray& command) {
            std::fprintf(stderr, "%s\n", radio.radio().printable(command).constData());
        });
    }
    // The console doubles as the radio's power switch: a station's radio goes quiet without warning. Started in
    // the background of a shell, reading the terminal would stop the whole radio (SIGTTIN): the read fails instead,
    // and the console is left alone.
    std::signal(SIGTTIN, SIG_IGN);
    QSocketNotifier console(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&console, &QSocketNotifier::activated, &radio, [&radio, &console] {
        char line[256];
        const ssize_t got = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (got <= 0) {
            console.setEnabled(false);
            return;
        }
        for (const QByteArray& words : QByteArray(line, int(got)).split('\n')) {
            if (!words.trimmed().isEmpty() && !radio.obey(words))
                std::fprintf(stderr, "orvessa-rigsim: unknown console command: %s\n", words.trimmed().constData());
        }
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
