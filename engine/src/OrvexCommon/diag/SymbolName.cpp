// Readable symbol names: demangled with the C++ runtime's demangler, then cut
// down to the qualified name.
#include "OrvexCommon/diag/detail/SymbolName.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>

namespace Orvex {
namespace detail {
namespace {

bool Opens(char c) {
    return c == '(' || c == '<' || c == '[' || c == '{';
}

bool Closes(char c) {
    return c == ')' || c == '>' || c == ']' || c == '}';
}

// Removes every trailing " [clone .suffix]".
void DropCloneSuffixes(std::string& name) {
    while (!name.empty() && name.back() == ']') {
        const std::size_t clone = name.rfind(" [clone ");
        if (clone == std::string::npos) {
            return;
        }
        name.erase(clone);
    }
}

// Removes the ABI tags of names that return a standard string or are tagged
// for other reasons ("Name[abi:cxx11]").
void DropAbiTags(std::string& name) {
    for (std::size_t tag = name.find("[abi:"); tag != std::string::npos;
         tag = name.find("[abi:", tag)) {
        const std::size_t end = name.find(']', tag);
        if (end == std::string::npos) {
            return;
        }
        name.erase(tag, end + 1 - tag);
    }
}

// Removes the parameter list that closes the name, with the qualifiers after
// it (" const", " &", " volatile"): the last ')' and its matching '('.
void DropParameters(std::string& name) {
    const std::size_t close = name.rfind(')');
    if (close == std::string::npos) {
        return;
    }
    const std::string tail = name.substr(close + 1);
    if (tail.find_first_not_of(" &constvlaiexp") != std::string::npos) {
        return;
    }
    int depth = 0;
    for (std::size_t i = close + 1; i-- > 0;) {
        depth += name[i] == ')' ? 1 : name[i] == '(' ? -1 : 0;
        if (depth == 0) {
            name.erase(i);
            return;
        }
    }
}

// A function template's name is printed after its return type: what follows
// the last space outside brackets is the name, unless that space belongs to
// an operator's spelling ("operator new").
void DropReturnType(std::string& name) {
    if (name.empty() || name.back() != '>') {
        return;
    }
    int depth = 0;
    std::size_t lastSpace = std::string::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        depth += Opens(name[i]) ? 1 : Closes(name[i]) ? -1 : 0;
        if (depth == 0 && name[i] == ' ') {
            lastSpace = i;
        }
    }
    if (lastSpace != std::string::npos && name.compare(0, lastSpace, "operator") != 0 &&
        name.rfind("operator", lastSpace) == std::string::npos) {
        name.erase(0, lastSpace + 1);
    }
}

} // namespace

std::string StripSignature(const std::string& demangled) {
    std::string name = demangled;
    DropCloneSuffixes(name);
    DropAbiTags(name);
    DropParameters(name);
    DropReturnType(name);
    return name;
}

std::string ReadableSymbolName(const char* spelt) {
    // A symbol version ("__libc_start_main@@GLIBC_2.34") is not part of the
    // name.
    const char* version = std::strchr(spelt, '@');
    const std::string unversioned =
        version != nullptr && version != spelt ? std::string(spelt, version) : std::string(spelt);
    const char* raw = unversioned.c_str();
    const char* mangled = raw;
    if (std::strncmp(mangled, "__Z", 3) == 0) {
        ++mangled;
    }
    if (std::strncmp(mangled, "_Z", 2) != 0) {
        return raw;
    }
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    if (demangled == nullptr) {
        return raw;
    }
    std::string name = StripSignature(demangled);
    std::free(demangled);
    return name;
}

} // namespace detail
} // namespace Orvex
