// The trace-event file read into threads of nested events.
#include "FlameChart.h"
#include "FlameJson.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace OrvexFlame {

namespace {

double NumberOr(const JsonValue* value, double fallback) {
    return value != nullptr && value->type == JsonValue::Number ? value->number : fallback;
}

// Sets `error` to a message about the value at `at` and returns false.
bool Refuse(const JsonValue& at, const std::string& what, std::string& error) {
    error = "offset " + std::to_string(at.offset) + ": " + what;
    return false;
}

// The event's thread id: its "tid" (0 without one), which must be a number
// that a 64-bit integer holds.
bool ThreadIdOf(const JsonValue& event, std::int64_t& tid, std::string& error) {
    const double id = NumberOr(event.Find("tid"), 0);
    // 2^63: the first value above the 64-bit range, exact as a double.
    const double limit = 9223372036854775808.0;
    if (!(id >= -limit && id < limit)) {
        return Refuse(event, "the event's \"tid\" is no 64-bit thread id", error);
    }
    tid = static_cast<std::int64_t>(id);
    return true;
}

// The member `name` of a complete event, a finite number.
bool TimeOf(const JsonValue& event, const char* name, double& time, std::string& error) {
    const JsonValue* value = event.Find(name);
    if (value == nullptr || value->type != JsonValue::Number) {
        return Refuse(event,
                      std::string("a complete event (\"ph\":\"X\") without a numeric \"") + name +
                          "\"",
                      error);
    }
    if (!std::isfinite(value->number)) {
        return Refuse(event, std::string("the event's \"") + name + "\" is beyond a double's range",
                      error);
    }
    time = value->number;
    return true;
}

FlameThread& ThreadOf(FlameTrace& trace, std::map<std::int64_t, std::size_t>& index,
                      std::int64_t id) {
    const auto found = index.find(id);
    if (found != index.end()) {
        return trace.threads[found->second];
    }
    index.emplace(id, trace.threads.size());
    trace.threads.emplace_back();
    trace.threads.back().id = id;
    return trace.threads.back();
}

struct Pending {
    FlameEvent event;
    double fileDepth; // the producer's own depth, when it gives one: breaks ties
    std::size_t order;
};

// Depths from the times: an event lies inside every earlier one that has not
// ended when it begins.
void Nest(FlameThread& thread, std::vector<Pending>& pending) {
    std::stable_sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
        if (a.event.begin != b.event.begin) {
            return a.event.begin < b.event.begin;
        }
        if (a.event.duration != b.event.duration) {
            return a.event.duration > b.event.duration;
        }
        return a.fileDepth < b.fileDepth;
    });
    std::vector<double> openEnds;
    for (Pending& item : pending) {
        while (!openEnds.empty() && openEnds.back() <= item.event.begin) {
            openEnds.pop_back();
        }
        item.event.depth = static_cast<unsigned>(openEnds.size());
        openEnds.push_back(item.event.begin + item.event.duration);
        thread.rows = std::max(thread.rows, item.event.depth + 1);
        thread.events.push_back(std::move(item.event));
    }
}

// A complete event's times, refused unless its begin, its end and the span
// of the chart with it all stay finite.
bool ReadCompleteEvent(const JsonValue& event, FlameTrace& trace, Pending& item,
                       std::string& error) {
    double duration = 0;
    if (!TimeOf(event, "ts", item.event.begin, error) || !TimeOf(event, "dur", duration, error)) {
        return false;
    }
    item.event.duration = std::max(0.0, duration);
    const double end = item.event.begin + item.event.duration;
    if (!std::isfinite(end)) {
        return Refuse(event, "the event's end (\"ts\" + \"dur\") is beyond a double's range",
                      error);
    }
    const bool first = trace.eventCount == 0;
    const double start = first ? item.event.begin : std::min(trace.start, item.event.begin);
    const double last = first ? end : std::max(trace.end, end);
    if (!std::isfinite(last - start)) {
        return Refuse(event, "with this event the chart's span is beyond a double's range", error);
    }
    trace.start = start;
    trace.end = last;
    ++trace.eventCount;
    const JsonValue* name = event.Find("name");
    const JsonValue* args = event.Find("args");
    item.event.name = name != nullptr && name->type == JsonValue::String ? name->text : "";
    item.fileDepth = NumberOr(args != nullptr ? args->Find("depth") : nullptr, 0);
    return true;
}

bool ReadEvents(const JsonValue& events, FlameTrace& trace, std::string& error) {
    std::map<std::int64_t, std::size_t> index;
    std::map<std::int64_t, std::vector<Pending>> pending;
    std::size_t order = 0;
    for (const JsonValue& event : events.items) {
        const JsonValue* phase = event.Find("ph");
        const JsonValue* name = event.Find("name");
        if (event.type != JsonValue::Object || phase == nullptr ||
            phase->type != JsonValue::String) {
            continue; // not an event this chart draws
        }
        const bool threadName =
            phase->text == "M" && name != nullptr && name->text == "thread_name";
        if (!threadName && phase->text != "X") {
            continue;
        }
        std::int64_t tid = 0;
        if (!ThreadIdOf(event, tid, error)) {
            return false;
        }
        if (threadName) {
            const JsonValue* args = event.Find("args");
            const JsonValue* text = args != nullptr ? args->Find("name") : nullptr;
            if (text != nullptr && text->type == JsonValue::String) {
                ThreadOf(trace, index, tid).name = text->text;
            }
            continue;
        }
        Pending item;
        if (!ReadCompleteEvent(event, trace, item, error)) {
            return false;
        }
        ThreadOf(trace, index, tid);
        item.order = order++;
        pending[tid].push_back(std::move(item));
    }
    for (FlameThread& thread : trace.threads) {
        Nest(thread, pending[thread.id]);
    }
    return true;
}

} // namespace

bool ReadTrace(const std::string& json, FlameTrace& trace, std::string& error) {
    JsonValue root;
    if (!ParseJson(json, root, error)) {
        return false;
    }
    const JsonValue* events = root.type == JsonValue::Array ? &root : root.Find("traceEvents");
    if (events == nullptr || events->type != JsonValue::Array) {
        error = "no \"traceEvents\" array";
        return false;
    }
    const JsonValue* other = root.Find("otherData");
    const JsonValue* dropped = other != nullptr ? other->Find("droppedEvents") : nullptr;
    if (dropped != nullptr && dropped->type == JsonValue::Number) {
        if (!std::isfinite(dropped->number)) {
            return Refuse(*dropped, "\"droppedEvents\" is beyond a double's range", error);
        }
        trace.droppedKnown = true;
        trace.dropped = dropped->number;
    }
    return ReadEvents(*events, trace, error);
}

} // namespace OrvexFlame
