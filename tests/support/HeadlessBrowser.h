// Debian's Chromium, headless, driven over its DevTools protocol through a WebSocket (test helper).
// Lives in the test's thread; every wait runs that thread's event loop, bounded in time.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebSocket>

class HeadlessBrowser : public QObject
{
    Q_OBJECT

public:
    explicit HeadlessBrowser(QObject* parent = nullptr);
    ~HeadlessBrowser() override;

    static QString executable();

    // Starts the browser on an empty profile with these switches besides the fixed headless ones;
    // true once its DevTools socket is open. problem() says why not.
    bool start(const QStringList& switches, int timeoutMs = 60000);
    // Sends a command (to a page when sessionId is given) and waits for its reply object, which holds
    // "result" or "error"; an empty object on time-out.
    QJsonObject command(const QString& method,
                        const QJsonObject& params = {},
                        const QString& sessionId = {},
                        int timeoutMs = 20000);
    // Opens a new tab, navigates it to url and waits for the load; the tab's session id, or empty.
    QString openPage(const QUrl& url, int timeoutMs = 30000);
    // Evaluates a script expression in the tab, awaiting it when it is a promise: the value, or
    // Undefined with problem() set.
    QJsonValue evaluate(const QString& sessionId, const QString& expression, int timeoutMs = 20000);
    // What the tab's console and the browser's log for it printed so far, one text per entry.
    QStringList logTexts(const QString& sessionId) const;
    // Asks the browser to close and waits for it; kills it when it does not.
    void stop();

    QString problem() const { return failure; }
    QByteArray standardError() const { return errors; }
    QString version() const { return product; }

private:
    void received(const QString& text);

    QProcess process;
    QWebSocket devtools;
    QTemporaryDir profile;
    QByteArray errors;
    QString failure;
    QString product;
    int nextId = 1;
    QHash<int, QJsonObject> replies;
    QList<QJsonObject> events;
};
