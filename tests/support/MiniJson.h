// A small JSON reader for tests: the whole text into a tree of values, every
// syntax error thrown (std::runtime_error with the offset). Strings come back
// as UTF-8, a \u escaped surrogate pair joined.
#ifndef ORVEX_TESTS_SUPPORT_MINIJSON_H
#define ORVEX_TESTS_SUPPORT_MINIJSON_H

#include <cstring>
#include <map>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace OrvexTest {

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text; // a string's value; a number's literal
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json& operator[](const std::string& name) const {
        const auto found = members.find(name);
        if (found == members.end()) {
            throw std::runtime_error("no member " + name);
        }
        return found->second;
    }
};

// UTF-8 of one code point.
inline void AppendUtf8(std::string& out, unsigned code) {
    const int tail = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    const unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[tail] | (code >> (6 * tail)));
    for (int k = tail - 1; k >= 0; --k) {
        out += static_cast<char>(0x80 | ((code >> (6 * k)) & 0x3F));
    }
}

class JsonReader {
public:
    static Json Parse(const std::string& text) {
        JsonReader reader{text, 0};
        Json value = reader.Value(0);
        if (reader.Space() != '\0' || reader.m_at != text.size()) {
            reader.Fail("text after the value");
        }
        return value;
    }

private:
    JsonReader(const std::string& text, std::size_t at) : m_text(text), m_at(at) {}

    [[noreturn]] void Fail(const char* what) const {
        throw std::runtime_error("JSON offset " + std::to_string(m_at) + ": " + what);
    }
    // Skips white space; the next character, '\0' at the end.
    char Space() {
        while (m_at < m_text.size() && std::strchr(" \t\r\n", m_text[m_at]) && m_text[m_at]) {
            ++m_at;
        }
        return m_at < m_text.size() ? m_text[m_at] : '\0';
    }
    void Expect(char c) {
        if (Space() != c) {
            Fail("unexpected character");
        }
        ++m_at;
    }

    Json Value(int depth) {
        Json value;
        const char c = Space();
        if (depth > 100) {
            Fail("too deep");
        } else if (c == '{' || c == '[') {
            value.kind = c == '{' ? Json::Object : Json::Array;
            ++m_at;
            const char close = c == '{' ? '}' : ']';
            while (Space() != close) {
                if (c == '[') {
                    value.items.push_back(Value(depth + 1));
                } else {
                    if (Space() != '"') {
                        Fail("member name expected");
                    }
                    std::string name = StringBody();
                    Expect(':');
                    if (!value.members.emplace(name, Value(depth + 1)).second) {
                        Fail("member given twice");
                    }
                }
                if (Space() != ',') {
                    break;
                }
                ++m_at;
                if (Space() == close) {
                    Fail("trailing comma");
                }
            }
            Expect(close);
        } else if (c == '"') {
            value.kind = Json::String;
            value.text = StringBody();
        } else if (m_text.compare(m_at, 4, "true") == 0 || m_text.compare(m_at, 4, "null") == 0 ||
                   m_text.compare(m_at, 5, "false") == 0) {
            value.kind = c == 'n' ? Json::Null : Json::Bool;
            value.boolean = c == 't';
            m_at += c == 'f' ? 5 : 4;
        } else {
            const std::size_t end = m_text.find_first_not_of("+-.eE0123456789", m_at);
            value.text = m_text.substr(m_at, end - m_at);
            static const std::regex grammar(R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
            if (!std::regex_match(value.text, grammar)) {
                Fail("malformed number");
            }
            value.kind = Json::Number;
            value.number = std::stod(value.text);
            m_at = end;
        }
        return value;
    }

    unsigned Hex4() {
        const std::string digits = m_text.substr(m_at, 4);
        if (digits.size() != 4 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != digits.npos) {
            Fail("bad \\u escape");
        }
        m_at += 4;
        return static_cast<unsigned>(std::stoul(digits, nullptr, 16));
    }

    std::string StringBody() {
        std::string out;
        for (++m_at;; ++m_at) {
            if (m_at >= m_text.size()) {
                Fail("unterminated string");
            }
            const unsigned char c = static_cast<unsigned char>(m_text[m_at]);
            if (c == '"') {
                ++m_at;
                return out;
            } else if (c < 0x20) {
                Fail("raw control character in a string");
            } else if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const char escape = ++m_at < m_text.size() ? m_text[m_at] : '\0';
            const char* simple = std::strchr("\"\\/bfnrt", escape);
            if (escape != 'u') {
                if (simple == nullptr || escape == '\0') {
                    Fail("bad escape");
                }
                out += "\"\\/\b\f\n\r\t"[simple - "\"\\/bfnrt"];
                continue;
            }
            ++m_at;
            unsigned code = Hex4();
            if (code >= 0xD800 && code < 0xDC00 && m_text.compare(m_at, 2, "\\u") == 0) {
                m_at += 2;
                const unsigned low = Hex4();
                if (low < 0xDC00 || low >= 0xE000) {
                    Fail("bad low surrogate");
                }
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else if (code >= 0xD800 && code < 0xE000) {
                Fail("lone surrogate");
            }
            AppendUtf8(out, code);
            --m_at; // the loop steps past the escape's last digit
        }
    }

    const std::string& m_text;
    std::size_t m_at;
};

// True when `text` is well-formed UTF-8 (RFC 3629: no overlong form, no
// surrogate, nothing above U+10FFFF).
inline bool IsWellFormedUtf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        if (length == 0 || at + length > text.size()) {
            return false;
        }
        unsigned code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            if ((text[at + k] & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (text[at + k] & 0x3F);
        }
        const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            return false;
        }
        at += length;
    }
    return true;
}

} // namespace OrvexTest

#endif // ORVEX_TESTS_SUPPORT_MINIJSON_H
