// A small XML reader for tests: checks that a document is well-formed (one
// root element, matched tags, quoted attributes without '<', only the five
// predefined entities and character references, no character XML forbids,
// well-formed UTF-8) and gives its elements as a tree.
#ifndef ORVEX_TESTS_SUPPORT_MINIXML_H
#define ORVEX_TESTS_SUPPORT_MINIXML_H

#include "MiniJson.h"

#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace OrvexTest {

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes; // values with entities resolved
    std::vector<XmlElement> children;
    std::string text; // character data directly inside, entities resolved

    // Every element below this one (and this one) in document order.
    void Walk(const std::function<void(const XmlElement&)>& visit) const {
        visit(*this);
        for (const XmlElement& child : children) {
            child.Walk(visit);
        }
    }
};

class XmlReader {
public:
    // Throws std::runtime_error naming the offset of the first error.
    static XmlElement Parse(const std::string& text) {
        if (!IsWellFormedUtf8(text)) {
            throw std::runtime_error("XML: not UTF-8");
        }
        XmlReader reader(text);
        reader.Misc();
        if (reader.Peek() != '<') {
            reader.Fail("root element expected");
        }
        XmlElement root = reader.Element();
        reader.Misc();
        if (reader.m_at != text.size()) {
            reader.Fail("content after the root element");
        }
        return root;
    }

private:
    explicit XmlReader(const std::string& text) : m_text(text) {}

    [[noreturn]] void Fail(const char* what) const {
        throw std::runtime_error("XML offset " + std::to_string(m_at) + ": " + what);
    }
    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    bool At(const char* literal) const {
        return m_text.compare(m_at, std::strlen(literal), literal) == 0;
    }
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    static bool IsNameChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == ':' || c == '.' ||
               static_cast<unsigned char>(c) >= 0x80;
    }
    void CheckChar(char c) const {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && !IsSpace(c)) {
            Fail("character not allowed in XML");
        }
    }

    // Declarations, comments and white space around the root.
    void Misc() {
        for (;;) {
            while (IsSpace(Peek())) {
                ++m_at;
            }
            if (At("<?")) {
                Skip("?>");
            } else if (At("<!--")) {
                Skip("-->");
            } else {
                return;
            }
        }
    }

    void Skip(const char* end) {
        const std::size_t found = m_text.find(end, m_at);
        if (found == std::string::npos) {
            Fail("unterminated markup");
        }
        for (std::size_t k = m_at; k < found; ++k) {
            CheckChar(m_text[k]);
        }
        m_at = found + std::strlen(end);
    }

    std::string Name() {
        const std::size_t start = m_at;
        while (IsNameChar(Peek())) {
            ++m_at;
        }
        if (m_at == start || (m_text[start] >= '0' && m_text[start] <= '9') ||
            m_text[start] == '-' || m_text[start] == '.') {
            Fail("name expected");
        }
        return m_text.substr(start, m_at - start);
    }

    void Reference(std::string& out) {
        const std::size_t end = m_text.find(';', m_at);
        if (end == std::string::npos || end - m_at > 12) {
            Fail("unterminated reference");
        }
        const std::string name = m_text.substr(m_at + 1, end - m_at - 1);
        m_at = end + 1;
        static const std::map<std::string, std::string> predefined = {
            {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
        const auto found = predefined.find(name);
        if (found != predefined.end()) {
            out += found->second;
            return;
        }
        if (name.size() < 2 || name[0] != '#') {
            Fail("unknown entity");
        }
        const bool hex = name[1] == 'x';
        const unsigned long code = std::stoul(name.substr(hex ? 2 : 1), nullptr, hex ? 16 : 10);
        if ((code < 0x20 && code != 9 && code != 10 && code != 13) || code > 0x10FFFF ||
            (code >= 0xD800 && code < 0xE000) || code == 0xFFFE || code == 0xFFFF) {
            Fail("character reference to a character XML forbids");
        }
        out += "?"; // the tests never look inside references
    }

    XmlElement Element() {
        ++m_at; // '<'
        XmlElement element;
        element.name = Name();
        for (;;) {
            const bool spaced = IsSpace(Peek());
            while (IsSpace(Peek())) {
                ++m_at;
            }
            if (At("/>")) {
                m_at += 2;
                return element;
            }
            if (Peek() == '>') {
                ++m_at;
                break;
            }
            if (!spaced) {
                Fail("space expected before an attribute");
            }
            const std::string name = Name();
            while (IsSpace(Peek())) {
                ++m_at;
            }
            if (Peek() != '=') {
                Fail("'=' expected");
            }
            ++m_at;
            while (IsSpace(Peek())) {
                ++m_at;
            }
            const char quote = Peek();
            if (quote != '"' && quote != '\'') {
                Fail("quoted value expected");
            }
            ++m_at;
            std::string value;
            while (Peek() != quote) {
                if (m_at >= m_text.size() || Peek() == '<') {
                    Fail("bad attribute value");
                }
                if (Peek() == '&') {
                    Reference(value);
                    continue;
                }
                CheckChar(Peek());
                value += m_text[m_at++];
            }
            ++m_at;
            if (!element.attributes.emplace(name, value).second) {
                Fail("attribute given twice");
            }
        }
        Content(element);
        return element;
    }

    void Content(XmlElement& element) {
        for (;;) {
            if (m_at >= m_text.size()) {
                Fail("unclosed element");
            }
            if (At("</")) {
                m_at += 2;
                if (Name() != element.name) {
                    Fail("mismatched end tag");
                }
                while (IsSpace(Peek())) {
                    ++m_at;
                }
                if (Peek() != '>') {
                    Fail("'>' expected");
                }
                ++m_at;
                return;
            }
            if (At("<!--")) {
                Skip("-->");
            } else if (At("<?")) {
                Skip("?>");
            } else if (Peek() == '<') {
                element.children.push_back(Element());
            } else if (Peek() == '&') {
                Reference(element.text);
            } else if (Peek() == '>' && m_at >= 2 && At(">") &&
                       m_text.compare(m_at - 2, 2, "]]") == 0) {
                Fail("']]>' in text");
            } else {
                CheckChar(Peek());
                element.text += m_text[m_at++];
            }
        }
    }

    const std::string& m_text;
    std::size_t m_at = 0;
};

} // namespace OrvexTest

#endif // ORVEX_TESTS_SUPPORT_MINIXML_H
