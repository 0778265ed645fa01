#include "Log.h"

#include <ctime>
#include <sstream>
#include <stdexcept>
#include <thread>

std::FILE* const logStream = stdout;

std::string timestampText(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    // A busy server logs many lines a second: each thread renders a second once.
    thread_local std::time_t renderedSecond = -1;
    thread_local std::string rendered;
    if (seconds == renderedSecond) {
        return rendered;
    }
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    rendered.assign(text, length);
    renderedSecond = seconds;
    return rendered;
}

std::string threadIdText()
{
    // Some threads log it for every batch of work: written out once per thread.
    thread_local const std::string text = [] {
        std::ostringstream id;
        id << "0x" << std::hex << std::this_thread::get_id();
        return id.str();
    }();
    return text;
}

namespace logdetail {

void writeLine(const std::string& line)
{
    // Flushed at once whatever standard output is: on a pipe or in the journal the C library would otherwise hold
    // lines back by the block, hiding them from whoever watches and losing the last ones in a crash or a kill.
    if (std::fwrite(line.data(), 1, line.size(), logStream) != line.size() || std::fflush(logStream) != 0) {
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
}
