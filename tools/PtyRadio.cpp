#include "PtyRadio.h"

#include "Ft991Protocol.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

PtyRadio::PtyRadio(QObject* parent)
    : PtyRadio(std::make_unique<Ft991Protocol>(), parent)
{ }

PtyRadio::PtyRadio(std::unique_ptr<RadioProtocol> radio, QObject* parent)
    : QObject(parent)
    , protocol(std::move(radio))
{ }

PtyRadio::~PtyRadio()
{
    vanish();
}

bool PtyRadio::open()
{
    if (master >= 0)
        return true;
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        vanish();
        return false;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        error = QStringLiteral("cannot name the pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        vanish();
        return false;
    }
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw {};
    if (slave < 0 || tcgetattr(slave, &raw) != 0) {
        error = QStringLiteral("cannot open %1: %2")
                    .arg(QString::fromLocal8Bit(name), QString::fromLocal8Bit(std::strerror(errno)));
        vanish();
        return false;
    }
    // Raw from the start: an echoing line discipline would hand the radio its own answers back.
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    slavePath = QString::fromLocal8Bit(name);
    notifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &PtyRadio::readCommands);
    return true;
}

void PtyRadio::vanish()
{
    delete notifier;
    notifier = nullptr;
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    slave = master = -1;
    slavePath.clear();
    pending.clear();
}

void PtyRadio::readCommands()
{
    char buffer[512];
    ssize_t count;
    while ((count = ::read(master, buffer, sizeof buffer)) > 0)
        pending.append(buffer, int(count));

    QByteArray answers;
    QByteArray command;
    while (!(command = protocol->takeCommand(pending)).isEmpty()) {
        ++commands;
        if (received.size() >= 4096)
            received.removeFirst();
        received.append(command);
        emit commandReceived(command);
        if (answering)
            answers += respond(command);
    }
    // A port whose reader stopped answering must not grow without end.
    if (pending.size() > 4096)
        pending.clear();
    if (delayMs > 0 && !answers.isEmpty())
        QTimer::singleShot(delayMs, this, [this, answers] { send(answers); });
    else
        send(answers);
}

QByteArray PtyRadio::respond(const QByteArray& command)
{
    // An Icom frame is matched by its hexadecimal bytes without spaces ("FEFE94E01C00").
    const QByteArray shown = protocol->printable(command).replace(' ', QByteArray());
    if (!ignored.isEmpty() && shown.startsWith(ignored))
        return {};
    if (refusals > 0 && shown.startsWith(refused)) {
        --refusals;
        return refusalText.isEmpty() ? protocol->refusal(command) : refusalText;
    }
    return protocol->answer(command);
}

void PtyRadio::send(const QByteArray& answers)
{
    for (int written = 0; master >= 0 && written < answers.size();) {
        const ssize_t step = ::write(master, answers.constData() + written, size_t(answers.size() - written));
        if (step <= 0)
            break;
        written += int(step);
    }
}

bool PtyRadio::obey(const QByteArray& line)
{
    const QList<QByteArray> words = line.simplified().split(' ');
    const QByteArray& verb = words.first();
    const QByteArray argument = words.value(1);
    bool counted = true;
    const int count = words.size() > 2 ? words.at(2).toInt(&counted) : 1;
    if (verb == "silent" || verb == "answer") {
        answering = verb == "answer";
    } else if (verb == "ignore" && !argument.isEmpty()) {
        ignored = argument;
    } else if (verb == "refuse" && !argument.isEmpty() && counted && count > 0) {
        refused = argument;
        refusals = count;
        refusalText = words.value(3);
    } else if (verb == "slow" && argument.toInt() >= 0) {
        delayMs = argument.toInt();
    } else if (verb == "obey") {
        ignored.clear();
        refusals = 0;
        delayMs = 0;
    } else {
        return false;
    }
    return true;
}

QList<QByteArray> PtyRadio::takeReceived()
{
    QList<QByteArray> taken;
    taken.swap(received);
    return taken;
}
