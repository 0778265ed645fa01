#include "RigSimulator.h"

RigSimulator::RigSimulator(QObject* parent)
    : QObject(parent)
    , radio(new PtyRadio)
{
    thread.setObjectName(QStringLiteral("simulated radio"));
    radio->moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(
        radio,
        [this] {
            if (radio->open())
                port = radio->portName();
            else
                error = radio->errorString();
        },
        Qt::BlockingQueuedConnection);
}

RigSimulator::~RigSimulator()
{
    QMetaObject::invokeMethod(
        radio, [this] { delete radio; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

QList<QByteArray> RigSimulator::takeCommands()
{
    QList<QByteArray> commands;
    QMetaObject::invokeMethod(
        radio, [this, &commands] { commands = radio->takeReceived(); }, Qt::BlockingQueuedConnection);
    return commands;
}

void RigSimulator::setAnswering(bool on)
{
    QMetaObject::invokeMethod(
        radio, [this, on] { radio->setAnswering(on); }, Qt::BlockingQueuedConnection);
}

void RigSimulator::vanish()
{
    QMetaObject::invokeMethod(
        radio, [this] { radio->vanish(); }, Qt::BlockingQueuedConnection);
}

void RigSimulator::setSignal(int value)
{
    withRadio([value](Ft991Protocol& state) { state.setSignal(value); });
}

void RigSimulator::setAlc(int value)
{
    withRadio([value](Ft991Protocol& state) { state.setAlc(value); });
}
