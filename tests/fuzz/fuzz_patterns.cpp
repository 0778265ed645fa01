// Markers and a datagram from the input: the chosen list is the one asked for, the marker reported is the first
// that really occurs, and the relayed text decodes back to the datagram and is written as Qt writes it.
#include "FuzzCheck.h"
#include "relay/UdpMulticast.h"
#include "server/jcon/JsonRpcValue.h"

#include <QJsonDocument>

#include <algorithm>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool given = input.ConsumeBool();
    QStringList markers;
    for (int count = input.ConsumeIntegralInRange(0, 4); count > 0; --count) {
        markers.append(QString::fromStdString(input.ConsumeRandomLengthString(16)));
    }
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray datagram(rest.data(), int(rest.size()));

    QStringList chosen;
    const auto choice = UdpMulticast::choosePatterns(given ? QVariant(markers) : QVariant(), chosen);
    require(chosen == (given ? markers : defaultPatterns), "the markers asked for, or the defaults");
    require((choice == UdpMulticast::PatternChoice::NoFilters) == (given && markers.isEmpty()),
            "an empty list, and only that, takes every datagram");

    int first = -1;
    for (int i = 0; i < chosen.size() && first < 0; ++i) {
        const QByteArray marker = chosen.at(i).toUtf8();
        // An empty marker occurs everywhere, in an empty datagram too.
        if (marker.isEmpty()
            || std::search(datagram.begin(), datagram.end(), marker.begin(), marker.end()) != datagram.end()) {
            first = i;
        }
    }
    require(UdpMulticast::firstMatchingPattern(chosen, datagram) == first, "the first marker that occurs");

    const QVariantMap qso = UdpMulticast::qsoPayload(datagram);
    const auto decoded = QByteArray::fromBase64Encoding(qso.value(QStringLiteral("UDPData")).toByteArray(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    require(decoded && *decoded == datagram, "the Base64 text decodes to the datagram");
    // Qt writes an empty byte array as null, the writer as "": a known difference, left out so the rest is searched.
    if (!datagram.isEmpty()) {
        QByteArray written;
        jcon::writeJson(qso, 0, written);
        written += '\n';
        const QByteArray qt = QJsonDocument::fromVariant(qso).toJson();
        require(written == qt, "the relayed map is written as Qt writes it", written, qt);
    }
    return 0;
}
