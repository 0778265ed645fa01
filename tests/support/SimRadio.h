// The simulated radio the tests drive: orvessa-rigsim (a Yaesu FT-991, a Kenwood TS-480 or an Icom IC-7300 on a
// pseudo-terminal) in a child process, switched off and on through its console, with every command it receives.
#pragma once

#include "ProgramRun.h"

class SimRadio : public ProgramRun
{
    Q_OBJECT

public:
    // The FT-991's.
    static constexpr int modelId = 1035;

    // Starts the radio Hamlib knows by that model number, with a symbolic link to it at link if given; false when
    // it has no pseudo-terminal or does not play that model.
    bool start(const QString& link = {}, int hamlibModel = modelId);
    void setAnswering(bool on) { say(on ? "answer" : "silent"); }
    // One line on the radio's console: its fault switches ("ignore FA", "refuse MD0 1 N;", "slow 100", "obey").
    void say(const QByteArray& line) { process.write(line + '\n'); }
    // The commands received since the last clear, oldest first, as the radio prints them: text commands with their
    // ';', Icom frames in hexadecimal ("FE FE 94 E0 03 FD").
    QStringList commands();
    void clearCommands() { errors.clear(); }
    // The radio hosts (orvessa-radio processes) that have this radio's port open.
    QList<int> hosts() const;

    QString port;
    // The model it plays, once started.
    int model = modelId;
};
