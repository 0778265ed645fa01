// The commands of Hamlib's network protocol carried out on the radio, in the radio's own process: each answers what
// it reads in the protocol's text, or refuses with Hamlib's code before the radio is asked. Lives in orvessa-radio's
// main thread.
#pragma once

#include <QString>
#include <QVariantMap>

#include <hamlib/rig.h>

class KrRig;

class RigctlOps
{
public:
    // {"values": [texts]} once done: a read's values, none for a set. A refusal is {"Error": text, "rprt": code};
    // the radio's failures propagate as Hamlib's exceptions, for the host to count as the radio's and answer with
    // Hamlib's text. A set is done when the radio answers the read that follows it.
    QVariantMap run(const QVariantMap& request, KrRig& rig);

    // What the model can do, in the form of the protocol's capability dump: the same text for every program.
    static QString capabilities(KrRig& rig);

private:
    QString dumpState;
};
