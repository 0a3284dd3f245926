// The flame chart drawn as SVG.
#include "FlameChart.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace OrvexFlame {

namespace {

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.3f", value);
    return text;
}

// Length of the well-formed UTF-8 sequence at `text`, 0 for none.
std::size_t SequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t k) {
        return at + k < text.size() ? static_cast<unsigned char>(text[at + k]) : 0u;
    };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if ((byte(k) & 0xC0u) != 0x80u) {
            return 0;
        }
    }
    return length;
}

// Text for XML character data and attribute values: markup characters as
// entities, characters XML does not allow (controls, broken UTF-8) as U+FFFD.
std::string Escape(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (length == 0 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r')) {
            out += "\xEF\xBF\xBD";
            at += length == 0 ? 1 : length;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

// A warm colour from the label, the same for every box of one label.
std::string Colour(const std::string& name) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : name) {
        hash = (hash ^ c) * 16777619u;
    }
    char text[8];
    std::snprintf(text, sizeof(text), "#%02x%02x%02x", 205 + hash % 50, 80 + (hash >> 8) % 140,
                  40 + (hash >> 16) % 50);
    return text;
}

// Microseconds as the axis and tooltips show them.
std::string Duration(double microseconds) {
    char text[64];
    if (std::fabs(microseconds) >= 1000) {
        std::snprintf(text, sizeof(text), "%.3f ms", microseconds / 1000);
    } else {
        std::snprintf(text, sizeof(text), "%.3f us", microseconds);
    }
    return text;
}

// The span the scale divides by: the trace's, but at least a picosecond, so
// that the scale stays finite however close the times lie (1 for a trace of
// one instant).
double ScaleSpan(const FlameTrace& trace) {
    const double span = trace.end - trace.start;
    return span > 0 ? std::max(span, kShortestSpan) : 1;
}

struct Scale {
    double start;
    double perMicrosecond;
    double X(double time) const { return kSide + (time - start) * perMicrosecond; }
};

// An axis label: whole steps need no decimals.
std::string TickLabel(double microseconds, double step) {
    char text[64];
    if (step >= 1000) {
        std::snprintf(text, sizeof(text), "%g ms", microseconds / 1000);
    } else {
        std::snprintf(text, sizeof(text), "%g us", microseconds);
    }
    return text;
}

// Ticks 1, 2 or 5 times a power of ten apart, about ten across.
void Axis(std::string& svg, const FlameTrace& trace, const Scale& scale, double width) {
    const double span = trace.end - trace.start;
    const double raw = span > 0 ? span / 10 : 1;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= raw) {
            step = factor * power;
            break;
        }
    }
    svg += "<g class=\"axis\"><line x1=\"" + Number(kSide) + "\" y1=\"40\" x2=\"" +
           Number(width - kSide) + "\" y2=\"40\" stroke=\"#444\"/>\n";
    for (int k = 0; k * step <= span + step * 1e-9 && k <= 1000; ++k) {
        const double x = scale.X(trace.start + k * step);
        svg += "<line x1=\"" + Number(x) + "\" y1=\"34\" x2=\"" + Number(x) +
               "\" y2=\"40\" stroke=\"#444\"/><text x=\"" + Number(x) +
               "\" y=\"31\" text-anchor=\"middle\">" + Escape(TickLabel(k * step, step)) +
               "</text>\n";
    }
    svg += "</g>\n";
}

void Box(std::string& svg, const FlameEvent& event, const Scale& scale, double top) {
    const double x = scale.X(event.begin);
    const double boxWidth = event.duration * scale.perMicrosecond;
    const double y = top + kLaneHeading + event.depth * kRowHeight;
    const std::string name = Escape(event.name);
    svg += "<g class=\"event\" data-depth=\"" + std::to_string(event.depth) + "\"><title>" + name +
           " (" + Escape(Duration(event.duration)) + ")</title><rect x=\"" + Number(x) + "\" y=\"" +
           Number(y) + "\" width=\"" + Number(boxWidth) + "\" height=\"" + Number(kBoxHeight) +
           "\" fill=\"" + Colour(event.name) + "\"/>";
    // A nested viewport clips the label to the box.
    if (boxWidth >= 12) {
        svg += "<svg x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(boxWidth) +
               "\" height=\"" + Number(kBoxHeight) + "\"><text x=\"3\" y=\"12\">" + name +
               "</text></svg>";
    }
    svg += "</g>\n";
}

} // namespace

std::string RenderSvg(const FlameTrace& trace, double width) {
    double height = kChartTop;
    for (const FlameThread& thread : trace.threads) {
        height += kLaneHeading + thread.rows * kRowHeight + kLaneGap;
    }
    const Scale scale{trace.start, (width - 2 * kSide) / ScaleSpan(trace)};
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      Number(width) + "\" height=\"" + Number(height) + "\" viewBox=\"0 0 " +
                      Number(width) + " " + Number(height) +
                      "\" font-family=\"monospace\" font-size=\"11\">\n<rect x=\"0\" y=\"0\" "
                      "width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    std::string title = std::to_string(trace.eventCount) + " events, " +
                        std::to_string(trace.threads.size()) + " threads, " +
                        Duration(trace.end - trace.start);
    if (trace.droppedKnown) {
        title +=
            ", " + Number(trace.dropped).substr(0, Number(trace.dropped).find('.')) + " dropped";
    }
    svg += "<text x=\"" + Number(kSide) + "\" y=\"16\">" + Escape(title) + "</text>\n";
    Axis(svg, trace, scale, width);
    double top = kChartTop;
    for (const FlameThread& thread : trace.threads) {
        const std::string heading =
            (thread.name.empty() ? "thread" : thread.name) + " (" + std::to_string(thread.id) + ")";
        svg += "<g class=\"thread\" data-tid=\"" + std::to_string(thread.id) + "\"><text x=\"" +
               Number(kSide) + "\" y=\"" + Number(top + 13) + "\" font-weight=\"bold\">" +
               Escape(heading) + "</text>\n";
        for (const FlameEvent& event : thread.events) {
            Box(svg, event, scale, top);
        }
        svg += "</g>\n";
        top += kLaneHeading + thread.rows * kRowHeight + kLaneGap;
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace OrvexFlame
