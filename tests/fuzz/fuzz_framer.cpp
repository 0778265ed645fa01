// The framer fed the input in pieces cut where its first byte says: what it keeps stays bounded and can start an
// object, and a stream of well-formed objects (those it handed out, written again by Qt) comes out whole and the
// same however it is cut.
#include "FuzzCheck.h"
#include "server/jcon/JsonRpcFramer.h"

#include <QJsonDocument>

#include <cstdint>

using jcon::JsonRpcFramer;

namespace {

struct Cutter
{
    int longest;
    quint32 random;

    QVector<QJsonObject> feed(const QByteArray& stream)
    {
        JsonRpcFramer framer;
        QVector<QJsonObject> objects;
        for (int at = 0; at < stream.size();) {
            random = random * 1103515245u + 12345u;
            const int length = 1 + int((random >> 16) % quint32(longest));
            framer.append(stream.mid(at, length));
            while (std::optional<QJsonObject> object = framer.next()) {
                objects += *object;
            }
            const QByteArray& pending = framer.pending();
            require(pending.size() <= JsonRpcFramer::maxPendingBytes, "pending text stays bounded");
            require(pending.isEmpty() || pending.at(0) == '{', "pending text starts an object", pending);
            at += length;
        }
        return objects;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    Cutter cutter {1 + data[0], data[0]};
    // Garbage between objects is dropped differently depending on where messages end: only the cutting of a
    // clean stream is free to vary.
    const QVector<QJsonObject> objects
        = cutter.feed(QByteArray(reinterpret_cast<const char*>(data) + 1, int(size) - 1));
    QByteArray clean;
    for (const QJsonObject& object : objects) {
        clean += QJsonDocument(object).toJson(data[0] % 2 ? QJsonDocument::Compact : QJsonDocument::Indented);
    }
    require(cutter.feed(clean) == objects, "a clean stream gives its objects however it is cut", clean);
    return 0;
}
