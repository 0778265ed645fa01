// One radio as its own process sees it: opens it with Hamlib and carries out Orvessa's requests on it, one at a
// time, each answered with the map the service hands to the page. Lives in the main thread of orvessa-radio.
#pragma once

#include "share/RigctlOps.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

class KrRig;
class RigException;

class RadioHost
{
public:
    RadioHost();
    ~RadioHost();

    // A request {"op": ..., arguments...} and its answer.
    QVariant handle(const QVariantMap& request);
    // Closes the radio, if open, as a disconnect does.
    void close();

    // Hamlib's one-line text of a failure, without its saved trace.
    static QString failureText(const RigException& failure);

private:
    // One of the readings a status is made of.
    struct Reading
    {
        const char* key;
        bool missing = false;
        // Failures in a row while the radio answered frequency and mode.
        int strikes = 0;
    };

    QVariantMap open(const QString& port, uint model, const QString& speed);
    QVariantMap status(KrRig& rig);
    QVariantMap control(const QVariantMap& request, KrRig& rig);
    // Runs work on the radio; a Hamlib failure becomes {"Error": one line}. A silent radio is asked with a short
    // time-out until it answers; one whose port vanished is reopened once the port is back.
    QVariantMap use(const std::function<QVariantMap(KrRig&)>& work);
    void configure(KrRig& rig) const;
    void quieten(bool on);
    // What the model cannot read, from Hamlib's capabilities: never asked for.
    void learnReadings();
    // Reads one value unless the radio lacks it; false when it does (the value stays 0). Hamlib's refusal of a
    // reading the model lacks marks it missing; another failure propagates.
    bool read(Reading& reading, const std::function<void()>& call);
    // A failure of a reading the model claims to have, the radio otherwise answering: true once it counts as missing.
    bool strike(Reading& reading);
    void markMissing(Reading& reading, const char* why);

    std::unique_ptr<KrRig> rig;
    QString port;
    QString speed;
    // What the model asks for: restored once a quiet radio answers again.
    QByteArray timeout;
    QByteArray retry;
    bool quiet = false;
    bool lost = false;
    // Inside a run of failures: the long text has been logged once.
    bool failing = false;
    QString lastError;
    // The desktop programs' commands.
    RigctlOps rigctl;
    Reading freq {"freq"};
    Reading mode {"mode"};
    Reading ptt {"ptt"};
    Reading strength {"signal"};
    Reading alc {"signal"};
};
