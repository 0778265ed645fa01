#include "Samples.h"

#include <algorithm>
#include <cmath>
#include <limits>

double Samples::percentile(double p) const
{
    if (values.isEmpty())
        return std::numeric_limits<double>::quiet_NaN();
    QVector<double> sorted = values;
    const int rank = std::clamp(int(std::ceil(p / 100 * sorted.size())) - 1, 0, sorted.size() - 1);
    std::nth_element(sorted.begin(), sorted.begin() + rank, sorted.end());
    return sorted.at(rank);
}
