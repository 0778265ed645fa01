// Sharing: the connected radios served to this computer's desktop programs in Hamlib's network protocol.
// The ports on 127.0.0.1, one a radio while the operator has sharing on; lives in the service's thread.
#pragma once

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariant>

class RadioRegistry;
class RigctlPort;

class RadioShare : public QObject
{
    Q_OBJECT

signals:
    // Which radio is on which port, for the operator, in port-text order: "PORT TEXT (Brand Model): 127.0.0.1:4532".
    void sharedChanged(const QStringList& radios);

public:
    explicit RadioShare(RadioRegistry* radios, QObject* parent = nullptr);
    ~RadioShare() override;

    // The first port from the stored setting: a value outside the valid range means the default.
    static int firstPortFrom(const QVariant& stored);

    // Applies the operator's settings: nothing changes when they are the same; otherwise every desktop connection
    // closes and the radios are shared again, from the first port up, or no more.
    void configure(bool on, int firstPort);
    // listConnectedRigs's entries, each shared radio's with its port under "SharePort".
    QVariantList describe(QVariantList rigs) const;
    // Listens no more and ends every desktop connection; before the radios' processes end.
    void shutDown();

private:
    void opened(const QString& port, const QVariantMap& info);
    void closed(const QString& port);
    // Listens for the radio on the lowest free port from the first up, keeping it while the radio is connected.
    void share(const QString& port);
    void unshare(const QString& port);
    void tell();

    RadioRegistry* radios;
    bool on = false;
    int firstPort = 0;
    // Every connected radio, shared or not, described as listConnectedRigs does.
    QMap<QString, QVariantMap> connected;
    QMap<QString, RigctlPort*> listening;
};
