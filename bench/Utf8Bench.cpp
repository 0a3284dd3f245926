// Utf8ToUcs and UcsToUtf8 beside the two converters a Linux program would
// otherwise call: ICU (UTF-8 <-> UTF-16, its native form) and glibc's iconv
// (UTF-8 <-> WCHAR_T, the same 32-bit units as ours). Every contender converts
// the same text in the same direction; throughput counts bytes of UTF-8 text.
#include "OrvexCommon/text/OrvexText.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include <iconv.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr std::size_t kTextBytes = 64 * 1024;

// One text: its code points, their UTF-8 form, and the same text as wide
// units and as UTF-16 for the opposite direction. All code points are in the
// basic plane, so the UTF-16 form has one unit per code point too.
struct Text {
    std::vector<std::uint32_t> codePoints;
    std::string utf8;
    std::wstring wide;
    std::u16string utf16;
};

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Random characters drawn from `ranges` (inclusive pairs) until the UTF-8 form
// reaches kTextBytes; a fixed seed keeps every run on the same text.
Text MakeText(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> ranges,
              unsigned seed) {
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> pool(ranges);
    std::mt19937 random(seed);
    Text text;
    for (;;) {
        const auto& range = pool[random() % pool.size()];
        const std::uint32_t cp = range.first + random() % (range.second - range.first + 1);
        std::string encoded;
        AppendUtf8(encoded, cp);
        if (text.utf8.size() + encoded.size() > kTextBytes) {
            break;
        }
        text.utf8 += encoded;
        text.codePoints.push_back(cp);
        text.wide.push_back(static_cast<wchar_t>(cp));
        text.utf16.push_back(static_cast<char16_t>(cp));
    }
    return text;
}

const Text& AsciiText() {
    // Printable ASCII and line breaks.
    static const Text text = MakeText({{0x20, 0x7E}, {0x0A, 0x0A}}, 1);
    return text;
}

const Text& TwoByteText() {
    // Latin-1 supplement letters, Greek and Cyrillic.
    static const Text text = MakeText({{0xC0, 0xFF}, {0x391, 0x3C9}, {0x410, 0x44F}}, 2);
    return text;
}

const Text& ThreeByteText() {
    // CJK unified ideographs.
    static const Text text = MakeText({{0x4E00, 0x9FA5}}, 3);
    return text;
}

// ---- The converters, one call each, as a user would make it ----

// A converter fills `out` (sized for the whole text plus a terminator) and
// returns the units or bytes it wrote, or -1 on failure.
long DecodeOrvex(const std::string& in, std::vector<wchar_t>& out) {
    const unsigned result =
        Orvex::Utf8ToUcs(in.c_str(), out.data(), static_cast<unsigned>(out.size()));
    return result == 0 || result > out.size() ? -1 : static_cast<long>(result) - 1;
}

// ICU with the length known, as from a std::string.
long DecodeIcu(const std::string& in, std::vector<UChar>& out) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length, in.data(),
                  static_cast<int32_t>(in.size()), &error);
    return U_FAILURE(error) ? -1 : length;
}

// ICU told to find the terminator itself, the form that takes what ours takes.
long DecodeIcuTerminated(const std::string& in, std::vector<UChar>& out) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length, in.c_str(), -1, &error);
    return U_FAILURE(error) ? -1 : length;
}

long EncodeOrvex(const std::wstring& in, std::vector<char>& out) {
    const unsigned result =
        Orvex::UcsToUtf8(in.c_str(), out.data(), static_cast<unsigned>(out.size()));
    return result == 0 || result > out.size() ? -1 : static_cast<long>(result) - 1;
}

long EncodeIcu(const std::u16string& in, std::vector<char>& out) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length,
                reinterpret_cast<const UChar*>(in.data()), static_cast<int32_t>(in.size()), &error);
    return U_FAILURE(error) ? -1 : length;
}

long EncodeIcuTerminated(const std::u16string& in, std::vector<char>& out) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length,
                reinterpret_cast<const UChar*>(in.c_str()), -1, &error);
    return U_FAILURE(error) ? -1 : length;
}

// One iconv descriptor per direction, opened once: opening it per call would
// only make iconv look slower than a careful user sees it.
class IconvConverter {
public:
    IconvConverter(const char* to, const char* from) : handle_(iconv_open(to, from)) {
        if (handle_ == reinterpret_cast<iconv_t>(-1)) {
            std::fprintf(stderr, "iconv_open(\"%s\", \"%s\") failed\n", to, from);
            std::abort();
        }
    }
    ~IconvConverter() { iconv_close(handle_); }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    // Converts `inBytes` bytes and returns the bytes written, or -1.
    long Convert(const void* in, std::size_t inBytes, void* out, std::size_t outBytes) {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr); // back to the initial state
        char* inCursor = const_cast<char*>(static_cast<const char*>(in));
        char* outCursor = static_cast<char*>(out);
        std::size_t outLeft = outBytes;
        if (iconv(handle_, &inCursor, &inBytes, &outCursor, &outLeft) ==
            static_cast<std::size_t>(-1)) {
            return -1;
        }
        return static_cast<long>(outBytes - outLeft);
    }

private:
    iconv_t handle_;
};

IconvConverter& IconvDecoder() {
    static IconvConverter converter("WCHAR_T", "UTF-8");
    return converter;
}

IconvConverter& IconvEncoder() {
    static IconvConverter converter("UTF-8", "WCHAR_T");
    return converter;
}

long DecodeIconv(const std::string& in, std::vector<wchar_t>& out) {
    const long bytes =
        IconvDecoder().Convert(in.data(), in.size(), out.data(), out.size() * sizeof(wchar_t));
    return bytes < 0 ? -1 : bytes / static_cast<long>(sizeof(wchar_t));
}

long EncodeIconv(const std::wstring& in, std::vector<char>& out) {
    return IconvEncoder().Convert(in.data(), in.size() * sizeof(wchar_t), out.data(), out.size());
}

// ---- Checking and timing ----

[[noreturn]] void Fail(const char* contender, const char* direction, const char* textName) {
    std::fprintf(stderr, "%s (%s, %s text): output differs from the expected text\n", contender,
                 direction, textName);
    std::abort();
}

template <typename Unit>
bool SameCodePoints(const std::vector<Unit>& units, long length, const Text& text) {
    if (length != static_cast<long>(text.codePoints.size())) {
        return false;
    }
    using Unsigned = typename std::make_unsigned<Unit>::type;
    for (std::size_t i = 0; i < text.codePoints.size(); ++i) {
        if (static_cast<std::uint32_t>(static_cast<Unsigned>(units[i])) != text.codePoints[i]) {
            return false;
        }
    }
    return true;
}

bool SameBytes(const std::vector<char>& bytes, long length, const Text& text) {
    return length == static_cast<long>(text.utf8.size()) &&
           std::string(bytes.data(), static_cast<std::size_t>(length)) == text.utf8;
}

template <typename Convert>
void Time(benchmark::State& state, Convert convert, std::size_t utf8Bytes) {
    for (auto _ : state) {
        long length = convert();
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(utf8Bytes));
}

// Each contender is checked once against the expected text before it is
// registered: a converter that gives other code points measures nothing
// worth knowing. Output buffers have room for the whole text and a terminator.
template <typename Out>
void AddDecoder(const Text& text, const char* textName, const char* contender,
                long (*decode)(const std::string&, std::vector<Out>&)) {
    std::vector<Out> check(text.codePoints.size() + 1);
    if (!SameCodePoints(check, decode(text.utf8, check), text)) {
        Fail(contender, "from UTF-8", textName);
    }
    const std::string name = std::string("Utf8ToUcs/") + textName + "/" + contender;
    benchmark::RegisterBenchmark(name.c_str(), [&text, decode](benchmark::State& state) {
        std::vector<Out> out(text.codePoints.size() + 1);
        Time(
            state, [&] { return decode(text.utf8, out); }, text.utf8.size());
    });
}

template <typename In>
void AddEncoder(const Text& text, const char* textName, const char* contender, const In& in,
                long (*encode)(const In&, std::vector<char>&)) {
    std::vector<char> check(text.utf8.size() + 1);
    if (!SameBytes(check, encode(in, check), text)) {
        Fail(contender, "to UTF-8", textName);
    }
    const std::string name = std::string("UcsToUtf8/") + textName + "/" + contender;
    benchmark::RegisterBenchmark(name.c_str(), [&text, &in, encode](benchmark::State& state) {
        std::vector<char> out(text.utf8.size() + 1);
        Time(
            state, [&] { return encode(in, out); }, text.utf8.size());
    });
}

void AddText(const Text& text, const char* name) {
    AddDecoder(text, name, "Orvex", DecodeOrvex);
    AddDecoder(text, name, "ICU", DecodeIcu);
    AddDecoder(text, name, "ICU-nul", DecodeIcuTerminated);
    AddDecoder(text, name, "iconv", DecodeIconv);
    AddEncoder(text, name, "Orvex", text.wide, EncodeOrvex);
    AddEncoder(text, name, "ICU", text.utf16, EncodeIcu);
    AddEncoder(text, name, "ICU-nul", text.utf16, EncodeIcuTerminated);
    AddEncoder(text, name, "iconv", text.wide, EncodeIconv);
}

} // namespace

int main(int argc, char** argv) {
    AddText(AsciiText(), "ascii");
    AddText(TwoByteText(), "2-byte");
    AddText(ThreeByteText(), "3-byte");
    return RunRegisteredBenchmarks(argc, argv);
}
