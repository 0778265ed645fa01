// What the fuzz targets share: a failed property is a finding, reported with its name and the texts involved.
#pragma once

#include <QByteArray>

#include <cstdio>
#include <cstdlib>

inline void require(bool holds, const char* property, const QByteArray& got = {}, const QByteArray& wanted = {})
{
    if (!holds) {
        std::fprintf(stderr, "FAILED: %s\ngot:    %s\nwanted: %s\n", property, got.constData(), wanted.constData());
        std::abort();
    }
}
