// A desktop program's bytes, cut where the input's first byte says, through the line cutter and the command reader:
// what is held stays bounded, a line never holds its end, and every command read gets an answer that ends its line.
#include "FuzzCheck.h"
#include "share/RigctlCommand.h"
#include "share/RigctlLines.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const QByteArray stream(reinterpret_cast<const char*>(data) + 1, int(size) - 1);
    const int longest = 1 + data[0];
    RigctlLines lines;
    for (int at = 0; at < stream.size() && !lines.overlong(); at += longest) {
        require(lines.room() > 0, "room to read while no line is overlong");
        lines.append(stream.mid(at, qMin(longest, lines.room())));
        while (const std::optional<QByteArray> line = lines.next()) {
            require(!line->contains('\n') && line->size() <= RigctlLines::maxLineBytes,
                    "a line is one bounded line",
                    *line);
            for (const bool vfoMode : {false, true}) {
                const RigctlCommand command = RigctlCommand::parse(*line, vfoMode);
                if (command.status == RigctlCommand::Status::Empty) {
                    continue;
                }
                const QByteArray failure = command.report(-1);
                require(failure.endsWith("RPRT -1\n"), "a failure ends with its code", failure);
                if (command.status == RigctlCommand::Status::Command) {
                    const QByteArray answer = command.answer({QStringLiteral("1"), QString::fromLatin1(*line)});
                    require(answer.endsWith('\n'), "an answer ends its line", answer);
                }
            }
        }
    }
    return 0;
}
