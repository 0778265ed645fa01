// One radio's own process, orvessa-radio, as the registry sees it: starts it, opens the radio in it, hands it the
// radio's requests one at a time in the order they came, tells when it stops answering, starts a fresh one when it
// dies or hangs, and ends it. Lives in the service's thread, which it never makes wait for the process.
#pragma once

#include "RadioFrames.h"
#include "RadioLogLines.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTimer>
#include <QVariant>

#include <deque>
#include <functional>
#include <optional>

class RadioLink : public QObject
{
    Q_OBJECT

signals:
    // The host ended without being asked to (a crash, a kill) while nothing was being read from the radio.
    void lostWhileIdle();
    // The first open is over, failed or not: a link waiting to know who has the device may look again.
    void openSettled();

public:
    using Reply = std::function<void(const QVariant&)>;

    // Requests of pages waiting for one radio; past this many, more are refused at once.
    static constexpr int maxWaiting = 256;
    // A request under way this long: the radio, or its process, does not answer. Longer than any request takes
    // on a radio that answers, short enough for a page to hear of a silent one within seconds.
    static constexpr int silentAfterMs = 3000;
    // A request under way this long: the process is stuck, and a fresh one takes its place. Longer than a request
    // on a silent radio keeps Hamlib (under 20 s with Hamlib 4.6 and the FT-991's time-out).
    static constexpr int stuckAfterMs = 20000;
    // A request frame past this is refused here rather than sent: the process would take it for a broken stream.
    static constexpr int maxRequestBytes = int(RadioFrames::maxFrameBytes);

    RadioLink(const QString& port, QObject* parent = nullptr);
    ~RadioLink() override;

    // orvessa-radio next to the running program, unless set otherwise (the tests run from elsewhere).
    static QString program();
    static void setProgram(const QString& path);

    // Finds the device the port names and opens the radio on it. The answer holds "info" once it is open, "heldBy"
    // with the port text of the radio that has the device, or the error; when another port is still opening the
    // same device, it comes once that open is over. A host started later, after one died, opens it the same way
    // before its first request.
    void open(uint model, const QString& speed, Reply reply);
    // A page's request: false, with nothing queued, when too many wait already. While the radio is silent it is
    // answered at once with the silence, without reaching the radio.
    bool ask(const QVariantMap& request, Reply reply);
    // A request no bound refuses and no silence answers early (a release of PTT): it waits its turn.
    void insist(const QVariantMap& request, Reply reply);
    // A status read for the subscribers; not counted against the bound, dropped on disconnect.
    void read(Reply reply);
    // True while the request under way has gone unanswered for silentAfterMs.
    bool isSilent() const { return silent; }
    // The radio was opened in a host at least once.
    bool isConnected() const { return !reopen.isEmpty(); }
    // A disconnect: page requests still waiting get answer, reads are dropped; the one under way finishes and gets
    // its own answer (the host is ended once it is silent); then the host releases PTT if Orvessa keyed it, closes
    // the radio and ends. done runs once nothing is under way any more. The link deletes itself once the host is
    // gone.
    void close(const QVariant& answer, const std::function<void()>& done);
    // An open given up: the host is ended at once, whatever it is doing; nothing more is answered.
    void abandon();

    // Ends the hosts within the time given, killing those that do not end by themselves; waits for them.
    static void endAll(const QList<RadioLink*>& links, int withinMs);

    QString port;
    // The device the port names, links resolved, once known: held until the host has gone.
    QString device;

private:
    enum class Kind {
        page,
        read,
        // Requests of the link itself and releases: neither bounded nor answered early.
        own,
    };
    struct Pending
    {
        QVariantMap request;
        Reply reply;
        Kind kind = Kind::page;
    };

    // The device is known: opened unless another link has it; one that is closing or opening is waited for.
    void claim(const QVariant& found, uint model, const QString& speed, const Reply& reply);
    void queue(Pending pending);
    void pump();
    bool startHost();
    // A host that cannot be started: what waits gets its reason, and it is tried again after a moment.
    void failToStart(const QString& why);
    void readAnswers();
    void forwardLog();
    void hostEnded(int exitCode, QProcess::ExitStatus exitStatus);
    void fallSilent();
    // The host has nothing under way any more: a close waiting for that goes on.
    void idle();
    // Answers what waits with this, when no host can serve it.
    void answerAll(const QVariant& answer);
    int pageRequests() const;

    QProcess* process = nullptr;
    RadioFrames frames;
    RadioLogLines logLines;
    std::deque<Pending> waiting;
    std::optional<Pending> running;
    // How to open the radio again in a fresh host; empty until the first open succeeded.
    QVariantMap reopen;
    bool opened = false;
    bool abandoned = false;
    bool silent = false;
    // A close waits for the request under way.
    std::function<void()> closed;
    // A host that could not start or open the radio is not tried again for a moment: requests get its reason.
    QElapsedTimer lastFailure;
    QString failure;
    QTimer silence;
    QTimer watchdog;
};
