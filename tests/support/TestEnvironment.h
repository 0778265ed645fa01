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

} // namespace TestEnvironment
