#include "RadioLink.h"

#include "app/Log.h"
#include "server/Envelope.h"

#include <QCoreApplication>
#include <QPointer>

namespace {

QString& programOverride()
{
    static QString path;
    return path;
}

// What a page is told when the radio's host is gone: to it, the radio stopped answering on its port.
const char* const lostText = "IO error";

} // namespace

RadioLink::RadioLink(const QString& port_, QObject* parent)
    : QObject(parent)
    , port(port_)
{
    // Far past any time-out and retries of Hamlib's: the host is stuck, not waiting for the radio.
    watchdog.setSingleShot(true);
    watchdog.setInterval(60000);
    connect(&watchdog, &QTimer::timeout, this, [this] {
        LOG("Rig {}: its host has not answered for a minute: ending it\n", port);
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
    queue(
        {{{QStringLiteral("op"), QStringLiteral("resolve")}, {QStringLiteral("port"), port}},
         [this, model, speed, reply = std::move(reply)](const QVariant& found) { claim(found, model, speed, reply); }});
}

void RadioLink::claim(const QVariant& found, uint model, const QString& speed, const Reply& reply)
{
    if (found.type() != QVariant::String || abandoned) {
        reply(found.type() != QVariant::String ? found : errorEnvelope(QStringLiteral("Rig not connected")));
        return;
    }
    const QString wanted = found.toString();
    // The same device under another name (a link to it, a "../" form) would get a second handle on one port, and
    // the two would talk across each other.
    for (RadioLink* other : parent()->findChildren<RadioLink*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (other == this || other->device != wanted) {
            continue;
        }
        if (other->abandoned) {
            // A radio just disconnected on this device is still closing: a moment, at most a second.
            connect(other, &QObject::destroyed, this, [this, found, model, speed, reply] {
                claim(found, model, speed, reply);
            });
        } else {
            reply(QVariantMap {{QStringLiteral("heldBy"), other->port}});
        }
        return;
    }
    device = wanted;
    const QVariantMap request {{QStringLiteral("op"), QStringLiteral("open")},
                               {QStringLiteral("port"), port},
                               {QStringLiteral("model"), model},
                               {QStringLiteral("speed"), speed}};
    queue({request, [this, request, reply](const QVariant& answer) {
               if (answer.toMap().contains(QStringLiteral("info"))) {
                   reopen = request;
               }
               reply(answer);
           }});
}

int RadioLink::pageRequests() const
{
    return int(std::count_if(waiting.cbegin(), waiting.cend(), [](const Pending& pending) { return !pending.read; }));
}

bool RadioLink::ask(const QVariantMap& request, Reply reply)
{
    if (pageRequests() >= maxWaiting) {
        if (!refusing) {
            LOG("Rig {} busy: {} requests wait for it, refusing more\n", port, maxWaiting);
            refusing = true;
        }
        return false;
    }
    refusing = false;
    queue({request, std::move(reply)});
    return true;
}

void RadioLink::read(Reply reply)
{
    queue({{{QStringLiteral("op"), QStringLiteral("status")}}, std::move(reply), true});
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
                           true};
    } else {
        running = std::move(waiting.front());
        waiting.pop_front();
    }
    process->write(RadioFrames::encode(running->request));
    watchdog.start();
}

bool RadioLink::startHost()
{
    process = new QProcess(this);
    connect(process, &QProcess::readyReadStandardOutput, this, &RadioLink::readAnswers);
    connect(process, &QProcess::readyReadStandardError, this, [this] { forwardLog(false); });
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this, &RadioLink::hostEnded);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || !process) {
            return;
        }
        LOG("Cannot start {}: {}\n", program(), process->errorString());
        process->deleteLater();
        process = nullptr;
        failure = QString::fromLatin1(lostText);
        lastFailure.start();
        running.reset();
        answerAll(errorEnvelope(failure));
    });
    opened = false;
    frames = RadioFrames();
    process->start(program(), {QString::number(QCoreApplication::applicationPid())});
    return process != nullptr;
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
        watchdog.stop();
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
        pump();
    }
    if (frames.broken()) {
        LOG("Rig {}: unreadable answer from its host: ending it\n", port);
        process->kill();
    }
}

void RadioLink::forwardLog(bool all)
{
    if (process) {
        logPending += process->readAllStandardError();
    }
    // The host's lines are whole log lines already: they join this process's log as they are.
    for (int end; (end = logPending.indexOf('\n')) >= 0;) {
        try {
            logdetail::writeLine(logPending.left(end + 1).toStdString());
        } catch (const std::exception&) {
        }
        logPending.remove(0, end + 1);
    }
    if (all && !logPending.isEmpty()) {
        try {
            logdetail::writeLine(logPending.toStdString() + "\n");
        } catch (const std::exception&) {
        }
        logPending.clear();
    }
}

void RadioLink::hostEnded(int exitCode, QProcess::ExitStatus exitStatus)
{
    forwardLog(true);
    watchdog.stop();
    process->deleteLater();
    process = nullptr;
    opened = false;
    if (abandoned) {
        deleteLater();
        return;
    }
    LOG("Rig {}: its host ended: {}\n",
        port,
        exitStatus == QProcess::CrashExit ? QStringLiteral("killed by a signal")
                                          : QStringLiteral("exit status %1").arg(exitCode));
    const bool reading = running && running->read;
    QPointer<RadioLink> alive(this);
    if (running) {
        Pending lost = std::move(*running);
        running.reset();
        lost.reply(errorEnvelope(QString::fromLatin1(lostText)));
    }
    if (!alive) {
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

void RadioLink::abandon(const QVariant& answer)
{
    abandoned = true;
    watchdog.stop();
    std::optional<Pending> current = std::move(running);
    running.reset();
    std::deque<Pending> queued;
    queued.swap(waiting);
    if (current && !current->read) {
        current->reply(answer);
    }
    for (Pending& pending : queued) {
        if (!pending.read) {
            pending.reply(answer);
        }
    }
    if (!process) {
        deleteLater();
        return;
    }
    // Busy in Hamlib, it may stay there for seconds; idle, it closes the radio as a disconnect should.
    if (current) {
        process->kill();
    } else {
        process->closeWriteChannel();
    }
    QTimer::singleShot(1000, this, [this] {
        if (process) {
            process->kill();
        }
    });
}

void RadioLink::endAll(const QList<RadioLink*>& links, int withinMs)
{
    QElapsedTimer clock;
    clock.start();
    for (RadioLink* link : links) {
        link->abandoned = true;
        if (link->process) {
            link->running ? link->process->kill() : link->process->closeWriteChannel();
        }
    }
    for (RadioLink* link : links) {
        if (link->process) {
            link->process->waitForFinished(int(qMax<qint64>(0, withinMs - clock.elapsed())));
        }
    }
    for (RadioLink* link : links) {
        if (link->process) {
            link->process->kill();
            link->process->waitForFinished(200);
        }
    }
}
