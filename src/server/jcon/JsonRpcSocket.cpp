#include "JsonRpcSocket.h"

namespace jcon {

JsonRpcSocket::JsonRpcSocket(QObject* parent)
    : QObject(parent)
{ }

JsonRpcSocket::~JsonRpcSocket() = default;

} // namespace jcon
