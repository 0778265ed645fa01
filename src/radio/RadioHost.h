// One radio as its own process sees it: opens it with Hamlib and carries out Orvessa's requests on it, one at a
// time, each answered with the map the service hands to the page. Lives in the main thread of orvessa-radio.
#pragma once

#include "share/RigctlOps.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class KrRig;
class RigException;

class RadioHost
{
public:
    RadioHost();
    ~RadioHost();

    // A request {"op": ..., arguments...} and its answer.
    QVariant handle(const QVariantMap& request);
    // Closes the radio, if open, as a disconnect does: a transmitter this process keyed is released first.
    void close();

    // The PTT state a request asks for, a page's setPTT or a desktop program's set_ptt; none for any other request.
    static std::optional<int> pttWanted(const QVariantMap& request);
    // The answer to a setPTT or set_ptt reads the transmitter back as off.
    static bool readsPttOff(const QVariantMap& answer);

    // Hamlib's one-line text of a failure, without its saved trace.
    static QString failureText(const RigException& failure);

private:
    // One of the readings a status is made of.
    struct Reading
    {
        const char* key;
        // Frequency and mode are missing only when the model's capabilities say so.
        bool learnable = true;
        bool missing = false;
        // It has answered once on this connection: a failure from now on is a failed read.
        bool answered = false;
        // Failures in a row while the radio answered frequency and mode.
        int strikes = 0;
    };

    QVariantMap open(const QString& port, uint model, const QString& speed);
    QVariantMap status(KrRig& rig);
    QVariantMap control(const QVariantMap& request, KrRig& rig);
    // Runs work on the radio; a Hamlib failure becomes {"Error": one line}. A silent radio is asked with a short
    // time-out, and first whether it answers at all, until it does; one whose port vanished is reopened once the
    // port is back.
    QVariantMap use(const std::function<QVariantMap(KrRig&)>& work);
    void configure(KrRig& rig) const;
    // After each open: answers come from the radio, never from Hamlib's cache, and a request the radio does not
    // answer is not sent again.
    void settle(KrRig& rig);
    // Answers from the radio only: Hamlib's cache is told to keep nothing, and checked before each request.
    static void uncache(KrRig& rig);
    // The short time-out of a radio that has stopped answering; the model's own when that is shorter.
    QByteArray quietTimeout() const;
    void quieten(bool on);
    // One reading the radio has, to learn whether it answers; throws when it does not.
    void probe(KrRig& rig);
    // PTT off, with one log line saying why.
    QVariantMap release(const QString& why);
    // What the model cannot read, from Hamlib's capabilities: never asked for.
    void learnReadings();
    // Reads one value unless the radio lacks it; false when it does (the value stays 0). A reading Hamlib refuses
    // without a word to the radio is missing; another failure propagates.
    bool read(Reading& reading, const std::function<void()>& call);
    // A failure of a reading that never answered, the radio otherwise answering: true once it counts as missing.
    bool strike(Reading& reading);
    void markMissing(Reading& reading, const char* why);

    std::unique_ptr<KrRig> rig;
    QString port;
    QString speed;
    // The model's time-out, as Hamlib set it at the open: restored once a quiet radio answers again.
    QByteArray timeout;
    bool quiet = false;
    bool lost = false;
    // A setPTT that keys the transmitter went out and no release has followed.
    bool keyed = false;
    // Inside a run of failures: the long text has been logged once.
    bool failing = false;
    QString lastError;
    // The desktop programs' commands.
    RigctlOps rigctl;
    Reading freq {"freq", false};
    Reading mode {"mode", false};
    Reading ptt {"ptt"};
    Reading strength {"signal"};
    Reading alc {"signal"};
};
