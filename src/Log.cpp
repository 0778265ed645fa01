#include "Log.h"

#include <ctime>
#include <sstream>
#include <stdexcept>
#include <thread>

std::FILE* const logStream = stdout;

std::string timestampText(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::string threadIdText()
{
    std::ostringstream text;
    text << "0x" << std::hex << std::this_thread::get_id();
    return text.str();
}

namespace logdetail {

void writeLine(const std::string& line)
{
    if (std::fwrite(line.data(), 1, line.size(), logStream) != line.size()) {
        throw std::runtime_error("short write to the log");
    }
}

void writeFormattingError(fmt::string_view format) noexcept
{
    try {
        writeLine(fmt::format("ERROR FORMATTING: {}\n", format));
    } catch (...) {
        // Nowhere left to report it.
    }
}

} // namespace logdetail

void qtMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    static const QMessageLogContext fallback("Qt", 0, "QtLogs", "default");
    const QMessageLogContext& used = (context.file && context.function) ? context : fallback;

    const char* format = nullptr;
    switch (type) {
    case QtDebugMsg:
        format = "Debug: {}\n";
        break;
    case QtWarningMsg:
        format = "Warning: {}\n";
        break;
    case QtCriticalMsg:
        format = "Critical: {}\n";
        break;
    case QtFatalMsg:
        format = "Fatal: {}\n";
        break;
    case QtInfoMsg:
        format = "Info: {}\n";
        break;
    default:
        return;
    }
    logMessage(used.function, used.line, format, message);
    if (type == QtFatalMsg) {
        // Qt aborts right after this returns; without a flush a redirected log would lose its last line.
        std::fflush(logStream);
    }
}
