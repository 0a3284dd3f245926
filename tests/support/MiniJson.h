// A small JSON reader for tests: the whole text into a tree of values, with
// every syntax error reported. Strings come back as UTF-8; a \u escape of a
// surrogate pair joins the pair.
#ifndef ORVEX_TESTS_SUPPORT_MINIJSON_H
#define ORVEX_TESTS_SUPPORT_MINIJSON_H

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace OrvexTest {

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;        // a string's value; a number's literal text
    std::vector<Json> items; // an array's values
    std::map<std::string, Json> members;

    bool Has(const std::string& name) const { return members.count(name) != 0; }
    const Json& operator[](const std::string& name) const {
        const auto found = members.find(name);
        if (kind != Object || found == members.end()) {
            throw std::runtime_error("no member " + name);
        }
        return found->second;
    }
};

class JsonReader {
public:
    // Throws std::runtime_error naming the offset of the first error.
    static Json Parse(const std::string& text) {
        JsonReader reader(text);
        Json value = reader.Value(0);
        reader.Space();
        if (reader.m_at != text.size()) {
            reader.Fail("trailing text");
        }
        return value;
    }

private:
    explicit JsonReader(const std::string& text) : m_text(text) {}

    [[noreturn]] void Fail(const char* what) const {
        throw std::runtime_error("JSON offset " + std::to_string(m_at) + ": " + what);
    }
    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    void Space() {
        while (Peek() == ' ' || Peek() == '\n' || Peek() == '\r' || Peek() == '\t') {
            ++m_at;
        }
    }
    void Expect(char c) {
        Space();
        if (Peek() != c) {
            Fail("unexpected character");
        }
        ++m_at;
    }

    Json Value(int depth) {
        if (depth > 100) {
            Fail("too deep");
        }
        Space();
        Json value;
        const char c = Peek();
        if (c == '{') {
            value.kind = Json::Object;
            ++m_at;
            Space();
            if (Peek() == '}') {
                ++m_at;
                return value;
            }
            for (;;) {
                Space();
                if (Peek() != '"') {
                    Fail("member name expected");
                }
                const std::string name = StringBody();
                if (value.members.count(name) != 0) {
                    Fail("duplicate member");
                }
                Expect(':');
                value.members[name] = Value(depth + 1);
                Space();
                if (Peek() == ',') {
                    ++m_at;
                    continue;
                }
                Expect('}');
                return value;
            }
        }
        if (c == '[') {
            value.kind = Json::Array;
            ++m_at;
            Space();
            if (Peek() == ']') {
                ++m_at;
                return value;
            }
            for (;;) {
                value.items.push_back(Value(depth + 1));
                Space();
                if (Peek() == ',') {
                    ++m_at;
                    continue;
                }
                Expect(']');
                return value;
            }
        }
        if (c == '"') {
            value.kind = Json::String;
            value.text = StringBody();
            return value;
        }
        for (const char* word : {"true", "false", "null"}) {
            const std::string literal(word);
            if (m_text.compare(m_at, literal.size(), literal) == 0) {
                m_at += literal.size();
                value.kind = literal == "null" ? Json::Null : Json::Bool;
                value.boolean = literal == "true";
                return value;
            }
        }
        return NumberValue();
    }

    Json NumberValue() {
        const std::size_t start = m_at;
        auto digits = [this] {
            std::size_t count = 0;
            while (Peek() >= '0' && Peek() <= '9') {
                ++m_at;
                ++count;
            }
            return count;
        };
        if (Peek() == '-') {
            ++m_at;
        }
        const std::size_t intStart = m_at;
        const std::size_t intDigits = digits();
        if (intDigits == 0 || (intDigits > 1 && m_text[intStart] == '0')) {
            Fail("bad number");
        }
        if (Peek() == '.') {
            ++m_at;
            if (digits() == 0) {
                Fail("bad fraction");
            }
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++m_at;
            if (Peek() == '+' || Peek() == '-') {
                ++m_at;
            }
            if (digits() == 0) {
                Fail("bad exponent");
            }
        }
        Json value;
        value.kind = Json::Number;
        value.text = m_text.substr(start, m_at - start);
        value.number = std::stod(value.text);
        return value;
    }

    unsigned Hex4() {
        unsigned code = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = Peek();
            ++m_at;
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) {
                Fail("bad \\u escape");
            }
            code = code * 16 + static_cast<unsigned>(digit);
        }
        return code;
    }

    static void Encode(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::string StringBody() {
        ++m_at; // the quote
        std::string out;
        for (;;) {
            if (m_at >= m_text.size()) {
                Fail("unterminated string");
            }
            const unsigned char c = static_cast<unsigned char>(m_text[m_at++]);
            if (c == '"') {
                return out;
            }
            if (c < 0x20) {
                Fail("raw control character in a string");
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const char escape = Peek();
            ++m_at;
            switch (escape) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                unsigned code = Hex4();
                if (code >= 0xD800 && code < 0xDC00) {
                    if (Peek() != '\\' || m_text.compare(m_at, 2, "\\u") != 0) {
                        Fail("lone high surrogate");
                    }
                    m_at += 2;
                    const unsigned low = Hex4();
                    if (low < 0xDC00 || low >= 0xE000) {
                        Fail("bad low surrogate");
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    Fail("lone low surrogate");
                }
                Encode(out, code);
                break;
            }
            default:
                Fail("bad escape");
            }
        }
    }

    const std::string& m_text;
    std::size_t m_at = 0;
};

// True when `text` is well-formed UTF-8 (RFC 3629).
inline bool IsWellFormedUtf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || at + length > text.size()) {
            return false;
        }
        unsigned code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[at + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (next & 0x3F);
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
