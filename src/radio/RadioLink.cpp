#include "RadioLink.h"

#include "app/Log.h"
#include "server/Envelope.h"

#include <QCoreApplication>
#include <QPointer>

#include <memory>
#include <unistd.h>

namespace {

QString& programOverride()
{
    static QString path;
    return path;
}

// What a page is told when the radio's host is gone: to it, the radio stopped answering on its port.
const char* const lostText = "IO error";
// What a page is told while the request under way goes unanswered: Hamlib's words for a radio that does not answer.
const char* const silentText = "Communication timed out";

void writeLogLine(const QByteArray& line)
{
    if (line.isEmpty()) {
        return;
    }
    try {
        logdetail::writeLine(line.toStdString());
    } catch (const std::exception&) {
    }
}

} // namespace

RadioLink::RadioLink(const QString& port_, QObject* parent)
    : QObject(parent)
    , port(port_)
{
    silence.setSingleShot(true);
    silence.setInterval(silentAfterMs);
    connect(&silence, &QTimer::timeout, this, &RadioLink::fallSilent);
    watchdog.setSingleShot(true);
    watchdog.setInterval(stuckAfterMs);
    connect(&watchdog, &QTimer::timeout, this, [this] {
        LOG("Rig {}: its host has not answered for {} s: ending it\n", port, stuckAfterMs / 1000);
        if (process) {
            process->kill();
        }
    });
}

RadioLink::~RadioLink()
{
    if (process) {
        disconnect(process, nullptr, this, nullptr);
        process->kill();
        process->waitForFinished(1000);
    }
}

QString RadioLink::program()
{
    return programOverride().isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/orvessa-radio")
                                       : programOverride();
}

void RadioLink::setProgram(const QString& path)
{
    programOverride() = path;
}

void RadioLink::open(uint model, const QString& speed, Reply reply)
{
    // The device is found by the process: a path on a hung mount holds up this radio only.
    queue({{{QStringLiteral("op"), QStringLiteral("resolve")}, {QStringLiteral("port"), port}},
           [this, model, speed, reply = std::move(reply)](const QVariant& found) { claim(found, model, speed, reply); },
           Kind::own});
}

void RadioLink::claim(const QVariant& found, uint model, const QString& speed, const Reply& reply)
{
    if (found.type() != QVariant::String || abandoned) {
        reply(found.type() != QVariant::String ? found : errorEnvelope(QStringLiteral("Rig not connected")));
        return;
    }
    const QString wanted = found.toString();
    // The same device under another name (a link to it, a "../" form) would get a second handle on one port, and
    // the two would talk across each other. A name that resolves to no device matches none.
    for (RadioLink* other : parent()->findChildren<RadioLink*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (other == this || wanted.isEmpty() || other->device != wanted) {
            continue;
        }
        if (other->isConnected() && !other->abandoned) {
            reply(QVariantMap {{QStringLiteral("heldBy"), other->port}});
            return;
        }
        // Closing (a moment) or still opening: what it comes to decides, or its end.
        auto again = std::make_shared<std::pair<QMetaObject::Connection, QMetaObject::Connection>>();
        const auto retry = [this, found, model, speed, reply, again] {
            const auto keep = again;
            disconnect(keep->first);
            disconnect(keep->second);
            claim(found, model, speed, reply);
        };
        again->first = connect(other, &QObject::destroyed, this, retry);
        if (!other->abandoned) {
            again->second = connect(other, &RadioLink::openSettled, this, retry);
        }
        return;
    }
    device = wanted;
    const QVariantMap request {{QStringLiteral("op"), QStringLiteral("open")},
                               {QStringLiteral("port"), port},
                               {QStringLiteral("model"), model},
                               {QStringLiteral("speed"), speed}};
    queue({request,
           [this, request, reply](const QVariant& answer) {
               if (answer.toMap().contains(QStringLiteral("info"))) {
                   reopen = request;
               }
               QPointer<RadioLink> alive(this);
               reply(answer);
               if (alive) {
                   emit openSettled();
               }
           },
           Kind::own});
}

int RadioLink::pageRequests() const
{
    return int(std::count_if(
        waiting.cbegin(), waiting.cend(), [](const Pending& pending) { return pending.kind == Kind::page; }));
}

bool RadioLink::ask(const QVariantMap& request, Reply reply)
{
    if (silent) {
        reply(errorEnvelope(QString::fromLatin1(silentText)));
        return true;
    }
    if (pageRequests() >= maxWaiting) {
        return false;
    }
    queue({request, std::move(reply)});
    return true;
}

void RadioLink::insist(const QVariantMap& request, Reply reply)
{
    queue({request, std::move(reply), Kind::own});
}

void RadioLink::read(Reply reply)
{
    queue({{{QStringLiteral("op"), QStringLiteral("status")}}, std::move(reply), Kind::read});
}

void RadioLink::queue(Pending pending)
{
    waiting.push_back(std::move(pending));
    pump();
}

void RadioLink::pump()
{
    if (abandoned || running || waiting.empty()) {
        return;
    }
    if (!process) {
        if (lastFailure.isValid() && lastFailure.elapsed() < 1000) {
            answerAll(errorEnvelope(failure));
            return;
        }
        if (!startHost()) {
            return;
        }
    }
    if (!opened && !reopen.isEmpty()) {
        // A fresh host, or one whose reopen failed: the radio first, then what waits.
        running = Pending {reopen,
                           [this](const QVariant& answer) {
                               if (!answer.toMap().contains(QStringLiteral("info"))) {
                                   failure = answer.toMap().value(QStringLiteral("Error")).toString();
                                   lastFailure.start();
                                   LOG("Rig {} cannot be opened again: {}\n", port, failure);
                                   answerAll(answer);
                               }
                           },
                           Kind::own};
    } else {
        running = std::move(waiting.front());
        waiting.pop_front();
    }
    const QByteArray frame = RadioFrames::encode(running->request);
    if (frame.size() - 4 > maxRequestBytes) {
        LOG("Rig {}: a request of {} bytes not sent: past the bound of the pipe\n", port, frame.size());
        Pending refused = std::move(*running);
        running.reset();
        QPointer<RadioLink> alive(this);
        refused.reply(errorEnvelope(QStringLiteral("Invalid params")));
        if (alive) {
            pump();
        }
        return;
    }
    process->write(frame);
    silence.start();
    watchdog.start();
}

bool RadioLink::startHost()
{
    const QString path = program();
    if (::access(path.toLocal8Bit().constData(), X_OK) != 0) {
        failToStart(qt_error_string(errno));
        return false;
    }
    process = new QProcess(this);
    connect(process, &QProcess::readyReadStandardOutput, this, &RadioLink::readAnswers);
    connect(process, &QProcess::readyReadStandardError, this, &RadioLink::forwardLog);
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, &RadioLink::hostEnded);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && process) {
            failToStart(process->errorString());
        }
    });
    opened = false;
    frames = RadioFrames();
    logLines = RadioLogLines();
    process->start(path, {QString::number(QCoreApplication::applicationPid())});
    return process != nullptr;
}

void RadioLink::failToStart(const QString& why)
{
    LOG("Cannot start {}: {}\n", program(), why);
    if (process) {
        disconnect(process, nullptr, this, nullptr);
        process->deleteLater();
        process = nullptr;
    }
    silence.stop();
    watchdog.stop();
    failure = QString::fromLatin1(lostText);
    lastFailure.start();
    std::optional<Pending> lost = std::move(running);
    running.reset();
    QPointer<RadioLink> alive(this);
    if (lost) {
        lost->reply(errorEnvelope(failure));
    }
    if (alive) {
        answerAll(errorEnvelope(failure));
    }
}

void RadioLink::readAnswers()
{
    if (!process) {
        return;
    }
    frames.append(process->readAllStandardOutput());
    QPointer<RadioLink> alive(this);
    while (running) {
        const std::optional<QVariant> answer = frames.next();
        if (!answer) {
            break;
        }
        silence.stop();
        watchdog.stop();
        silent = false;
        Pending done = std::move(*running);
        running.reset();
        if (done.request.value(QStringLiteral("op")) == QLatin1String("open")
            && answer->toMap().contains(QStringLiteral("info"))) {
            opened = true;
        }
        done.reply(*answer);
        if (!alive || !process) {
            return;
        }
        if (abandoned) {
            idle();
            return;
        }
        pump();
    }
    if (frames.broken()) {
        LOG("Rig {}: unreadable answer from its host: ending it\n", port);
        process->kill();
    }
}

void RadioLink::forwardLog()
{
    if (!process) {
        return;
    }
    // The host's lines are whole log lines already: they join this process's log as they are.
    for (const QByteArray& line : logLines.append(process->readAllStandardError())) {
        writeLogLine(line);
    }
}

void RadioLink::fallSilent()
{
    silent = true;
    // Each would wait as long: told now what the radio is doing, without reaching it.
    std::deque<Pending> all;
    all.swap(waiting);
    std::deque<Pending> kept;
    QPointer<RadioLink> alive(this);
    for (Pending& pending : all) {
        if (pending.kind != Kind::page) {
            kept.push_back(std::move(pending));
            continue;
        }
        pending.reply(errorEnvelope(QString::fromLatin1(silentText)));
        if (!alive) {
            return;
        }
    }
    waiting.insert(waiting.begin(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
    // A disconnect waits for no silent radio.
    if (closed && process) {
        process->kill();
    }
}

void RadioLink::hostEnded(int exitCode, QProcess::ExitStatus exitStatus)
{
    forwardLog();
    writeLogLine(logLines.rest());
    silence.stop();
    watchdog.stop();
    process->deleteLater();
    process = nullptr;
    opened = false;
    const bool wasSilent = silent;
    silent = false;
    if (!abandoned) {
        LOG("Rig {}: its host ended: {}\n",
            port,
            exitStatus == QProcess::CrashExit ? QStringLiteral("killed by a signal")
                                              : QStringLiteral("exit status %1").arg(exitCode));
    }
    const bool reading = running && running->kind == Kind::read;
    QPointer<RadioLink> alive(this);
    if (running) {
        Pending lost = std::move(*running);
        running.reset();
        lost.reply(errorEnvelope(QString::fromLatin1(wasSilent ? silentText : lostText)));
    }
    if (!alive) {
        return;
    }
    if (abandoned) {
        idle();
        deleteLater();
        return;
    }
    // A read in flight told the subscribers itself.
    if (!reading) {
        emit lostWhileIdle();
    }
    pump();
}

void RadioLink::answerAll(const QVariant& answer)
{
    std::deque<Pending> all;
    all.swap(waiting);
    QPointer<RadioLink> alive(this);
    for (Pending& pending : all) {
        pending.reply(answer);
        if (!alive) {
            return;
        }
    }
}

void RadioLink::close(const QVariant& answer, const std::function<void()>& done)
{
    abandoned = true;
    std::deque<Pending> queued;
    queued.swap(waiting);
    QPointer<RadioLink> alive(this);
    // What had not reached the radio is not done: answered first, in order. Reads and releases are dropped: the
    // host releases PTT itself before it closes the radio.
    for (Pending& pending : queued) {
        if (pending.kind == Kind::page) {
            pending.reply(answer);
            if (!alive) {
                return;
            }
        }
    }
    closed = done;
    if (!process) {
        idle();
        deleteLater();
    } else if (!running) {
        idle();
    } else if (silent) {
        process->kill();
    }
}

void RadioLink::idle()
{
    if (!abandoned) {
        return;
    }
    if (closed) {
        const std::function<void()> done = std::move(closed);
        closed = nullptr;
        done();
    }
    if (process && process->state() != QProcess::NotRunning) {
        // Idle, it releases PTT and closes the radio as a disconnect should; a radio that does not answer holds
        // it up for its time-out at most.
        process->closeWriteChannel();
        QTimer::singleShot(3000, this, [this] {
            if (process) {
                process->kill();
            }
        });
    }
}

void RadioLink::abandon()
{
    abandoned = true;
    closed = nullptr;
    waiting.clear();
    if (!process) {
        deleteLater();
        return;
    }
    process->kill();
}

void RadioLink::endAll(const QList<RadioLink*>& links, int withinMs)
{
    QElapsedTimer clock;
    clock.start();
    // Nobody is answered any more; each host finishes what it is doing, releases PTT if Orvessa keyed it, closes
    // its radio and ends, its log lines still forwarded.
    for (RadioLink* link : links) {
        link->abandoned = true;
        link->closed = nullptr;
        link->waiting.clear();
        link->running.reset();
        link->silence.stop();
        link->watchdog.stop();
        if (link->process) {
            disconnect(link->process, &QProcess::readyReadStandardOutput, link, nullptr);
            disconnect(link->process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), link, nullptr);
            link->process->closeWriteChannel();
        }
    }
    for (RadioLink* link : links) {
        if (link->process) {
            link->process->waitForFinished(int(qMax<qint64>(0, withinMs - clock.elapsed())));
        }
    }
    for (RadioLink* link : links) {
        if (link->process && link->process->state() != QProcess::NotRunning) {
            link->process->kill();
            link->process->waitForFinished(200);
        }
        if (link->process) {
            link->forwardLog();
            writeLogLine(link->logLines.rest());
        }
    }
}
