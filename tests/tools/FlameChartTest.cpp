// orvex-flame: charts of recordings made with chosen times, read back with an
// independent XML reader and checked box by box against the events; labels
// that would break the markup; nesting from times alone; the command's exits.
#include "FlameChart.h"

#include "OrvexCommon/diag/OrvexProfile.h"
#include "OrvexCommon/diag/detail/ProfileRecorder.h"
#include "OrvexCommon/platform/OrvexSys.h"
#include "OrvexCommon/time/detail/ClockState.h"

#include "MiniJson.h"
#include "MiniXml.h"
#include "OrvexScratch.h"
#include "ProfileRecordSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Orvex;
using detail::ProfileTrace;
using detail::TraceKind;
using OrvexTest::Json;
using OrvexTest::XmlElement;

constexpr std::int64_t kOrigin = 9000000000;

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

CProfile* ProcessWide(const char* label) {
    return OrvexTest::ProcessWideProfile(label, "FlameChartTest.cpp");
}

sys::ClockReading At(std::int64_t ns) {
    return OrvexTest::ClockAt(kOrigin, ns);
}

// Sections begin (true) and end at the times given, in this order.
struct Step {
    const char* label;
    TraceKind kind;
    bool begin;
    std::int64_t time;
};

void Play(const std::vector<Step>& script) {
    for (const Step& step : script) {
        if (step.begin) {
            ProfileTrace::Begin(*ProcessWide(step.label), step.kind, At(step.time));
        } else {
            ProfileTrace::End(*ProcessWide(step.label), step.kind, At(step.time));
        }
    }
}

// A box as the chart drew it.
struct Box {
    double x, y, width;
    unsigned depth;
    std::string title, label;
};

// The lanes of a chart, by thread id, in document order.
std::vector<std::pair<std::string, std::vector<Box>>> Lanes(const XmlElement& svg) {
    std::vector<std::pair<std::string, std::vector<Box>>> lanes;
    for (const XmlElement& group : svg.children) {
        if (group.name != "g" || group.attributes.count("data-tid") == 0) {
            continue;
        }
        lanes.emplace_back(group.attributes.at("data-tid"), std::vector<Box>());
        for (const XmlElement& event : group.children) {
            if (event.name != "g") {
                continue;
            }
            Box box{0,  0, 0, static_cast<unsigned>(std::stoul(event.attributes.at("data-depth"))),
                    "", ""};
            for (const XmlElement& part : event.children) {
                if (part.name == "rect") {
                    box.x = std::stod(part.attributes.at("x"));
                    box.y = std::stod(part.attributes.at("y"));
                    box.width = std::stod(part.attributes.at("width"));
                } else if (part.name == "title") {
                    box.title = part.text;
                } else if (part.name == "svg") {
                    box.label = part.children.at(0).text;
                    EXPECT_EQ(std::stod(part.attributes.at("x")), box.x);
                    EXPECT_EQ(std::stod(part.attributes.at("width")), box.width);
                }
            }
            lanes.back().second.push_back(box);
        }
    }
    return lanes;
}

// Every box of the chart against the recording's events: x and width from
// the times, y from the depth the recorder gave, lanes in the file's order.
void ExpectBoxesMatch(const Json& trace, const XmlElement& svg, double width) {
    std::map<std::string, std::vector<const Json*>> byThread;
    std::vector<std::string> order;
    double start = 1e300, end = -1e300;
    for (const Json& event : trace["traceEvents"].items) {
        if (event["ph"].text != "X") {
            continue;
        }
        const std::string tid = event["tid"].text;
        if (byThread.count(tid) == 0) {
            order.push_back(tid);
        }
        byThread[tid].push_back(&event);
        start = std::min(start, event["ts"].number);
        end = std::max(end, event["ts"].number + event["dur"].number);
    }
    const double scale = (width - 2 * OrvexFlame::kSide) / (end - start);
    const auto lanes = Lanes(svg);
    ASSERT_EQ(lanes.size(), order.size());
    double top = OrvexFlame::kChartTop;
    for (std::size_t lane = 0; lane < lanes.size(); ++lane) {
        EXPECT_EQ(lanes[lane].first, order[lane]);
        const std::vector<const Json*>& events = byThread[order[lane]];
        const std::vector<Box>& boxes = lanes[lane].second;
        ASSERT_EQ(boxes.size(), events.size());
        unsigned rows = 0;
        for (std::size_t k = 0; k < boxes.size(); ++k) {
            const Json& event = *events[k];
            const unsigned depth = static_cast<unsigned>(event["args"]["depth"].number);
            rows = std::max(rows, depth + 1);
            EXPECT_EQ(boxes[k].depth, depth) << k;
            EXPECT_NEAR(boxes[k].x, OrvexFlame::kSide + (event["ts"].number - start) * scale,
                        0.0011);
            EXPECT_NEAR(boxes[k].width, event["dur"].number * scale, 0.0011);
            EXPECT_NEAR(boxes[k].y, top + OrvexFlame::kLaneHeading + depth * OrvexFlame::kRowHeight,
                        0.0011);
            EXPECT_EQ(boxes[k].title.rfind(event["name"].text + " (", 0), 0u) << boxes[k].title;
            if (!boxes[k].label.empty()) {
                EXPECT_EQ(boxes[k].label, event["name"].text);
            }
        }
        top += OrvexFlame::kLaneHeading + rows * OrvexFlame::kRowHeight + OrvexFlame::kLaneGap;
    }
}

TEST(FlameChart, ARecordingOfTwoThreadsIsDrawnBoxByBox) {
    static const char frame[] = "flame: frame";
    static const char update[] = "flame: update";
    static const char work[] = "flame: work & <more>";
    static const char job[] = "flame: job";
    static const char step[] = "flame: step";
    ASSERT_TRUE(detail::ProfileRecorder().Start(32, kOrigin));
    const TraceKind hit = TraceKind::Hit, block = TraceKind::Block;
    Play({{frame, hit, true, 0},
          {update, hit, true, 10000},
          {update, hit, false, 250000},
          {work, block, true, 300000},
          {work, block, false, 900000},
          {frame, hit, false, 1000000}});
    std::thread other([&] {
        SetProfileThreadName("flame worker");
        Play({{job, hit, true, 100000},
              {step, hit, true, 120000},
              {step, hit, false, 130000},
              {step, hit, true, 140000},
              {step, hit, false, 700000},
              {job, hit, false, 1500000}});
    });
    other.join();
    Play({{frame, hit, true, 1200000}, {frame, hit, false, 1300000}});
    StopProfileRecord();

    OrvexTest::ScratchPaths scratch;
    const std::filesystem::path json(scratch.Add(OrvexTest::UniqueName("flame-json")));
    const std::filesystem::path svgPath(scratch.Add(OrvexTest::UniqueName("flame-svg")));
    ASSERT_TRUE(SaveProfileRecord(json.wstring().c_str()));
    std::ostringstream out, err;
    ASSERT_EQ(
        OrvexFlame::RunFlameTool({json.u8string(), svgPath.u8string(), "--width=800"}, out, err), 0)
        << err.str();
    const std::string svgText = ReadText(svgPath);
    const XmlElement svg = OrvexTest::XmlReader::Parse(svgText);
    EXPECT_EQ(svg.name, "svg");
    EXPECT_EQ(svg.attributes.at("width"), "800.000");
    const Json trace = OrvexTest::JsonReader::Parse(ReadText(json));
    ExpectBoxesMatch(trace, svg, 800);
    const auto lanes = Lanes(svg);
    ASSERT_EQ(lanes.size(), 2u);
    EXPECT_EQ(lanes[0].first, std::to_string(sys::CurrentThreadId()));
    EXPECT_EQ(lanes[1].second.size(), 3u);
    // The same input, the same bytes.
    std::ostringstream again;
    ASSERT_EQ(OrvexFlame::RunFlameTool({json.u8string(), "-", "--width=800"}, again, err), 0);
    EXPECT_EQ(again.str(), svgText);
}

// Charts of hand-written files: depth from the times alone, and labels that
// would break the markup.
TEST(FlameChart, NestingComesFromTheTimesAndLabelsStayText) {
    const std::string json =
        "{\"traceEvents\":["
        "{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":1,\"tid\":5,\"args\":{\"name\":\"a<&>\"}},"
        "{\"name\":\"outer\",\"ph\":\"X\",\"ts\":0,\"dur\":100,\"pid\":1,\"tid\":5},"
        "{\"name\":\"x<y&\\\"z\\\"\",\"ph\":\"X\",\"ts\":10,\"dur\":10,\"pid\":1,\"tid\":5},"
        "{\"name\":\"ctl\\u0001\\u001f\",\"ph\":\"X\",\"ts\":20,\"dur\":10,\"pid\":1,\"tid\":5},"
        "{\"name\":\"bad \xff\xc0\",\"ph\":\"X\",\"ts\":25,\"dur\":1,\"pid\":1,\"tid\":5},"
        "{\"name\":\"next\",\"ph\":\"X\",\"ts\":100,\"dur\":10,\"pid\":1,\"tid\":5},"
        "{\"name\":\"begin\",\"ph\":\"B\",\"ts\":3,\"pid\":1,\"tid\":5}"
        "],\"otherData\":{\"droppedEvents\":4}}";
    OrvexFlame::FlameTrace trace;
    std::string error;
    ASSERT_TRUE(OrvexFlame::ReadTrace(json, trace, error)) << error;
    const std::string svgText = OrvexFlame::RenderSvg(trace, 1000);
    const XmlElement svg = OrvexTest::XmlReader::Parse(svgText);
    const auto lanes = Lanes(svg);
    ASSERT_EQ(lanes.size(), 1u);
    const std::vector<Box>& boxes = lanes[0].second;
    const struct {
        unsigned depth;
        double begin, duration;
        const char* title;
    } expected[] = {
        {0, 0, 100, "outer ("},
        {1, 10, 10, "x<y&\"z\" ("},
        {1, 20, 10, "ctl\xEF\xBF\xBD\xEF\xBF\xBD ("},
        {2, 25, 1, "bad \xEF\xBF\xBD\xEF\xBF\xBD ("},
        {0, 100, 10, "next ("},
    };
    ASSERT_EQ(boxes.size(), std::size(expected));
    const double scale = (1000 - 2 * OrvexFlame::kSide) / 110.0;
    for (std::size_t k = 0; k < boxes.size(); ++k) {
        EXPECT_EQ(boxes[k].depth, expected[k].depth) << k;
        EXPECT_NEAR(boxes[k].x, OrvexFlame::kSide + expected[k].begin * scale, 0.0011) << k;
        EXPECT_NEAR(boxes[k].width, expected[k].duration * scale, 0.0011) << k;
        EXPECT_NEAR(boxes[k].y,
                    OrvexFlame::kChartTop + OrvexFlame::kLaneHeading +
                        expected[k].depth * OrvexFlame::kRowHeight,
                    0.0011)
            << k;
        EXPECT_EQ(boxes[k].title.rfind(expected[k].title, 0), 0u) << boxes[k].title;
    }
    EXPECT_NE(svgText.find("a&lt;&amp;&gt; (5)"), std::string::npos);
    EXPECT_NE(svgText.find("5 events, 1 threads, 110.000 us, 4 dropped"), std::string::npos);
}

// True when the text holds "nan" or "inf" in any case: what a non-finite
// number prints as.
bool HoldsNonFinite(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text.find("nan") != std::string::npos || text.find("inf") != std::string::npos;
}

TEST(FlameChart, TheCommandRefusesWhatItCannotDraw) {
    OrvexTest::ScratchPaths scratch;
    const std::filesystem::path input(scratch.Add(OrvexTest::UniqueName("flame-in")));
    const std::filesystem::path output(scratch.Add(OrvexTest::UniqueName("flame-out")));
    // An event "X" of thread 1 at `ts` lasting `dur` (both as written).
    const auto event = [](const char* ts, const char* dur) {
        return std::string("{\"name\":\"a\",\"ph\":\"X\",\"ts\":") + ts + ",\"dur\":" + dur +
               ",\"tid\":1}";
    };
    const std::string huge = event("1e999", "1"), low = event("-1e308", "0"),
                      high = event("1e308", "0"), far = event("1e308", "1e308"),
                      tiny = event("0", "1e-320");
    const struct {
        std::string content; // "(none)": no input file
        std::vector<std::string> extra;
        int status;
        std::string message; // part of the error line
        std::string at;      // the text at the offset the message names, when it names one
    } cases[] = {
        {"{\"traceEvents\":[]}", {}, 0, "", ""},
        {"[" + event("1", "2") + "]", {}, 0, "", ""},
        {"[" + tiny + "," + event("0", "0") + "]", {}, 0, "", ""},
        {"[" + event("-1e307", "0") + "," + event("1e307", "5") + "]", {}, 0, "", ""},
        {"{\"traceEvents\":[", {}, 1, "value expected", ""},
        {"{\"events\":[]}", {}, 1, "no \"traceEvents\" array", ""},
        {"{\"traceEvents\":[{\"ph\":\"X\",\"ts\":\"1\"}]}",
         {},
         1,
         "without a numeric \"ts\"",
         "{\"ph\""},
        {"{\"traceEvents\":[]} x", {}, 1, "text after the value", ""},
        {"[" + huge + "]", {}, 1, "\"ts\" is beyond a double's range", huge},
        {"[" + low + "," + high + "]", {}, 1, "the chart's span is beyond", high},
        {"[" + high + "," + low + "]", {}, 1, "the chart's span is beyond", low},
        {"[" + event("1", "2") + "," + far + "]", {}, 1, "the event's end", far},
        {"[" + event("1", "-1e999") + "]", {}, 1, "\"dur\" is beyond a double's range", "{"},
        {"[{\"ph\":\"X\",\"ts\":1,\"tid\":1}]", {}, 1, "without a numeric \"dur\"", "{"},
        {"[{\"ph\":\"X\",\"ts\":1,\"dur\":\"2\"}]", {}, 1, "without a numeric \"dur\"", "{"},
        {"[{\"ph\":\"X\",\"ts\":1,\"dur\":null}]", {}, 1, "without a numeric \"dur\"", "{"},
        {"[{\"ph\":\"X\",\"ts\":1,\"dur\":1,\"tid\":1e999}]", {}, 1, "\"tid\"", "{"},
        {"{\"traceEvents\":[],\"otherData\":{\"droppedEvents\":1e999}}",
         {},
         1,
         "droppedEvents",
         "1e999"},
        {"hello world", {}, 1, "not JSON: 'h' cannot start a value", "hello"},
        {"\xEF\xBB\xBF{\"traceEvents\":[]}", {}, 1, "byte-order mark", "\xEF"},
        {"\x01", {}, 1, "not JSON: byte 0x01 cannot start a value", "\x01"},
        {"(none)", {}, 1, "cannot read", ""},
        {"{\"traceEvents\":[]}", {"--width=5"}, 2, "--width takes", ""},
        {"{\"traceEvents\":[]}", {"--depth=3"}, 2, "unknown option --depth", ""},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.content);
        std::filesystem::remove(input);
        std::filesystem::remove(output);
        if (item.content != "(none)") {
            std::ofstream(input, std::ios::binary) << item.content;
        }
        std::vector<std::string> args = {input.u8string(), output.u8string()};
        args.insert(args.end(), item.extra.begin(), item.extra.end());
        std::ostringstream out, err;
        EXPECT_EQ(OrvexFlame::RunFlameTool(args, out, err), item.status) << err.str();
        if (item.status == 0) {
            const std::string svg = ReadText(output);
            EXPECT_NO_THROW(OrvexTest::XmlReader::Parse(svg));
            EXPECT_FALSE(HoldsNonFinite(svg)) << svg;
            continue;
        }
        EXPECT_FALSE(std::filesystem::exists(output));
        EXPECT_NE(err.str().find(item.message), std::string::npos) << err.str();
        if (item.status == 1) {
            EXPECT_EQ(err.str().rfind("orvex-flame: ", 0), 0u) << err.str();
        }
        if (!item.at.empty()) {
            const std::string offset =
                ": offset " + std::to_string(item.content.find(item.at)) + ": ";
            EXPECT_NE(err.str().find(offset), std::string::npos) << offset << " in " << err.str();
        }
    }
    std::ostringstream out, err;
    EXPECT_EQ(OrvexFlame::RunFlameTool({"one"}, out, err), 2);
    EXPECT_EQ(OrvexFlame::RunFlameTool({"--help"}, out, err), 0);
    EXPECT_NE(out.str().find("usage: orvex-flame"), std::string::npos);
}

} // namespace
