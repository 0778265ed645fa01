// Environments for child processes of the tests: a private settings folder, a chosen Qt platform.
#pragma once

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>

namespace TestEnvironment {

// The program's environment with its settings and configuration under configHome, on the given platform.
QProcessEnvironment forOrvessa(const QString& configHome, const QString& platform = QStringLiteral("offscreen"));

// The first line of every run of the program.
QRegularExpression startLine();

// A port on 127.0.0.1 that nothing listens on right now (TCP) or nothing is bound to (UDP); 0 on failure.
quint16 freeTcpPort();
quint16 freeUdpPort();

} // namespace TestEnvironment
