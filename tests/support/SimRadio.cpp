#include "SimRadio.h"

#include <QTest>

bool SimRadio::start()
{
    ProgramRun::start(QStringLiteral(ORVESSA_RIGSIM), {QStringLiteral("-v")});
    port = waitForLine(QRegularExpression(QStringLiteral("^/dev/")));
    return !port.isEmpty();
}

QStringList SimRadio::commands()
{
    QTest::qWait(0);
    QStringList received = QString::fromLatin1(errors).split(QLatin1Char('\n'));
    received.removeLast();
    return received;
}
