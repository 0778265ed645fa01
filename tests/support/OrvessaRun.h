// The real orvessa binary in a child process, with a private settings folder (test helper).
#pragma once

#include "LineProcess.h"

#include <QTemporaryDir>
#include <QVariant>

class OrvessaRun : public LineProcess
{
    Q_OBJECT

public:
    explicit OrvessaRun(QObject* parent = nullptr);

    // Stores a value under the server port key before the start; an invalid QVariant stores nothing.
    void storePort(const QVariant& port);
    // Runs this program file instead of the one built here (an installed copy).
    void setProgram(const QString& path) { program = path; }
    // Starts the program and waits until its server listens; returns the port, or 0.
    quint16 startListening(int timeoutMs = 20000);
    QString configHome() const { return config.path(); }
    // Index of the first line matching the pattern, or -1.
    int lineIndex(const QRegularExpression& pattern) const;

private:
    QTemporaryDir config;
    QString program = QStringLiteral(ORVESSA_BINARY);
};
