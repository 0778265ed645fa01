// The lines a radio's process writes to its standard error, cut from the stream as it arrives: what waits for its
// line break is bounded, and no byte is looked at twice. Pure logic, used in the service's thread.
#pragma once

#include <QByteArray>
#include <QList>

class RadioLogLines
{
public:
    // A line longer than this is cut there, with a note, and the rest of it dropped.
    static constexpr int maxLine = 4096;

    // The lines that bytes complete, each ending in '\n'.
    QList<QByteArray> append(const QByteArray& bytes);
    // What is left when the stream ends, as a last line; empty when nothing is.
    QByteArray rest();

private:
    QByteArray pending;
    // Inside a line already cut: bytes are dropped until its end.
    bool cutting = false;
};
