#include "Report.h"

#include <QDateTime>
#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <hamlib/rig.h>

#include <cmath>

namespace {

QString number(double value)
{
    if (std::isnan(value))
        return QStringLiteral("failed");
    if (std::isinf(value))
        return QStringLiteral("∞");
    const double size = std::fabs(value);
    if (value == std::round(value) && size < 1e12)
        return QString::number(qint64(value));
    return QString::number(value, 'f', size >= 100 ? 0 : size >= 10 ? 1 : size >= 1 ? 2 : 3);
}

QString targetText(Report::Goal goal, double limit)
{
    const QString bound = QString::number(limit);
    switch (goal) {
    case Report::Goal::None:
        return QString();
    case Report::Goal::RatioAtMost:
        return QStringLiteral("ratio ≤ ") + bound;
    case Report::Goal::RatioAtLeast:
        return QStringLiteral("ratio ≥ ") + bound;
    case Report::Goal::AtMost:
        return QStringLiteral("≤ ") + bound;
    case Report::Goal::AtLeast:
        return QStringLiteral("≥ ") + bound;
    case Report::Goal::AtMostBaselinePlus:
        return QStringLiteral("≤ baseline + ") + bound;
    }
    return QString();
}

bool met(Report::Goal goal, double limit, double orvessa, double baseline, double ratio)
{
    switch (goal) {
    case Report::Goal::None:
        return true;
    case Report::Goal::RatioAtMost:
        return ratio <= limit;
    case Report::Goal::RatioAtLeast:
        return ratio >= limit;
    case Report::Goal::AtMost:
        return orvessa <= limit;
    case Report::Goal::AtLeast:
        return orvessa >= limit;
    case Report::Goal::AtMostBaselinePlus:
        return orvessa <= baseline + limit;
    }
    return false;
}

} // namespace

void Report::add(const QString& cell, double orvessa, std::optional<double> baseline, Goal goal, double limit)
{
    rows.append({cell, orvessa, baseline, goal, limit});
}

QByteArray Report::markdown() const
{
    QString text = machine()
        + QStringLiteral("\n\n| cell | Orvessa | baseline | ratio | target | met |\n"
                         "|---|---:|---:|---:|---|---|\n");
    for (const Row& row : rows) {
        const double baseline = row.baseline.value_or(NAN);
        const double ratio = row.orvessa / baseline;
        // NaN fails every comparison: a failed measurement never meets its target.
        const bool judged = row.goal != Goal::None;
        text += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |\n")
                    .arg(row.cell,
                         number(row.orvessa),
                         row.baseline ? number(baseline) : QStringLiteral("—"),
                         std::isfinite(ratio) ? QString::number(ratio, 'f', 2) : QStringLiteral("—"),
                         judged ? targetText(row.goal, row.limit) : QStringLiteral("—"),
                         judged ? (met(row.goal, row.limit, row.orvessa, baseline, ratio) ? QStringLiteral("yes")
                                                                                          : QStringLiteral("no"))
                                : QStringLiteral("—"));
    }
    return text.toUtf8();
}

QString Report::machine()
{
    QString cpu = QStringLiteral("unknown CPU");
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : cpuinfo.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
        }
    }
    return QStringLiteral("Machine: %1, %2 cores, Linux %3, Qt %4, %5, %6")
        .arg(cpu)
        .arg(QThread::idealThreadCount())
        .arg(QSysInfo::kernelVersion(), QString::fromLatin1(qVersion()), QString::fromUtf8(rig_version()))
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}
