// orvex-flame: a trace-event file (JSON) as an SVG flame chart.
//
// The chart: time runs across, from the earliest event's start to the
// latest end; each thread has a lane group (a heading line, then one row per
// nesting depth, outermost first); each complete event ("ph":"X") is a box
// with its label clipped to the box and its name and duration as a tooltip;
// an axis at the top marks the time from the first event. The same input
// always gives the same bytes.
//
// Geometry, in SVG user units, for a chart `width` wide:
//   x(t)   = kSide + (t - start) * (width - 2 * kSide) / span   (t in us)
//            span = end - start, at least kShortestSpan (1 when it is 0)
//   box    = x(ts), width dur * (width - 2 * kSide) / span, height kBoxHeight
//   y      = the lane's top + kLaneHeading + depth * kRowHeight
// with the lanes from kChartTop down, each kLaneHeading + rows * kRowHeight
// + kLaneGap high, in the order the threads first appear in the file.
#ifndef ORVEX_TOOLS_ORVEXFLAME_FLAMECHART_H
#define ORVEX_TOOLS_ORVEXFLAME_FLAMECHART_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace OrvexFlame {

constexpr double kSide = 10;
constexpr double kChartTop = 48;
constexpr double kLaneHeading = 18;
constexpr double kRowHeight = 18;
constexpr double kBoxHeight = 16;
constexpr double kLaneGap = 8;
constexpr double kDefaultWidth = 1200;
constexpr double kShortestSpan = 1e-6; // microseconds

struct FlameEvent {
    std::string name;
    double begin = 0;    // microseconds, as in the file
    double duration = 0; // microseconds
    unsigned depth = 0;  // from the nesting of the thread's events
};

struct FlameThread {
    std::int64_t id = 0;
    std::string name; // from the thread-name metadata; empty without one
    unsigned rows = 0;
    std::vector<FlameEvent> events; // by begin, an enclosing event first
};

struct FlameTrace {
    std::vector<FlameThread> threads;
    double start = 0; // earliest begin
    double end = 0;   // latest end
    std::size_t eventCount = 0;
    bool droppedKnown = false; // "otherData" tells the dropped events
    double dropped = 0;
};

// The complete events and thread names of a trace-event file (an object with
// "traceEvents", or a bare array of events), each thread's events nested by
// their times. False with `error` set ("offset N: what", N the offending
// value's byte offset) when the text is not such a file: not JSON, a complete
// event without a numeric "ts" or "dur", a time, an end or the span of all
// events beyond a double's range (a number such as 1e999), a "tid" no 64-bit
// integer holds. Every time of an accepted trace, and its span, is finite.
bool ReadTrace(const std::string& json, FlameTrace& trace, std::string& error);

// The chart as SVG text.
std::string RenderSvg(const FlameTrace& trace, double width);

// The command: orvex-flame INPUT.json OUTPUT.svg [--width=N]; "-" as OUTPUT
// writes to `out`. Returns the exit status (0, 1 for a failed input or
// output, 2 for a wrong command line); one error line on `err`.
int RunFlameTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace OrvexFlame

#endif // ORVEX_TOOLS_ORVEXFLAME_FLAMECHART_H
