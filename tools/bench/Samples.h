// The values of one measurement and their percentiles. Used in the bench's thread.
#pragma once

#include <QVector>

class Samples
{
public:
    void add(double value) { values.append(value); }
    int count() const { return values.size(); }
    // Nearest rank, p in (0, 100]; NaN without values.
    double percentile(double p) const;
    double median() const { return percentile(50); }

private:
    QVector<double> values;
};
