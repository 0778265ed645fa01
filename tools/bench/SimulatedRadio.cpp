#include "SimulatedRadio.h"

#include "PtyRadio.h"

#include <cstdio>

SimulatedRadio::SimulatedRadio()
    : radio(new PtyRadio)
{
    radio->moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(
        radio,
        [this] {
            if (radio->open())
                port = radio->portName();
            else
                std::fprintf(stderr, "simulated radio: %s\n", qPrintable(radio->errorString()));
        },
        Qt::BlockingQueuedConnection);
}

SimulatedRadio::~SimulatedRadio()
{
    QMetaObject::invokeMethod(
        radio, [this] { delete radio; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

int SimulatedRadio::commandCount() const
{
    return radio->commandCount();
}

void SimulatedRadio::setAnswering(bool on)
{
    QMetaObject::invokeMethod(
        radio, [this, on] { radio->setAnswering(on); }, Qt::BlockingQueuedConnection);
}
