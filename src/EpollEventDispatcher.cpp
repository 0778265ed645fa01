#include "EpollEventDispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

namespace {

qint64 nowMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject* parent)
    : QAbstractEventDispatcher(parent)
    , epoll(epoll_create1(EPOLL_CLOEXEC))
    , wakeEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    epoll_event event {};
    event.events = EPOLLIN;
    event.data.fd = wakeEvent;
    epoll_ctl(epoll, EPOLL_CTL_ADD, wakeEvent, &event);
}

EpollEventDispatcher::~EpollEventDispatcher()
{
    ::close(wakeEvent);
    ::close(epoll);
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    interrupted = false;
    emit awake();
    // Cleared before the posted events are sent: one posted after that wakes the wait below.
    woken = false;
    QCoreApplication::sendPostedEvents();
    if (interrupted) {
        return true;
    }

    qint64 timeout = (flags & QEventLoop::WaitForMoreEvents) ? timeUntilNextTimer() : 0;
    if (timeout != 0) {
        emit aboutToBlock();
    }
    epoll_event ready[256];
    int count = epoll_wait(epoll, ready, 256, int(std::min<qint64>(timeout, INT_MAX)));
    if (count < 0) {
        count = 0;
    }
    if (timeout != 0) {
        emit awake();
    }

    bool handled = false;
    for (int i = 0; i < count; ++i) {
        const int descriptor = ready[i].data.fd;
        const uint32_t events = ready[i].events;
        if (descriptor == wakeEvent) {
            eventfd_t drained;
            eventfd_read(wakeEvent, &drained);
            continue;
        }
        if (flags & QEventLoop::ExcludeSocketNotifiers) {
            continue;
        }
        // As Qt's own loops do: a hang-up or an error wakes readers (and an error writers) to find out.
        if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
            activate(descriptor, &Watch::read);
        }
        if (events & (EPOLLOUT | EPOLLERR)) {
            activate(descriptor, &Watch::write);
        }
        if (events & EPOLLPRI) {
            activate(descriptor, &Watch::exception);
        }
        handled = true;
    }
    if (!(flags & QEventLoop::X11ExcludeTimers)) {
        handled = fireTimers() || handled;
    }
    return handled;
}

void EpollEventDispatcher::activate(int descriptor, QSocketNotifier* Watch::*kind)
{
    // Looked up again for each: an earlier notifier's slot may have closed or replaced this one.
    const auto found = watches.constFind(descriptor);
    if (found != watches.cend() && (*found).*kind) {
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent((*found).*kind, &event);
    }
}

bool EpollEventDispatcher::hasPendingEvents()
{
    return false;
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier)
{
    Watch& watch = watches[int(notifier->socket())];
    switch (notifier->type()) {
    case QSocketNotifier::Read:
        watch.read = notifier;
        break;
    case QSocketNotifier::Write:
        watch.write = notifier;
        break;
    case QSocketNotifier::Exception:
        watch.exception = notifier;
        break;
    }
    updateInterest(int(notifier->socket()));
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier)
{
    const int descriptor = int(notifier->socket());
    const auto found = watches.find(descriptor);
    if (found == watches.end()) {
        return;
    }
    for (QSocketNotifier* Watch::*kind : {&Watch::read, &Watch::write, &Watch::exception}) {
        if ((*found).*kind == notifier) {
            (*found).*kind = nullptr;
        }
    }
    updateInterest(descriptor);
}

void EpollEventDispatcher::updateInterest(int descriptor)
{
    const auto found = watches.find(descriptor);
    epoll_event event {};
    event.data.fd = descriptor;
    event.events = (found->read ? uint32_t(EPOLLIN) : 0) | (found->write ? uint32_t(EPOLLOUT) : 0)
        | (found->exception ? uint32_t(EPOLLPRI) : 0);
    if (event.events == 0) {
        watches.erase(found);
        // The descriptor may be closed already, which took it out of the set.
        epoll_ctl(epoll, EPOLL_CTL_DEL, descriptor, &event);
        return;
    }
    if (epoll_ctl(epoll, EPOLL_CTL_MOD, descriptor, &event) != 0 && errno == ENOENT) {
        epoll_ctl(epoll, EPOLL_CTL_ADD, descriptor, &event);
    }
}

void EpollEventDispatcher::registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject* object)
{
    timers.push_back({timerId, interval, timerType, object, nowMs() + interval, false});
}

bool EpollEventDispatcher::unregisterTimer(int timerId)
{
    const auto found
        = std::find_if(timers.begin(), timers.end(), [timerId](const Timer& timer) { return timer.id == timerId; });
    if (found == timers.end()) {
        return false;
    }
    timers.erase(found);
    return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject* object)
{
    const auto kept
        = std::remove_if(timers.begin(), timers.end(), [object](const Timer& timer) { return timer.object == object; });
    const bool any = kept != timers.end();
    timers.erase(kept, timers.end());
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(QObject* object) const
{
    QList<TimerInfo> found;
    for (const Timer& timer : timers) {
        if (timer.object == object) {
            found.append(TimerInfo(timer.id, timer.interval, timer.type));
        }
    }
    return found;
}

int EpollEventDispatcher::remainingTime(int timerId)
{
    for (const Timer& timer : timers) {
        if (timer.id == timerId) {
            return int(std::max<qint64>(0, timer.deadline - nowMs()));
        }
    }
    return -1;
}

qint64 EpollEventDispatcher::timeUntilNextTimer() const
{
    qint64 wait = -1;
    const qint64 now = nowMs();
    for (const Timer& timer : timers) {
        if (!timer.firing) {
            const qint64 left = std::max<qint64>(0, timer.deadline - now);
            wait = wait < 0 ? left : std::min(wait, left);
        }
    }
    return wait;
}

bool EpollEventDispatcher::fireTimers()
{
    const qint64 now = nowMs();
    std::vector<int> due;
    for (const Timer& timer : timers) {
        if (!timer.firing && timer.deadline <= now) {
            due.push_back(timer.id);
        }
    }
    for (const int id : due) {
        // A timer's slot may stop or start timers, this one included.
        auto timer = std::find_if(timers.begin(), timers.end(), [id](const Timer& t) { return t.id == id; });
        if (timer == timers.end()) {
            continue;
        }
        // Late ticks do not pile up: past due, the next one is a whole interval from now.
        timer->deadline += timer->interval;
        if (timer->deadline < now) {
            timer->deadline = now + timer->interval;
        }
        timer->firing = true;
        QObject* const object = timer->object;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
        timer = std::find_if(timers.begin(), timers.end(), [id](const Timer& t) { return t.id == id; });
        if (timer != timers.end()) {
            timer->firing = false;
        }
    }
    return !due.empty();
}

void EpollEventDispatcher::wakeUp()
{
    if (!woken.exchange(true)) {
        eventfd_write(wakeEvent, 1);
    }
}

void EpollEventDispatcher::interrupt()
{
    interrupted = true;
    wakeUp();
}

void EpollEventDispatcher::flush() { }
