// The show command: a configuration or table file as the library reads it,
// loose or from a package.
#include "ToolSupport.h"

#include "OrvexCommon/file/OrvexFile.h"
#include "OrvexCommon/format/detail/IniFile.h"
#include "OrvexCommon/format/detail/TabFile.h"

#include <memory>

namespace OrvexPack {

namespace {

const char kUsage[] = "usage: orvex-pack show FILE [--as=config|table]\n"
                      "       orvex-pack show PKG INNER-NAME [--as=config|table]\n"
                      "\n"
                      "Reads a configuration file (.ini) or a table file (.tab) through the\n"
                      "library's file manager, loose or from the package PKG, and prints what it\n"
                      "read: a configuration's encoding, then its sections and keys in sorted\n"
                      "order; a table's size, then each row's cells separated by ' | '. --as\n"
                      "chooses the kind for other extensions. Control characters show as \\xNN.\n"
                      "Exit status 1 when the file cannot be read, does not parse, or is a table\n"
                      "that is not Unicode.\n";

struct ReleaseObject {
    template <typename T> void operator()(T* object) const { object->Release(); }
};

const char* EncodingName(Orvex::EIniEncoding encoding) {
    switch (encoding) {
    case Orvex::eIniUtf16:
        return "UTF-16";
    case Orvex::eIniUtf8Bom:
        return "UTF-8 with mark";
    default:
        return "no mark (UTF-8 or the ANSI code page)";
    }
}

int ShowConfiguration(const std::wstring& name, const std::string& label, std::ostream& out) {
    std::unique_ptr<Orvex::IIniFile, ReleaseObject> ini(Orvex::GetOrvexFileMgr().CreateIniFile());
    if (!ini->Load(name.c_str())) {
        Fail(label + " could not be read, or is not a configuration (a line without '=', a"
                     " key before the first section, or a section without ']')");
    }
    const auto& file = static_cast<const Orvex::detail::CIniFile&>(*ini);
    out << "encoding  " << EncodingName(file.GetEncoding()) << '\n';
    for (const auto& section : file.GetSections()) {
        out << '[' << PrintableText(section.first.c_str()) << "]\n";
        for (const auto& entry : section.second) {
            out << PrintableText(entry.first.c_str()) << " = "
                << PrintableText(entry.second.c_str()) << '\n';
        }
    }
    return kExitSuccess;
}

int ShowTable(const std::wstring& name, const std::string& label, std::ostream& out) {
    std::unique_ptr<Orvex::ITabFile, ReleaseObject> table(Orvex::GetOrvexFileMgr().CreateTabFile());
    try {
        if (!table->Load(name.c_str())) {
            Fail(label + " could not be read");
        }
    } catch (char* refusal) {
        Fail(label + " is refused: " + refusal);
    }
    out << "rows      " << table->GetHeight() << ", " << table->GetWidth()
        << " cells in the header row\n";
    const wchar_t* outside = table->GetString(table->GetHeight(), 0u);
    for (unsigned row = 0; row < table->GetHeight(); ++row) {
        out << row << ':';
        for (unsigned column = 0; table->GetString(row, column) != outside; ++column) {
            out << (column == 0 ? " " : " | ") << PrintableText(table->GetString(row, column));
        }
        out << '\n';
    }
    return kExitSuccess;
}

// The kind from --as, else from the name's extension.
bool IsTable(const ParsedArgs& parsed, const fs::path& name) {
    const auto kind = parsed.options.find("as");
    if (kind != parsed.options.end()) {
        if (kind->second != "config" && kind->second != "table") {
            UsageError("show: --as takes 'config' or 'table'");
        }
        return kind->second == "table";
    }
    const std::string extension = name.extension().string();
    if (extension != ".ini" && extension != ".tab") {
        UsageError("show: '" + Display(name) +
                   "' is neither .ini nor .tab: say which with --as=config|table");
    }
    return extension == ".tab";
}

// The name under which the file manager finds INNER-NAME once PKG is open:
// the package's path without ".pkg", then the inner name.
std::wstring PackagedName(const fs::path& package, const std::string& inner) {
    if (package.extension() != ".pkg") {
        Fail("'" + Display(package) + "' is not named like a package (NAME.pkg)");
    }
    if (!Orvex::GetOrvexFileMgr().OpenPackage(LibraryPath(package).c_str(), nullptr, 0, true)) {
        Fail("'" + Display(package) + "' could not be opened as a package");
    }
    std::wstring wideInner;
    if (!Utf8ToWide(inner, wideInner)) {
        UsageError("show: the inner name is not UTF-8");
    }
    fs::path root = package;
    root.replace_extension();
    return LibraryPath(root) + L"/" + wideInner;
}

} // namespace

int ShowCommand(const std::vector<std::string>& args, ToolStreams& io) {
    return Guarded(io, [&] {
        const ParsedArgs parsed = ParseArgs("show", args, {{"as", true}});
        if (parsed.help) {
            io.out << kUsage;
            return kExitSuccess;
        }
        RequirePositional("show", parsed, 1, 2);
        const fs::path path = ArgPath(parsed.positional[0]);
        const bool packaged = parsed.positional.size() == 2;
        const fs::path named = packaged ? ArgPath(parsed.positional[1]) : path;
        const bool table = IsTable(parsed, named);
        const std::string label = packaged
                                      ? "'" + parsed.positional[1] + "' in '" + Display(path) + "'"
                                      : "'" + Display(path) + "'";
        const std::wstring name =
            packaged ? PackagedName(path, parsed.positional[1]) : LibraryPath(path);
        return table ? ShowTable(name, label, io.out) : ShowConfiguration(name, label, io.out);
    });
}

} // namespace OrvexPack
