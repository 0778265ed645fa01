// One radio's own process, orvessa-radio, as the registry sees it: starts it, opens the radio in it, hands it the
// radio's requests one at a time in the order they came, starts a fresh one when it dies, and ends it. Lives in the
// service's thread, which it never makes wait for the process.
#pragma once

#include "RadioFrames.h"

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

public:
    using Reply = std::function<void(const QVariant&)>;

    // Requests of pages waiting for one radio; past this many, more are refused at once.
    static constexpr int maxWaiting = 256;

    RadioLink(const QString& port, QObject* parent = nullptr);
    ~RadioLink() override;

    // orvessa-radio next to the running program, unless set otherwise (the tests run from elsewhere).
    static QString program();
    static void setProgram(const QString& path);

    // Finds the device the port names and opens the radio on it. The answer holds "info" once it is open, "heldBy"
    // with the port text of the radio that holds the device already, or the error. A host started later, after one
    // died, opens it the same way before its first request.
    void open(uint model, const QString& speed, Reply reply);
    // A page's request: false, with nothing queued, when too many wait already.
    bool ask(const QVariantMap& request, Reply reply);
    // A status read for the subscribers; not counted against the bound, dropped on disconnect.
    void read(Reply reply);
    // Every page request still waiting or running gets this answer, reads are dropped, and the host ends: at
    // once when it is inside a request, after closing the radio otherwise. The link deletes itself once the
    // host is gone.
    void abandon(const QVariant& answer);

    // Ends the hosts within the time given, killing those that do not end by themselves; waits for them.
    static void endAll(const QList<RadioLink*>& links, int withinMs);

    QString port;
    // The device the port names, links resolved, once known: held until the host has gone.
    QString device;

private:
    struct Pending
    {
        QVariantMap request;
        Reply reply;
        // A status read, or a page's request.
        bool read = false;
    };

    // The device is known: opened unless another link holds it; one that is closing is waited for.
    void claim(const QVariant& found, uint model, const QString& speed, const Reply& reply);
    void queue(Pending pending);
    void pump();
    bool startHost();
    void readAnswers();
    void forwardLog(bool all);
    void hostEnded(int exitCode, QProcess::ExitStatus exitStatus);
    // Answers what waits with this, when no host can serve it.
    void answerAll(const QVariant& answer);
    int pageRequests() const;

    QProcess* process = nullptr;
    RadioFrames frames;
    QByteArray logPending;
    std::deque<Pending> waiting;
    std::optional<Pending> running;
    // How to open the radio again in a fresh host; empty until the first open succeeded.
    QVariantMap reopen;
    bool opened = false;
    bool abandoned = false;
    bool refusing = false;
    // A host that could not start or open the radio is not tried again for a moment: requests get its reason.
    QElapsedTimer lastFailure;
    QString failure;
    // A request the radio never finishes: the host is ended, as a dead one.
    QTimer watchdog;
};
