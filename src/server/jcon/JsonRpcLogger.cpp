#include "JsonRpcLogger.h"

namespace jcon {

JsonRpcLogger::~JsonRpcLogger() = default;

} // namespace jcon
