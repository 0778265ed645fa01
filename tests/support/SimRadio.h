// The simulated radio the tests drive: orvessa-rigsim (a Yaesu FT-991 on a pseudo-terminal) in a child process,
// switched off and on through its console, with every command it receives.
#pragma once

#include "ProgramRun.h"

class SimRadio : public ProgramRun
{
    Q_OBJECT

public:
    static constexpr int modelId = 1035;

    // Starts the radio, with a symbolic link to it at link if given; false when it has no pseudo-terminal.
    bool start(const QString& link = {});
    void setAnswering(bool on) { process.write(on ? "answer\n" : "silent\n"); }
    // The commands received since the last clear, oldest first, each with its ';'.
    QStringList commands();
    void clearCommands() { errors.clear(); }
    // The radio hosts (orvessa-radio processes) that have this radio's port open.
    QList<int> hosts() const;

    QString port;
};
