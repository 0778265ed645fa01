// The process-wide diagnostic log: one line per call on standard output, from any thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <fmt/format.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

// Set to standard output before main() runs and never changed.
extern std::FILE* const logStream;

std::string timestampText(std::chrono::system_clock::time_point when);
std::string threadIdText();
void qtMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

namespace logdetail {
// Hands the whole line to the C library in one call and flushes it; throws when the write falls short.
void writeLine(const std::string& line);
void writeFormattingError(fmt::string_view format) noexcept;
} // namespace logdetail

template <>
struct fmt::formatter<QString> : fmt::formatter<fmt::string_view>
{
    template <typename FormatContext>
    auto format(const QString& text, FormatContext& context) const -> decltype(context.out())
    {
        const QByteArray utf8 = text.toUtf8();
        return fmt::formatter<fmt::string_view>::format(fmt::string_view(utf8.constData(), utf8.size()), context);
    }
};

template <typename... Args>
void logMessage(const char* function, int line, fmt::string_view format, const Args&... args) noexcept
{
    try {
        const std::string timestamp = timestampText(std::chrono::system_clock::now());
        const std::string message = fmt::vformat(format, fmt::make_format_args(args...));
        logdetail::writeLine(fmt::format("[{}][{}:{}]: {}", timestamp, function, line, message));
    } catch (const std::exception&) {
        logdetail::writeFormattingError(format);
    }
}

#define LOG(...) logMessage(__func__, __LINE__, __VA_ARGS__)
