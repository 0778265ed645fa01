// The bench's result table: one row per measurement, Orvessa beside the baseline, each judged against its target.
// Used in the bench's thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

class Report
{
public:
    enum class Goal {
        None,
        RatioAtMost, // Orvessa / baseline
        RatioAtLeast,
        AtMost, // Orvessa's own value
        AtLeast,
        AtMostBaselinePlus, // Orvessa within `limit` above the baseline
    };

    // A baseline of nullopt is a measurement of Orvessa alone; NaN stands for a measurement that failed.
    void add(const QString& cell, double orvessa, std::optional<double> baseline, Goal goal, double limit = 0);
    // The Markdown table, preceded by the machine line.
    QByteArray markdown() const;

    // CPU model, cores, kernel, Qt and Hamlib versions, date.
    static QString machine();

private:
    struct Row
    {
        QString cell;
        double orvessa;
        std::optional<double> baseline;
        Goal goal;
        double limit;
    };

    QVector<Row> rows;
};
