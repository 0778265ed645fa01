#include "SimRadio.h"

#include <QTest>

bool SimRadio::start(const QString& link, int hamlibModel)
{
    model = hamlibModel;
    QStringList arguments {QStringLiteral("-v"), QStringLiteral("--model"), QString::number(hamlibModel)};
    if (!link.isEmpty()) {
        arguments << QStringLiteral("--link") << link;
    }
    ProgramRun::start(QStringLiteral(ORVESSA_RIGSIM), arguments);
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
