// A small XML reader for tests: checks that a document is well-formed (one
// root element, matched tags, quoted attributes without '<', only the five
// predefined entities and character references to allowed characters, no
// control character XML forbids, well-formed UTF-8) and gives its elements
// as a tree. Errors are thrown (std::runtime_error with the offset).
#ifndef ORVEX_TESTS_SUPPORT_MINIXML_H
#define ORVEX_TESTS_SUPPORT_MINIXML_H

#include "MiniJson.h"

#include <cctype>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace OrvexTest {

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes; // entities resolved
    std::vector<XmlElement> children;
    std::string text; // character data directly inside, entities resolved
};

class XmlReader {
public:
    static XmlElement Parse(const std::string& text) {
        XmlReader reader(text);
        if (!IsWellFormedUtf8(text)) {
            reader.Fail("not UTF-8");
        }
        reader.Misc();
        if (!reader.At("<")) {
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
    explicit XmlReader(const std::string& text) : m_text(text), m_at(0) {}

    [[noreturn]] void Fail(const char* what) const {
        throw std::runtime_error("XML offset " + std::to_string(m_at) + ": " + what);
    }
    bool At(const char* literal) const {
        return m_text.compare(m_at, std::strlen(literal), literal) == 0;
    }
    char Next() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    void Space() {
        while (Next() != '\0' && std::strchr(" \t\r\n", Next())) {
            ++m_at;
        }
    }
    // One character of content, checked.
    char Take() {
        const unsigned char c = static_cast<unsigned char>(Next());
        if (m_at >= m_text.size() || (c < 0x20 && !std::strchr("\t\r\n", c))) {
            Fail("character not allowed here");
        }
        return m_text[m_at++];
    }
    // Up to and past `end`, every character checked.
    void SkipPast(const char* end) {
        while (!At(end)) {
            Take();
        }
        m_at += std::strlen(end);
    }
    // White space, declarations and comments.
    void Misc() {
        for (Space(); At("<?") || At("<!--"); Space()) {
            SkipPast(At("<?") ? "?>" : "-->");
        }
    }
    std::string Name() {
        const std::size_t start = m_at;
        while (std::isalnum(static_cast<unsigned char>(Next())) ||
               (Next() && std::strchr("-_:.", Next()))) {
            ++m_at;
        }
        if (m_at == start || !std::isalpha(static_cast<unsigned char>(m_text[start]))) {
            Fail("name expected");
        }
        return m_text.substr(start, m_at - start);
    }
    void Reference(std::string& out) {
        const std::size_t end = m_text.find(';', m_at);
        const std::string name =
            m_text.substr(m_at + 1, end == std::string::npos ? 0 : end - m_at - 1);
        static const std::map<std::string, std::string> named = {
            {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
        if (named.count(name) != 0) {
            out += named.at(name);
        } else if (name.size() > 1 && name[0] == '#') {
            const unsigned long code =
                std::stoul(name.substr(name[1] == 'x' ? 2 : 1), nullptr, name[1] == 'x' ? 16 : 10);
            if ((code < 0x20 && code != 9 && code != 10 && code != 13) || code > 0x10FFFF ||
                (code >= 0xD800 && code < 0xE000) || code == 0xFFFE || code == 0xFFFF) {
                Fail("reference to a character XML forbids");
            }
            AppendUtf8(out, static_cast<unsigned>(code));
        } else {
            Fail("unknown entity");
        }
        m_at = end + 1;
    }

    XmlElement Element() {
        ++m_at; // '<'
        XmlElement element;
        element.name = Name();
        for (;;) {
            const std::size_t before = m_at;
            Space();
            if (At("/>")) {
                m_at += 2;
                return element;
            }
            if (At(">")) {
                ++m_at;
                break;
            }
            if (m_at == before) {
                Fail("space expected before an attribute");
            }
            const std::string name = Name();
            Space();
            Expect('=');
            Space();
            const char quote = Next();
            if (quote != '"' && quote != '\'') {
                Fail("quoted value expected");
            }
            std::string value;
            for (++m_at; Next() != quote;) {
                if (Next() == '<') {
                    Fail("'<' in an attribute value");
                } else if (Next() == '&') {
                    Reference(value);
                } else {
                    value += Take();
                }
            }
            ++m_at;
            if (!element.attributes.emplace(name, value).second) {
                Fail("attribute given twice");
            }
        }
        while (!At("</")) {
            if (At("<!--")) {
                SkipPast("-->");
            } else if (At("<")) {
                element.children.push_back(Element());
            } else if (At("&")) {
                Reference(element.text);
            } else if (At("]]>")) {
                Fail("']]>' in text");
            } else {
                element.text += Take();
            }
        }
        m_at += 2;
        if (Name() != element.name) {
            Fail("mismatched end tag");
        }
        Space();
        Expect('>');
        return element;
    }
    void Expect(char c) {
        if (Next() != c) {
            Fail("unexpected character");
        }
        ++m_at;
    }

    const std::string& m_text;
    std::size_t m_at;
};

} // namespace OrvexTest

#endif // ORVEX_TESTS_SUPPORT_MINIXML_H
