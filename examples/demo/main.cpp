// The demo host: links OrvexCommon2 like a game would and shows what the
// library offers so far.
#include <OrvexCommon/OrvexCommon.h>

#include <cstdio>
#include <string>

namespace {

void Section(const char* title) {
    std::printf("\n== %s ==\n", title);
}

// The host's own log sink: every line of the library's log stream passes here.
void HostLogSink(const char* text, unsigned length) {
    std::printf("[host log sink, %u bytes] %s", length, text);
}

void ShowFrame() {
    Section("library frame");
    Orvex::SetFrameTraceFun([](const char* event) {
        std::printf("  %s\n", event);
        std::fflush(stdout); // keep order with the streams, which bypass stdio
    });
    std::fflush(stdout);
}

void ShowHashing() {
    Section("hashing");
    const char* names[] = {"", "abc", "textures/hero.dds", "Textures/Hero.dds"};
    for (const char* name : names) {
        const unsigned size = static_cast<unsigned>(std::string(name).size());
        std::printf("  OrvexHash(\"%s\") = 0x%08X\n", name, Orvex::OrvexHash(name, size));
    }
}

void ShowText() {
    Section("UTF-8 and hex text");
    const char* utf8 = "caf\xc3\xa9 \xe4\xb8\xad";
    wchar_t wide[16];
    const unsigned units = Orvex::Utf8ToUcs(utf8, wide, 16);
    std::printf("  \"%s\" is UTF-8: %s, %u wide units\n", utf8, Orvex::IsUtf8(utf8) ? "yes" : "no",
                units - 1);
    char back[32];
    Orvex::UcsToUtf8(wide, back, sizeof(back));
    std::printf("  and back to UTF-8: \"%s\"\n", back);
    char hex[64];
    Orvex::Uint82Base16(reinterpret_cast<const unsigned char*>(utf8), hex, sizeof(hex));
    std::printf("  as hex: %s\n", hex);
}

void ShowNumbers() {
    Section("numbers");
    std::printf("  OrvexA2I(\"  -12abc\") = %d, OrvexA2I64(L\"9000000000\") = %lld\n",
                Orvex::OrvexA2I("  -12abc"), Orvex::OrvexA2I64(L"9000000000"));
    std::printf("  OrvexA2F(\"1.5e3\") = %g\n", Orvex::OrvexA2F("1.5e3"));
    std::printf("  sqrti(2^31 - 1) = %u, u2d(4294967295) = %.1f\n",
                static_cast<unsigned>(Orvex::sqrti(2147483647u)), Orvex::u2d(4294967295u));
    std::printf("  f2i(-3.7) = %d, f2u(3e9) = %u\n", Orvex::f2i(-3.7f), Orvex::f2u(3e9f));
}

void ShowStreams() {
    using Orvex::operator<<;
    Section("log and error streams");
    std::fflush(stdout);
    Orvex::GetLogStream() << "a line with no hook goes to the console only\n";
    Orvex::SetGlobLogFun(HostLogSink);
    Orvex::GetLogStream() << "with a hook: " << 42 << " items, wide text " << L"\u00e9\u4e2d"
                          << "\n";
    std::fflush(stdout);
    Orvex::SetGlobLogFun(nullptr);
    Orvex::GetErrStream() << "the error stream writes to standard error\n";
}

} // namespace

int main() {
    std::printf("OrvexCommon2 demo host\n");
    ShowFrame();
    ShowHashing();
    ShowText();
    ShowNumbers();
    ShowStreams();
    std::printf("\nunloading: the frame tears its objects down\n");
    std::fflush(stdout);
    return 0;
}
