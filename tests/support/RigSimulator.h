// A simulated Yaesu FT-991 for tests, served by a thread of its own so that the test's thread can block in
// Hamlib while the radio answers. Every method is called from the thread that created the simulator.
#pragma once

#include "PtyRadio.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <type_traits>

class RigSimulator : public QObject
{
    Q_OBJECT

public:
    static constexpr unsigned modelId = Ft991Protocol::modelId;

    // Opens the pseudo-terminal at once; check isOpen().
    explicit RigSimulator(QObject* parent = nullptr);
    ~RigSimulator() override;

    bool isOpen() const { return !port.isEmpty(); }
    // The path to hand to Hamlib as the port; it stays the same after vanish(), when nothing is there any more.
    QString portName() const { return port; }
    QString errorString() const { return error; }

    // Commands received since the last reset, counted as they arrive.
    int commandCount() const { return radio->commandCount(); }
    void resetCommandCount() { radio->resetCommandCount(); }
    // The commands received since the last call, oldest first, without their ';'.
    QList<QByteArray> takeCommands();

    // Fault switch: with answering off the radio keeps receiving and counting but says nothing.
    void setAnswering(bool on);
    // Unplugs the radio: the pseudo-terminal closes and its path disappears.
    void vanish();

    void setSignal(int value);
    void setAlc(int value);

    // Runs f on the radio's state in the radio's thread and returns its result.
    template <typename F>
    auto withRadio(F f) -> std::invoke_result_t<F, Ft991Protocol&>
    {
        using Result = std::invoke_result_t<F, Ft991Protocol&>;
        if constexpr (std::is_void_v<Result>) {
            QMetaObject::invokeMethod(
                radio, [this, &f] { f(radio->radio()); }, Qt::BlockingQueuedConnection);
        } else {
            Result result {};
            QMetaObject::invokeMethod(
                radio, [this, &f, &result] { result = f(radio->radio()); }, Qt::BlockingQueuedConnection);
            return result;
        }
    }

private:
    QThread thread;
    PtyRadio* radio;
    QString port;
    QString error;
};
