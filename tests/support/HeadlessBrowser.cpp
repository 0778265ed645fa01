#include "HeadlessBrowser.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

HeadlessBrowser::HeadlessBrowser(QObject* parent)
    : QObject(parent)
{
    process.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&process, &QProcess::readyReadStandardError, this, [this] { errors += process.readAllStandardError(); });
    connect(&devtools, &QWebSocket::textMessageReceived, this, &HeadlessBrowser::received);
}

HeadlessBrowser::~HeadlessBrowser()
{
    stop();
}

QString HeadlessBrowser::executable()
{
    const QString path = QStringLiteral("/usr/bin/chromium");
    return QFileInfo(path).isExecutable() ? path : QString();
}

bool HeadlessBrowser::start(const QStringList& switches, int timeoutMs)
{
    if (executable().isEmpty()) {
        failure = QStringLiteral("no /usr/bin/chromium");
        return false;
    }
    // The fixed switches keep the browser off every network but loopback and out of the machine's
    // own profile; a root user needs --no-sandbox.
    QStringList arguments {QStringLiteral("--headless"),
                           QStringLiteral("--no-sandbox"),
                           QStringLiteral("--disable-gpu"),
                           QStringLiteral("--disable-quic"),
                           QStringLiteral("--no-first-run"),
                           QStringLiteral("--no-default-browser-check"),
                           QStringLiteral("--disable-background-networking"),
                           QStringLiteral("--disable-component-update"),
                           QStringLiteral("--disable-sync"),
                           QStringLiteral("--disable-dev-shm-usage"),
                           QStringLiteral("--user-data-dir=") + profile.path(),
                           QStringLiteral("--remote-debugging-address=127.0.0.1"),
                           QStringLiteral("--remote-debugging-port=0")};
    arguments << switches << QStringLiteral("about:blank");
    // Certificate stores and caches that Chromium keeps beside the profile go into it too.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), profile.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), profile.path());
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), profile.path());
    process.setProcessEnvironment(environment);
    process.start(executable(), arguments);
    if (!process.waitForStarted(10000)) {
        failure = QStringLiteral("the browser does not start: ") + process.errorString();
        return false;
    }

    const QRegularExpression listening(QStringLiteral("DevTools listening on (ws://\\S+)"));
    QDeadlineTimer deadline(timeoutMs);
    QRegularExpressionMatch match;
    while (!(match = listening.match(QString::fromUtf8(errors))).hasMatch()) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            failure = QStringLiteral("the browser shows no DevTools address");
            return false;
        }
        QTest::qWait(20);
    }

    devtools.open(QUrl(match.captured(1)));
    while (devtools.state() != QAbstractSocket::ConnectedState) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            failure = QStringLiteral("the DevTools socket does not open: ") + devtools.errorString();
            return false;
        }
        QTest::qWait(20);
    }
    product = command(QStringLiteral("Browser.getVersion"))
                  .value(QStringLiteral("result"))[QStringLiteral("product")]
                  .toString();
    return true;
}

void HeadlessBrowser::received(const QString& text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (message.contains(QStringLiteral("id"))) {
        replies.insert(message.value(QStringLiteral("id")).toInt(), message);
    } else {
        events.append(message);
    }
}

QJsonObject
HeadlessBrowser::command(const QString& method, const QJsonObject& params, const QString& sessionId, int timeoutMs)
{
    const int id = nextId++;
    QJsonObject message {
        {QStringLiteral("id"), id}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}};
    if (!sessionId.isEmpty()) {
        message.insert(QStringLiteral("sessionId"), sessionId);
    }
    devtools.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    QDeadlineTimer deadline(timeoutMs);
    while (!replies.contains(id)) {
        if (deadline.hasExpired() || devtools.state() != QAbstractSocket::ConnectedState) {
            failure = method + QStringLiteral(": no reply");
            return {};
        }
        QTest::qWait(10);
    }
    const QJsonObject reply = replies.take(id);
    if (reply.contains(QStringLiteral("error"))) {
        failure = method + QStringLiteral(": ")
            + reply.value(QStringLiteral("error"))[QStringLiteral("message")].toString();
    }
    return reply;
}

QString HeadlessBrowser::openPage(const QUrl& url, int timeoutMs)
{
    const QString targetId
        = command(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), QStringLiteral("about:blank")}})
              .value(QStringLiteral("result"))[QStringLiteral("targetId")]
              .toString();
    if (targetId.isEmpty()) {
        return {};
    }
    const QString sessionId = command(QStringLiteral("Target.attachToTarget"),
                                      {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}})
                                  .value(QStringLiteral("result"))[QStringLiteral("sessionId")]
                                  .toString();
    if (sessionId.isEmpty()) {
        return {};
    }
    command(QStringLiteral("Page.enable"), {}, sessionId);
    command(QStringLiteral("Runtime.enable"), {}, sessionId);
    command(QStringLiteral("Log.enable"), {}, sessionId);

    const int seen = events.size();
    const QJsonObject navigated
        = command(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url.toString()}}, sessionId);
    const QString navigationError = navigated.value(QStringLiteral("result"))[QStringLiteral("errorText")].toString();
    if (navigated.isEmpty() || !navigationError.isEmpty()) {
        failure = QStringLiteral("navigation to ") + url.toString() + QStringLiteral(" failed: ") + navigationError;
        return {};
    }
    QDeadlineTimer deadline(timeoutMs);
    for (int at = seen;; ++at) {
        while (at >= events.size()) {
            if (deadline.hasExpired()) {
                failure = url.toString() + QStringLiteral(" does not finish loading");
                return {};
            }
            QTest::qWait(10);
        }
        const QJsonObject& event = events.at(at);
        if (event.value(QStringLiteral("sessionId")).toString() == sessionId
            && event.value(QStringLiteral("method")).toString() == QLatin1String("Page.loadEventFired")) {
            return sessionId;
        }
    }
}

QJsonValue HeadlessBrowser::evaluate(const QString& sessionId, const QString& expression, int timeoutMs)
{
    const QJsonObject reply = command(QStringLiteral("Runtime.evaluate"),
                                      {{QStringLiteral("expression"), expression},
                                       {QStringLiteral("awaitPromise"), true},
                                       {QStringLiteral("returnByValue"), true},
                                       {QStringLiteral("timeout"), timeoutMs}},
                                      sessionId,
                                      timeoutMs + 5000);
    const QJsonObject result = reply.value(QStringLiteral("result")).toObject();
    if (result.contains(QStringLiteral("exceptionDetails"))) {
        const QJsonObject details = result.value(QStringLiteral("exceptionDetails")).toObject();
        failure = expression + QStringLiteral(" threw: ")
            + details.value(QStringLiteral("exception"))[QStringLiteral("description")].toString(
                details.value(QStringLiteral("text")).toString());
        return QJsonValue::Undefined;
    }
    if (!result.contains(QStringLiteral("result"))) {
        return QJsonValue::Undefined;
    }
    return result.value(QStringLiteral("result"))[QStringLiteral("value")];
}

QStringList HeadlessBrowser::logTexts(const QString& sessionId) const
{
    QStringList texts;
    for (const QJsonObject& event : events) {
        if (event.value(QStringLiteral("sessionId")).toString() != sessionId) {
            continue;
        }
        const QString method = event.value(QStringLiteral("method")).toString();
        const QJsonObject params = event.value(QStringLiteral("params")).toObject();
        if (method == QLatin1String("Log.entryAdded")) {
            texts << params.value(QStringLiteral("entry"))[QStringLiteral("text")].toString();
        } else if (method == QLatin1String("Runtime.consoleAPICalled")) {
            QStringList parts;
            for (const QJsonValue& argument : params.value(QStringLiteral("args")).toArray()) {
                parts << argument[QStringLiteral("value")].toVariant().toString();
            }
            texts << parts.join(QLatin1Char(' '));
        }
    }
    return texts;
}

void HeadlessBrowser::stop()
{
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    if (devtools.state() == QAbstractSocket::ConnectedState) {
        command(QStringLiteral("Browser.close"), {}, {}, 5000);
    }
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    devtools.abort();
}
