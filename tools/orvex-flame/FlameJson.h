// A JSON reader for orvex-flame: the whole text into a tree of values.
#ifndef ORVEX_TOOLS_ORVEXFLAME_FLAMEJSON_H
#define ORVEX_TOOLS_ORVEXFLAME_FLAMEJSON_H

#include <string>
#include <utility>
#include <vector>

namespace OrvexFlame {

struct JsonValue {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    bool boolean = false;
    double number = 0;      // infinite when the text's number is beyond a double's range
    std::size_t offset = 0; // where the value starts in the text, for messages
    std::string text;       // a string's UTF-8 text
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members; // in the file's order

    // The member `name` of an object, or null.
    const JsonValue* Find(const char* name) const;
};

// Parses `text` (RFC 8259; a \u escape of a lone surrogate becomes U+FFFD).
// False with `error` set ("offset N: what") when it is not JSON; a text that
// starts with a byte-order mark, or with a character no value starts with,
// is refused as such rather than as a broken number.
bool ParseJson(const std::string& text, JsonValue& value, std::string& error);

// Appends the UTF-8 form of the code point `code` (at most U+10FFFF).
void AppendUtf8(std::string& out, unsigned code);

} // namespace OrvexFlame

#endif // ORVEX_TOOLS_ORVEXFLAME_FLAMEJSON_H
