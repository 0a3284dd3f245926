// A recursive-descent JSON reader.
#include "FlameJson.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace OrvexFlame {

const JsonValue* JsonValue::Find(const char* name) const {
    for (const auto& member : members) {
        if (member.first == name) {
            return &member.second;
        }
    }
    return nullptr;
}

namespace {

// Nesting deeper than this is refused rather than risking the stack.
constexpr int kMaxNesting = 256;

struct ParseFailure {
    std::size_t offset;
    std::string what;
};

// The byte at `at` as a message shows it: 'c' when printable ASCII, else hex.
std::string Shown(const std::string& text, std::size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    char shown[16];
    if (c >= 0x20 && c < 0x7F) {
        std::snprintf(shown, sizeof(shown), "'%c'", c);
    } else {
        std::snprintf(shown, sizeof(shown), "byte 0x%02X", c);
    }
    return shown;
}

class CParser {
public:
    explicit CParser(const std::string& text) : m_text(text), m_at(0) {}

    void Document(JsonValue& value) {
        if (m_text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            Fail("not JSON: the text starts with a UTF-8 byte-order mark (save it without one)");
        }
        Value(value, 0);
        SkipSpace();
        if (m_at != m_text.size()) {
            Fail("text after the value");
        }
    }

private:
    [[noreturn]] void Fail(const std::string& what) { throw ParseFailure{m_at, what}; }

    void SkipSpace() {
        while (m_at < m_text.size() && std::strchr(" \t\r\n", m_text[m_at]) != nullptr &&
               m_text[m_at] != 0) {
            ++m_at;
        }
    }

    bool Take(char expected) {
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == expected) {
            ++m_at;
            return true;
        }
        return false;
    }

    void Expect(char expected, const char* what) {
        if (!Take(expected)) {
            Fail(what);
        }
    }

    void Word(const char* word) {
        const std::size_t length = std::strlen(word);
        if (m_text.compare(m_at, length, word) != 0) {
            Fail("unknown word");
        }
        m_at += length;
    }

    void Value(JsonValue& value, int nesting) {
        if (nesting > kMaxNesting) {
            Fail("nested too deep");
        }
        SkipSpace();
        if (m_at >= m_text.size()) {
            Fail("value expected");
        }
        value.offset = m_at;
        const char first = m_text[m_at];
        if (first == '{') {
            ObjectValue(value, nesting);
        } else if (first == '[') {
            ArrayValue(value, nesting);
        } else if (first == '"') {
            value.type = JsonValue::String;
            StringValue(value.text);
        } else if (first == 't' || first == 'f') {
            value.type = JsonValue::Bool;
            value.boolean = first == 't';
            Word(first == 't' ? "true" : "false");
        } else if (first == 'n') {
            value.type = JsonValue::Null;
            Word("null");
        } else if (first == '-' || (first >= '0' && first <= '9')) {
            value.type = JsonValue::Number;
            NumberValue(value.number);
        } else {
            Fail("not JSON: " + Shown(m_text, m_at) + " cannot start a value");
        }
    }

    void ObjectValue(JsonValue& value, int nesting) {
        value.type = JsonValue::Object;
        ++m_at;
        if (Take('}')) {
            return;
        }
        do {
            SkipSpace();
            if (m_at >= m_text.size() || m_text[m_at] != '"') {
                Fail("member name expected");
            }
            value.members.emplace_back();
            StringValue(value.members.back().first);
            Expect(':', "':' expected");
            Value(value.members.back().second, nesting + 1);
        } while (Take(','));
        Expect('}', "'}' expected");
    }

    void ArrayValue(JsonValue& value, int nesting) {
        value.type = JsonValue::Array;
        ++m_at;
        if (Take(']')) {
            return;
        }
        do {
            value.items.emplace_back();
            Value(value.items.back(), nesting + 1);
        } while (Take(','));
        Expect(']', "']' expected");
    }

    void NumberValue(double& number) {
        // The JSON grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
        const std::size_t start = m_at;
        auto digits = [this] {
            const std::size_t from = m_at;
            while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') {
                ++m_at;
            }
            return m_at - from;
        };
        if (m_at < m_text.size() && m_text[m_at] == '-') {
            ++m_at;
        }
        const std::size_t whole = m_at;
        if (digits() == 0 || (m_text[whole] == '0' && m_at - whole > 1)) {
            Fail("malformed number");
        }
        if (m_at < m_text.size() && m_text[m_at] == '.') {
            ++m_at;
            if (digits() == 0) {
                Fail("malformed number");
            }
        }
        if (m_at < m_text.size() && (m_text[m_at] == 'e' || m_text[m_at] == 'E')) {
            ++m_at;
            if (m_at < m_text.size() && (m_text[m_at] == '+' || m_text[m_at] == '-')) {
                ++m_at;
            }
            if (digits() == 0) {
                Fail("malformed number");
            }
        }
        number = std::strtod(m_text.substr(start, m_at - start).c_str(), nullptr);
    }

    unsigned HexQuad() {
        if (m_at + 4 > m_text.size()) {
            Fail("short \\u escape");
        }
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_text[m_at++];
            const char* digits = "0123456789abcdef";
            const char* found = c != 0 ? std::strchr(digits, c | 0x20) : nullptr;
            if (found == nullptr) {
                Fail("bad \\u escape");
            }
            value = value * 16 + static_cast<unsigned>(found - digits);
        }
        return value;
    }

    void Escape(std::string& out) {
        const char c = m_text[m_at++];
        const char* from = "\"\\/bfnrt";
        const char* to = "\"\\/\b\f\n\r\t";
        if (c == 'u') {
            unsigned code = HexQuad();
            if (code >= 0xD800 && code < 0xDC00 && m_text.compare(m_at, 2, "\\u") == 0) {
                const std::size_t back = m_at;
                m_at += 2;
                const unsigned low = HexQuad();
                if (low >= 0xDC00 && low < 0xE000) {
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else {
                    m_at = back;
                }
            }
            AppendUtf8(out, code >= 0xD800 && code < 0xE000 ? 0xFFFD : code);
            return;
        }
        const char* found = c != 0 ? std::strchr(from, c) : nullptr;
        if (found == nullptr) {
            Fail("bad escape");
        }
        out += to[found - from];
    }

    void StringValue(std::string& out) {
        ++m_at; // the opening quote
        for (;;) {
            if (m_at >= m_text.size()) {
                Fail("unterminated string");
            }
            const unsigned char c = static_cast<unsigned char>(m_text[m_at]);
            if (c == '"') {
                ++m_at;
                return;
            }
            if (c < 0x20) {
                Fail("control character in a string");
            }
            if (c == '\\') {
                ++m_at;
                if (m_at >= m_text.size()) {
                    Fail("unterminated string");
                }
                Escape(out);
                continue;
            }
            out += static_cast<char>(c);
            ++m_at;
        }
    }

    const std::string& m_text;
    std::size_t m_at;
};

} // namespace

bool ParseJson(const std::string& text, JsonValue& value, std::string& error) {
    try {
        CParser(text).Document(value);
        return true;
    } catch (const ParseFailure& failure) {
        error = "offset " + std::to_string(failure.offset) + ": " + failure.what;
        return false;
    }
}

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace OrvexFlame
