#pragma once

#include <QtGlobal>

#include <algorithm>
#include <functional>
#include <limits>

// Receives how much of a long step is done, in percent (0 to 100); an empty sink means silence.
using ProgressSink = std::function<void(int percent)>;

// Turns a loop's position into percent reports for a ProgressSink: at most one report per
// percent, and between reports a single comparison per call, so that loops over millions of
// records can call update() on every iteration. Without a sink it never reports.
class ProgressReporter
{
public:
    ProgressReporter(const ProgressSink &sink, qint64 total)
        : sink_(sink ? &sink : nullptr)
        , total_(std::max<qint64>(total, 0))
    {
        report(0);
    }

    // `done` counts in the units of the total (records, bytes).
    void update(qint64 done)
    {
        if (done >= next_)
            report(done);
    }

    // Reports 100 percent (once).
    void finish() { report(total_); }

private:
    void report(qint64 done)
    {
        if (!sink_) {
            next_ = std::numeric_limits<qint64>::max();
            return;
        }
        const int percent =
            total_ > 0 ? int(std::clamp<qint64>(done, 0, total_) * 100 / total_) : 100;
        if (percent > last_) {
            last_ = percent;
            (*sink_)(percent);
        }
        // The first position of the next percent: ceil((percent + 1) * total / 100).
        next_ = percent >= 100 ? std::numeric_limits<qint64>::max()
                               : ((percent + 1) * total_ + 99) / 100;
    }

    const ProgressSink *sink_;
    qint64 total_;
    qint64 next_ = 0;
    int last_ = -1;
};
