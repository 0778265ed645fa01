// A deferred result: work that a service method hands to a thread pool, answered when it ends.
// Copies share one start; the answer runs in the thread of the context given to start().
#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QMetaType>
#include <QThreadPool>
#include <QVariant>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace jcon {
class JsonRpcEndpoint;
}

class MyFuture
{
public:
    // Only a placeholder for a method's return value; never started.
    MyFuture() = default;
    // A null pool means the global one.
    explicit MyFuture(std::function<QVariant()> work, QThreadPool* pool = nullptr);
    // A value that other work, already under way, is producing: start() only waits for it.
    explicit MyFuture(QFuture<QVariant> running);
    // A value known at once.
    static MyFuture ready(const QVariant& value);
    using Reply = std::function<void(const QVariant&)>;
    // Runs body with the way to answer: an answer given before body returns is known at once, in turn with the
    // requests around it; a later one when it comes.
    static MyFuture answer(const std::function<void(const Reply&)>& body);

    // The value when it is known already, so it can be answered without a wait; nothing when work is pending.
    std::optional<QVariant> knownValue() const;

    // Starts the work once across all copies. onSuccess gets its value in context's thread, unless the
    // endpoint disconnects first: then onCancelled runs instead and the value is dropped.
    void start(
        QObject* context,
        jcon::JsonRpcEndpoint* endpoint,
        std::function<void(QVariant)> onSuccess,
        std::function<void()> onCancelled = [] {});

    // The object that reports the end of the work; it lives in the constructing thread.
    QObject* watcherObject() const { return watcher; }

private:
    // Releases the watcher of a future that no copy ever started; a started one is released by its handlers.
    struct UnstartedGuard
    {
        explicit UnstartedGuard(QFutureWatcher<QVariant>* watcher_)
            : watcher(watcher_)
        { }
        ~UnstartedGuard();
        QFutureWatcher<QVariant>* watcher;
        bool started = false;
    };

    QThreadPool* pool = nullptr;
    std::function<QVariant()> work;
    QFuture<QVariant> running;
    QFutureWatcher<QVariant>* watcher = nullptr;
    std::shared_ptr<std::once_flag> once;
    std::shared_ptr<UnstartedGuard> guard;
};

Q_DECLARE_METATYPE(MyFuture)
