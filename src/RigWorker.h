// Every connected radio and every Hamlib call made on one: lives in the radio thread, which the rig service owns.
// Hamlib keeps process-wide scratch state (its saved debug messages, the text behind rigerror) that its calls
// write without a lock, so all radios share this one thread; a radio that stops answering is left waiting a
// short time per call, so the others keep their pace.
#pragma once

#include "Mailbox.h"

#include <QObject>
#include <QVariant>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class KrRig;

class RigWorker : public QObject
{
    Q_OBJECT

signals:
    // Results wait in takeResults(); emitted in the radio thread.
    void resultsReady();

public:
    using Work = std::function<QVariant(RigWorker&)>;
    using Result = std::pair<quint64, QVariant>;

    explicit RigWorker(QObject* parent = nullptr);
    ~RigWorker() override;

    // From the service's thread: runs work in the radio thread after all work posted before it.
    void post(quint64 ticket, Work work);
    // In the service's thread: the results of finished work with their tickets, oldest first.
    std::vector<Result> takeResults() { return results.takeAll(); }

    // The rest runs in the radio thread only.

    // Configures and opens a radio of the model on the port and proves that it answers. The description of
    // listConnectedRigs on success, an empty map on failure (the reason is logged).
    QVariantMap open(const QString& port, uint model, const QString& speed);
    // Hamlib's own failure text of the radio's last failed call becomes {"Error": text}. A radio that stopped
    // answering is asked again with a short wait; one whose port vanished is reopened once the port is back.
    QVariantMap use(const QString& port, const std::function<QVariantMap(KrRig&)>& work);
    void close(const QString& port);

private slots:
    void runRequests();

private:
    struct Radio
    {
        std::unique_ptr<KrRig> rig;
        QString speed;
        // What the model asks for: restored once a quiet radio answers again.
        QByteArray timeout;
        QByteArray retry;
        bool quiet = false;
        bool lost = false;
        QString lastError;
    };

    static void configure(KrRig& rig, const QString& port, const QString& speed);
    void quieten(Radio& radio, bool on);

    std::map<QString, Radio> radios;
    Mailbox<std::pair<quint64, Work>> requests;
    Mailbox<Result> results;
};
