#include "MyFuture.h"

#include "app/Log.h"
#include "jcon/JsonRpcEndpoint.h"

#include <QVariantMap>
#include <QtConcurrent>

#include <atomic>
#include <exception>

namespace {

// A work that throws still gets an answer, in the error form every other failure of the service takes.
QVariant runGuarded(const std::function<QVariant()>& work)
{
    QString failure;
    try {
        return work();
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    } catch (...) {
        failure = QStringLiteral("unknown exception");
    }
    LOG("Future failed: {}\n", failure);
    return QVariantMap {{QStringLiteral("Error"), QStringLiteral("Internal error: %1").arg(failure)}};
}

} // namespace

MyFuture::UnstartedGuard::~UnstartedGuard()
{
    if (!started) {
        watcher->deleteLater();
    }
}

MyFuture::MyFuture(std::function<QVariant()> work_, QThreadPool* pool_)
    : pool(pool_ ? pool_ : QThreadPool::globalInstance())
    , work(std::move(work_))
    , watcher(new QFutureWatcher<QVariant>())
    , once(std::make_shared<std::once_flag>())
    , guard(std::make_shared<UnstartedGuard>(watcher))
{ }

MyFuture::MyFuture(QFuture<QVariant> running_)
    : running(std::move(running_))
    , watcher(new QFutureWatcher<QVariant>())
    , once(std::make_shared<std::once_flag>())
    , guard(std::make_shared<UnstartedGuard>(watcher))
{ }

MyFuture MyFuture::ready(const QVariant& value)
{
    QFutureInterface<QVariant> promise;
    promise.reportStarted();
    promise.reportResult(value);
    promise.reportFinished();
    return MyFuture(promise.future());
}

MyFuture MyFuture::answer(const std::function<void(const Reply&)>& body)
{
    struct Answer
    {
        QFutureInterface<QVariant> promise;
        std::optional<QVariant> atOnce;
        bool inside = true;
    };
    auto shared = std::make_shared<Answer>();
    shared->promise.reportStarted();
    body([shared](const QVariant& value) {
        if (shared->inside) {
            shared->atOnce = value;
            return;
        }
        shared->promise.reportResult(value);
        shared->promise.reportFinished();
    });
    shared->inside = false;
    if (shared->atOnce) {
        return ready(*shared->atOnce);
    }
    return MyFuture(shared->promise.future());
}

std::optional<QVariant> MyFuture::knownValue() const
{
    if (work || !once || !running.isFinished() || running.resultCount() == 0) {
        return std::nullopt;
    }
    return running.result();
}

void MyFuture::start(QObject* context,
                     jcon::JsonRpcEndpoint* endpoint,
                     std::function<void(QVariant)> onSuccess,
                     std::function<void()> onCancelled)
{
    if (!once) {
        return;
    }
    std::call_once(*once, [&] {
        guard->started = true;
        QFutureWatcher<QVariant>* const watched = watcher;
        // Each handler disables the other through these, whichever runs first.
        auto finishedHook = std::make_shared<QMetaObject::Connection>();
        auto disconnectHook = std::make_shared<QMetaObject::Connection>();
        // Work still queued when its client leaves is never begun: a client that queued much and left must
        // hold up neither other clients' work nor the end of the program.
        auto cancelled = std::make_shared<std::atomic<bool>>(false);

        *finishedHook
            = QObject::connect(watched, &QFutureWatcherBase::finished, context, [watched, disconnectHook, onSuccess] {
                  LOG("Future success\n");
                  watched->deleteLater();
                  QObject::disconnect(*disconnectHook);
                  onSuccess(watched->future().result());
              });
        if (endpoint) {
            *disconnectHook = QObject::connect(endpoint,
                                               &jcon::JsonRpcEndpoint::socketDisconnected,
                                               watched,
                                               [watched, finishedHook, onCancelled, cancelled] {
                                                   *cancelled = true;
                                                   LOG("Future cancelled\n");
                                                   watched->deleteLater();
                                                   QObject::disconnect(*finishedHook);
                                                   onCancelled();
                                               });
        }
        watched->setFuture(work ? QtConcurrent::run(
                               pool, [task = work, cancelled] { return *cancelled ? QVariant() : runGuarded(task); })
                                : running);
    });
}
