#include "core/score_encoding.h"

#ifndef __EMSCRIPTEN__
#include <iconv.h>
#endif

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/cp932_mappings.h"

namespace {

constexpr char32_t BYTE_ESCAPE_LAST = ESCAPE_BASE + 0xFF;
constexpr char32_t PAIR_ESCAPE_FIRST = ESCAPE_BASE + 0x8100;
constexpr char32_t PAIR_ESCAPE_LAST = ESCAPE_BASE + 0xFCFF;

bool isBmpCharacter(char32_t c) {
  return c < 0x10000 && !isSurrogate(c);
}

// Reads every two-byte sequence that starts with `lead`.
template <class Converter>
void fillPairRow(Cp932Tables& t, unsigned lead, const Converter& cp932) {
  for (unsigned trail = 0; trail < 256; ++trail) {
    const Cp932Code pairCode = Cp932Code(lead << 8 | trail);
    const std::optional<Cp932Mapping> m = cp932.decode(pairCode);
    if (!m) continue;
    t.lead[lead] = true;
    if (isBmpCharacter(m->c) && m->c != Cp932Tables::NO_PAIR && m->c != Cp932Tables::ESCAPED_PAIR &&
        m->roundTrips) {
      t.pair[pairCode] = char16_t(m->c);
      t.code[m->c] = pairCode;
    } else {
      t.pair[pairCode] = Cp932Tables::ESCAPED_PAIR;
    }
  }
}

// Fills the tables from a converter's answers: decode(code) gives the one character the bytes
// of `code` decode to and whether it encodes back to them, or nothing when they are not
// exactly one character.
template <class Converter>
void fillFrom(Cp932Tables& t, const Converter& cp932) {
  for (unsigned b = 0; b < 256; ++b) {
    const std::optional<Cp932Mapping> m = cp932.decode(Cp932Code(b));
    if (!m) {
      fillPairRow(t, b, cp932);
    } else if (isBmpCharacter(m->c) && m->roundTrips) {
      t.single[b] = m->c;
      t.code[m->c] = Cp932Code(b);
    }  // else a one-byte character that does not come back: the byte stays escaped
  }
}

std::unique_ptr<Cp932Tables> emptyTables() {
  auto t = std::make_unique<Cp932Tables>();
  for (char32_t b = 0; b < 256; ++b) t->single[b] = ESCAPE_BASE + b;
  t->code.fill(NO_BYTES);
  return t;
}

// The listed mappings, looked up by their bytes.
class ListedCp932 {
 public:
  ListedCp932() : listed_(0x10000, Cp932Mapping{NOT_LISTED, false}) {
    for (const Cp932MappingRun& run : CP932_MAPPING_RUNS)
      for (uint16_t i = 0; i < run.count; ++i) listed_[run.code + i] = {run.c + i, run.roundTrips};
  }
  std::optional<Cp932Mapping> decode(Cp932Code code) const {
    const Cp932Mapping& m = listed_[code];
    if (m.c == NOT_LISTED) return std::nullopt;
    return m;
  }

 private:
  static constexpr char32_t NOT_LISTED = 0xFFFFFFFF;
  std::vector<Cp932Mapping> listed_;  // index: the bytes as a Cp932Code
};

#ifndef __EMSCRIPTEN__
struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle openConverter(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  return IconvHandle(cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd);
}

// Converts all of `in` from a fresh state; nullopt when iconv stops anywhere.
std::optional<std::string> convertAll(const IconvHandle& cd, std::string in) {
  iconv_t handle = static_cast<iconv_t>(cd.get());
  iconv(handle, nullptr, nullptr, nullptr, nullptr);
  char out[16];
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out;
  size_t outLeft = sizeof out;
  if (iconv(handle, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
      iconv(handle, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1))
    return std::nullopt;
  return std::string(out, outPtr);
}

// glibc's converter.
class IconvCp932 {
 public:
  IconvCp932()
      : toUtf32_(openConverter("UTF-32LE", "CP932")),
        fromUtf32_(openConverter("CP932", "UTF-32LE")) {}
  bool available() const { return toUtf32_ && fromUtf32_; }

  std::optional<Cp932Mapping> decode(Cp932Code code) const {
    const std::string bytes =
        code < 0x100 ? std::string(1, char(code)) : std::string{char(code >> 8), char(code & 0xFF)};
    const std::optional<std::string> utf32 = convertAll(toUtf32_, bytes);
    if (!utf32 || utf32->size() != 4) return std::nullopt;
    const auto* u = reinterpret_cast<const unsigned char*>(utf32->data());
    const char32_t c =
        char32_t(u[0]) | char32_t(u[1]) << 8 | char32_t(u[2]) << 16 | char32_t(u[3]) << 24;
    const char le[4] = {char(c & 0xFF), char(c >> 8 & 0xFF), char(c >> 16 & 0xFF), char(c >> 24)};
    const std::optional<std::string> encoded = convertAll(fromUtf32_, std::string(le, 4));
    return Cp932Mapping{c, encoded && *encoded == bytes};
  }

 private:
  IconvHandle toUtf32_;
  IconvHandle fromUtf32_;
};
#endif

}  // namespace

std::unique_ptr<Cp932Tables> listedCp932Tables() {
  std::unique_ptr<Cp932Tables> t = emptyTables();
  fillFrom(*t, ListedCp932());
  return t;
}

#ifndef __EMSCRIPTEN__
std::unique_ptr<Cp932Tables> iconvCp932Tables() {
  std::unique_ptr<Cp932Tables> t = emptyTables();
  const IconvCp932 cp932;
  if (cp932.available()) {
    fillFrom(*t, cp932);
  } else {
    // No converter on this system: ASCII reads as itself, every other byte as its escape.
    for (char32_t b = 0; b < 0x80; ++b) t->single[b] = b;
  }
  return t;
}

std::vector<Cp932MappingRun> iconvCp932MappingRuns() {
  std::vector<Cp932MappingRun> runs;
  const IconvCp932 cp932;
  if (!cp932.available()) return runs;
  auto add = [&](Cp932Code code) {
    const std::optional<Cp932Mapping> m = cp932.decode(code);
    if (!m) return false;
    Cp932MappingRun* last = runs.empty() ? nullptr : &runs.back();
    if (last && last->code + last->count == code && last->c + last->count == m->c &&
        last->roundTrips == m->roundTrips)
      ++last->count;
    else
      runs.push_back({code, m->c, 1, m->roundTrips});
    return true;
  };
  for (unsigned b = 0; b < 256; ++b)
    if (!add(Cp932Code(b)))
      for (unsigned trail = 0; trail < 256; ++trail) add(Cp932Code(b << 8 | trail));
  return runs;
}
#endif

namespace {

std::unique_ptr<Cp932Tables> buildTables() {
#ifdef __EMSCRIPTEN__
  return listedCp932Tables();  // Emscripten's C library converts no code page 932
#else
  return iconvCp932Tables();
#endif
}

}  // namespace

const Cp932Tables& cp932Tables() {
  static const std::unique_ptr<Cp932Tables> built = buildTables();
  return *built;
}

char32_t cp932Character(Cp932Code code) {
  static const ListedCp932 listed;
  const std::optional<Cp932Mapping> m = listed.decode(code);
  return m ? m->c : 0;
}

char32_t nearestCp932Character(char32_t c) {
  if (cp932Code(c) != NO_BYTES) return c;
#ifdef __EMSCRIPTEN__
  // The characters code page 932 writes in place of others come from iconv's one-way
  // conversions, which the list of mappings does not hold.
  return 0;
#else
  const Cp932Tables& t = cp932Tables();
  const IconvHandle fromUtf32 = openConverter("CP932", "UTF-32LE");
  if (!fromUtf32 || isSurrogate(c)) return 0;
  const char le[4] = {char(c & 0xFF), char(c >> 8 & 0xFF), char(c >> 16 & 0xFF), char(c >> 24)};
  const std::optional<std::string> bytes = convertAll(fromUtf32, std::string(le, 4));
  if (!bytes || bytes->empty() || bytes->size() > 2) return 0;
  const auto lead = static_cast<uint8_t>((*bytes)[0]);
  char32_t read = t.single[lead];
  if (bytes->size() == 2) {
    read = t.pair[Cp932Code(lead << 8 | static_cast<uint8_t>((*bytes)[1]))];
    if (read == Cp932Tables::NO_PAIR || read == Cp932Tables::ESCAPED_PAIR) return 0;
  }
  return cp932Code(read) != NO_BYTES && escapeCode(read) == NO_BYTES ? read : 0;
#endif
}

Cp932Code escapeCode(char32_t c) {
  if ((c >= ESCAPE_BASE && c <= BYTE_ESCAPE_LAST) ||
      (c >= PAIR_ESCAPE_FIRST && c <= PAIR_ESCAPE_LAST))
    return Cp932Code(c - ESCAPE_BASE);
  return NO_BYTES;
}

char* writeUtf8(char* out, char32_t c) {
  if (c < 0x80) {
    *out++ = char(c);
  } else if (c < 0x800) {
    *out++ = char(0xC0 | c >> 6);
    *out++ = char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = char(0xE0 | c >> 12);
    *out++ = char(0x80 | (c >> 6 & 0x3F));
    *out++ = char(0x80 | (c & 0x3F));
  } else {
    *out++ = char(0xF0 | c >> 18);
    *out++ = char(0x80 | (c >> 12 & 0x3F));
    *out++ = char(0x80 | (c >> 6 & 0x3F));
    *out++ = char(0x80 | (c & 0x3F));
  }
  return out;
}

void appendUtf8(std::string& out, char32_t c) {
  char bytes[4];
  out.append(bytes, writeUtf8(bytes, c));
}

Utf8Sequence readUtf8(const uint8_t* p, const uint8_t* end) {
  const uint8_t b = *p;
  if (b < 0x80) return {b, 1};
  int length;
  char32_t least;
  char32_t c;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2, least = 0x80, c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, least = 0x800, c = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, least = 0x10000, c = b & 0x07;
  } else {
    return {0, 0};
  }
  if (end - p < length) return {0, 0};
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return {0, 0};
    c = c << 6 | (p[i] & 0x3F);
  }
  if (c < least || c > 0x10FFFF || isSurrogate(c)) return {0, 0};
  return {c, length};
}

FileEncoding detectScoreEncoding(std::string_view fileBytes) {
  if (fileBytes.starts_with(UTF8_BYTE_ORDER_MARK)) return {TextEncoding::Utf8, true};
  bool beyondAscii = false;
  const auto* p = reinterpret_cast<const uint8_t*>(fileBytes.data());
  const auto* const end = p + fileBytes.size();
  while (p < end) {
    const int length = readUtf8(p, end).length;
    if (length == 0) return {};
    beyondAscii = beyondAscii || length > 1;
    p += length;
  }
  return beyondAscii ? FileEncoding{TextEncoding::Utf8, false} : FileEncoding{};
}
