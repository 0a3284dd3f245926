// The trace-event file read into threads of nested events.
#include "FlameChart.h"
#include "FlameJson.h"

#include <algorithm>
#include <map>

namespace OrvexFlame {

namespace {

double NumberOr(const JsonValue* value, double fallback) {
    return value != nullptr && value->type == JsonValue::Number ? value->number : fallback;
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
        const auto tid = static_cast<std::int64_t>(NumberOr(event.Find("tid"), 0));
        if (phase->text == "M" && name != nullptr && name->text == "thread_name") {
            const JsonValue* args = event.Find("args");
            const JsonValue* threadName = args != nullptr ? args->Find("name") : nullptr;
            if (threadName != nullptr && threadName->type == JsonValue::String) {
                ThreadOf(trace, index, tid).name = threadName->text;
            }
            continue;
        }
        if (phase->text != "X") {
            continue;
        }
        const JsonValue* ts = event.Find("ts");
        if (ts == nullptr || ts->type != JsonValue::Number) {
            error = "a complete event without a numeric \"ts\"";
            return false;
        }
        ThreadOf(trace, index, tid);
        const JsonValue* args = event.Find("args");
        Pending item;
        item.event.name = name != nullptr && name->type == JsonValue::String ? name->text : "";
        item.event.begin = ts->number;
        item.event.duration = std::max(0.0, NumberOr(event.Find("dur"), 0));
        item.fileDepth = NumberOr(args != nullptr ? args->Find("depth") : nullptr, 0);
        item.order = order++;
        pending[tid].push_back(std::move(item));
    }
    bool first = true;
    for (FlameThread& thread : trace.threads) {
        for (const Pending& item : pending[thread.id]) {
            const double end = item.event.begin + item.event.duration;
            trace.start = first ? item.event.begin : std::min(trace.start, item.event.begin);
            trace.end = first ? end : std::max(trace.end, end);
            first = false;
        }
        trace.eventCount += pending[thread.id].size();
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
        trace.droppedKnown = true;
        trace.dropped = dropped->number;
    }
    return ReadEvents(*events, trace, error);
}

} // namespace OrvexFlame
