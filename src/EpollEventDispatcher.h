// The event loop of the thread that serves the clients, on Linux's epoll. Qt's own loops ask the kernel about
// every socket at every turn; with thousands of clients each turn cost tens of milliseconds. Here a turn costs
// what is ready. Installed on that thread before it starts; lives and works there.
#pragma once

#include <QAbstractEventDispatcher>
#include <QHash>

#include <atomic>
#include <vector>

class EpollEventDispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT

public:
    explicit EpollEventDispatcher(QObject* parent = nullptr);
    ~EpollEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;
    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;
    void registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;
    // From any thread.
    void wakeUp() override;
    void interrupt() override;
    void flush() override;

private:
    struct Watch
    {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
    };
    struct Timer
    {
        int id;
        int interval;
        Qt::TimerType type;
        QObject* object;
        qint64 deadline;
        bool firing;
    };

    void updateInterest(int descriptor);
    void activate(int descriptor, QSocketNotifier* Watch::*kind);
    bool fireTimers();
    qint64 timeUntilNextTimer() const;

    int epoll = -1;
    // Written by other threads to wake this one, once until it has woken.
    int wakeEvent = -1;
    std::atomic<bool> woken {false};
    std::atomic<bool> interrupted {false};
    QHash<int, Watch> watches;
    std::vector<Timer> timers;
};
