// Character names for "\N{...}" escapes: ICU's names and name corrections, plus the aliases of
// Unicode's NameAliases.txt that ICU does not resolve (control names, abbreviations such as
// "NBSP", alternates and figments), all of which CPython accepts.
#include <unicode/uchar.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <iterator>

#include "parser/src/parser_internal.h"

namespace tolvo::parser {

namespace {

struct NameAlias {
  std::string_view name;
  int32_t code_point;
};

// Sorted by name. The variation selectors VS1 to VS256 are computed instead.
constexpr NameAlias kAliases[] = {
    {"ACK", 0x6},
    {"ACKNOWLEDGE", 0x6},
    {"ALERT", 0x7},
    {"ALM", 0x61C},
    {"APC", 0x9F},
    {"APPLICATION PROGRAM COMMAND", 0x9F},
    {"BACKSPACE", 0x8},
    {"BEL", 0x7},
    {"BOM", 0xFEFF},
    {"BPH", 0x82},
    {"BREAK PERMITTED HERE", 0x82},
    {"BS", 0x8},
    {"BYTE ORDER MARK", 0xFEFF},
    {"CAN", 0x18},
    {"CANCEL", 0x18},
    {"CANCEL CHARACTER", 0x94},
    {"CARRIAGE RETURN", 0xD},
    {"CCH", 0x94},
    {"CGJ", 0x34F},
    {"CHARACTER TABULATION", 0x9},
    {"CHARACTER TABULATION SET", 0x88},
    {"CHARACTER TABULATION WITH JUSTIFICATION", 0x89},
    {"CONTROL SEQUENCE INTRODUCER", 0x9B},
    {"CR", 0xD},
    {"CSI", 0x9B},
    {"DATA LINK ESCAPE", 0x10},
    {"DC1", 0x11},
    {"DC2", 0x12},
    {"DC3", 0x13},
    {"DC4", 0x14},
    {"DCS", 0x90},
    {"DEL", 0x7F},
    {"DELETE", 0x7F},
    {"DEVICE CONTROL FOUR", 0x14},
    {"DEVICE CONTROL ONE", 0x11},
    {"DEVICE CONTROL STRING", 0x90},
    {"DEVICE CONTROL THREE", 0x13},
    {"DEVICE CONTROL TWO", 0x12},
    {"DLE", 0x10},
    {"END OF GUARDED AREA", 0x97},
    {"END OF LINE", 0xA},
    {"END OF MEDIUM", 0x19},
    {"END OF PROTECTED AREA", 0x97},
    {"END OF SELECTED AREA", 0x87},
    {"END OF TEXT", 0x3},
    {"END OF TRANSMISSION", 0x4},
    {"END OF TRANSMISSION BLOCK", 0x17},
    {"ENQ", 0x5},
    {"ENQUIRY", 0x5},
    {"EOL", 0xA},
    {"EOM", 0x19},
    {"EOT", 0x4},
    {"EPA", 0x97},
    {"ESA", 0x87},
    {"ESC", 0x1B},
    {"ESCAPE", 0x1B},
    {"ETB", 0x17},
    {"ETX", 0x3},
    {"FF", 0xC},
    {"FILE SEPARATOR", 0x1C},
    {"FORM FEED", 0xC},
    {"FS", 0x1C},
    {"FSI", 0x2068},
    {"FVS1", 0x180B},
    {"FVS2", 0x180C},
    {"FVS3", 0x180D},
    {"GROUP SEPARATOR", 0x1D},
    {"GS", 0x1D},
    {"HIGH OCTET PRESET", 0x81},
    {"HOP", 0x81},
    {"HORIZONTAL TABULATION", 0x9},
    {"HORIZONTAL TABULATION SET", 0x88},
    {"HORIZONTAL TABULATION WITH JUSTIFICATION", 0x89},
    {"HT", 0x9},
    {"HTJ", 0x89},
    {"HTS", 0x88},
    {"IND", 0x84},
    {"INDEX", 0x84},
    {"INFORMATION SEPARATOR FOUR", 0x1C},
    {"INFORMATION SEPARATOR ONE", 0x1F},
    {"INFORMATION SEPARATOR THREE", 0x1D},
    {"INFORMATION SEPARATOR TWO", 0x1E},
    {"LF", 0xA},
    {"LINE FEED", 0xA},
    {"LINE TABULATION", 0xB},
    {"LINE TABULATION SET", 0x8A},
    {"LOCKING-SHIFT ONE", 0xE},
    {"LOCKING-SHIFT ZERO", 0xF},
    {"LRE", 0x202A},
    {"LRI", 0x2066},
    {"LRM", 0x200E},
    {"LRO", 0x202D},
    {"MESSAGE WAITING", 0x95},
    {"MMSP", 0x205F},
    {"MVS", 0x180E},
    {"MW", 0x95},
    {"NAK", 0x15},
    {"NBH", 0x83},
    {"NBSP", 0xA0},
    {"NEGATIVE ACKNOWLEDGE", 0x15},
    {"NEL", 0x85},
    {"NEW LINE", 0xA},
    {"NEXT LINE", 0x85},
    {"NL", 0xA},
    {"NNBSP", 0x202F},
    {"NO BREAK HERE", 0x83},
    {"NUL", 0x0},
    {"NULL", 0x0},
    {"OPERATING SYSTEM COMMAND", 0x9D},
    {"OSC", 0x9D},
    {"PAD", 0x80},
    {"PADDING CHARACTER", 0x80},
    {"PARTIAL LINE BACKWARD", 0x8C},
    {"PARTIAL LINE DOWN", 0x8B},
    {"PARTIAL LINE FORWARD", 0x8B},
    {"PARTIAL LINE UP", 0x8C},
    {"PDF", 0x202C},
    {"PDI", 0x2069},
    {"PLD", 0x8B},
    {"PLU", 0x8C},
    {"PM", 0x9E},
    {"PRIVACY MESSAGE", 0x9E},
    {"PRIVATE USE ONE", 0x91},
    {"PRIVATE USE TWO", 0x92},
    {"PRIVATE USE-1", 0x91},
    {"PRIVATE USE-2", 0x92},
    {"PU1", 0x91},
    {"PU2", 0x92},
    {"RECORD SEPARATOR", 0x1E},
    {"REVERSE INDEX", 0x8D},
    {"REVERSE LINE FEED", 0x8D},
    {"RI", 0x8D},
    {"RLE", 0x202B},
    {"RLI", 0x2067},
    {"RLM", 0x200F},
    {"RLO", 0x202E},
    {"RS", 0x1E},
    {"SCI", 0x9A},
    {"SET TRANSMIT STATE", 0x93},
    {"SGC", 0x99},
    {"SHIFT IN", 0xF},
    {"SHIFT OUT", 0xE},
    {"SHY", 0xAD},
    {"SI", 0xF},
    {"SINGLE CHARACTER INTRODUCER", 0x9A},
    {"SINGLE GRAPHIC CHARACTER INTRODUCER", 0x99},
    {"SINGLE SHIFT THREE", 0x8F},
    {"SINGLE SHIFT TWO", 0x8E},
    {"SINGLE-SHIFT-2", 0x8E},
    {"SINGLE-SHIFT-3", 0x8F},
    {"SO", 0xE},
    {"SOH", 0x1},
    {"SOS", 0x98},
    {"SP", 0x20},
    {"SPA", 0x96},
    {"SS2", 0x8E},
    {"SS3", 0x8F},
    {"SSA", 0x86},
    {"ST", 0x9C},
    {"START OF GUARDED AREA", 0x96},
    {"START OF HEADING", 0x1},
    {"START OF PROTECTED AREA", 0x96},
    {"START OF SELECTED AREA", 0x86},
    {"START OF STRING", 0x98},
    {"START OF TEXT", 0x2},
    {"STRING TERMINATOR", 0x9C},
    {"STS", 0x93},
    {"STX", 0x2},
    {"SUB", 0x1A},
    {"SUBSTITUTE", 0x1A},
    {"SYN", 0x16},
    {"SYNCHRONOUS IDLE", 0x16},
    {"TAB", 0x9},
    {"UNIT SEPARATOR", 0x1F},
    {"US", 0x1F},
    {"VERTICAL TABULATION", 0xB},
    {"VERTICAL TABULATION SET", 0x8A},
    {"VT", 0xB},
    {"VTS", 0x8A},
    {"WJ", 0x2060},
    {"ZWJ", 0x200D},
    {"ZWNBSP", 0xFEFF},
    {"ZWNJ", 0x200C},
    {"ZWSP", 0x200B},
};

// Characters Unicode 15.1 (Python 3.13's) added outside Extension I, unknown to ICU 72. Sorted.
constexpr NameAlias kUnicode151Names[] = {
    {"IDEOGRAPHIC DESCRIPTION CHARACTER HORIZONTAL REFLECTION", 0x2FFE},
    {"IDEOGRAPHIC DESCRIPTION CHARACTER ROTATION", 0x2FFF},
    {"IDEOGRAPHIC DESCRIPTION CHARACTER SUBTRACTION", 0x31EF},
    {"IDEOGRAPHIC DESCRIPTION CHARACTER SURROUND FROM LOWER RIGHT", 0x2FFD},
    {"IDEOGRAPHIC DESCRIPTION CHARACTER SURROUND FROM RIGHT", 0x2FFC},
};

template <size_t N>
int32_t find_name(const NameAlias (&table)[N], std::string_view name) {
  auto it = std::lower_bound(std::begin(table), std::end(table), name,
                             [](const NameAlias& a, std::string_view n) { return a.name < n; });
  return it != std::end(table) && it->name == name ? it->code_point : -1;
}

int32_t variation_selector(std::string_view name) {
  if (name.size() < 3 || name.size() > 5 || name.substr(0, 2) != "VS" || name[2] == '0') return -1;
  int n = 0;
  for (char c : name.substr(2)) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > 256) return -1;
  return n <= 16 ? 0xFE00 + n - 1 : 0xE0100 + n - 17;
}

// Python's "CJK UNIFIED IDEOGRAPH-" names: four or five uppercase hex digits of a unified
// ideograph (its ranges as of Unicode 15.1).
int32_t unified_ideograph(std::string_view digits) {
  if (digits.size() != 4 && digits.size() != 5) return -1;
  int32_t cp = 0;
  for (char c : digits) {
    if (c >= '0' && c <= '9') {
      cp = cp * 16 + (c - '0');
    } else if (c >= 'A' && c <= 'F') {
      cp = cp * 16 + (c - 'A' + 10);
    } else {
      return -1;
    }
  }
  static constexpr int32_t kRanges[][2] = {
      {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0x20000, 0x2A6DF}, {0x2A700, 0x2B739},
      {0x2B740, 0x2B81D}, {0x2B820, 0x2CEA1}, {0x2CEB0, 0x2EBE0}, {0x2EBF0, 0x2EE5D},
      {0x30000, 0x3134A}, {0x31350, 0x323AF}};
  for (const auto& range : kRanges) {
    if (cp >= range[0] && cp <= range[1]) return cp;
  }
  return -1;
}

}  // namespace

int32_t CharacterNames::lookup(std::string_view written) {
  auto it = cache_.find(std::string(written));
  if (it != cache_.end()) return it->second;
  std::string name(written);
  for (char& c : name) c = c >= 'a' && c <= 'z' ? char(c - 32) : c;
  std::string_view upper_name = name;
  // CPython matches names regardless of case, except the computed names of unified ideographs
  // and Hangul syllables, which must be written in capitals; it has no names for Tangut
  // ideographs, which ICU computes.
  constexpr std::string_view kIdeograph = "CJK UNIFIED IDEOGRAPH-";
  constexpr std::string_view kHangul = "HANGUL SYLLABLE ";
  int32_t result = -1;
  if (upper_name.starts_with(kIdeograph)) {
    if (written.starts_with(kIdeograph))
      result = unified_ideograph(written.substr(kIdeograph.size()));
  } else if (upper_name.starts_with("TANGUT IDEOGRAPH-") ||
             (upper_name.starts_with(kHangul) && written != upper_name)) {
    result = -1;
  } else {
    for (UCharNameChoice choice : {U_UNICODE_CHAR_NAME, U_CHAR_NAME_ALIAS}) {
      UErrorCode status = U_ZERO_ERROR;
      UChar32 value = u_charFromName(choice, name.c_str(), &status);
      throw_if_out_of_memory(status);
      if (U_SUCCESS(status) && value >= 0) {
        result = value;
        break;
      }
    }
    if (result < 0) result = find_name(kAliases, upper_name);
    if (result < 0) result = find_name(kUnicode151Names, upper_name);
    if (result < 0) result = variation_selector(upper_name);
  }
  cache_.emplace(std::string(written), result);
  return result;
}

}  // namespace tolvo::parser
