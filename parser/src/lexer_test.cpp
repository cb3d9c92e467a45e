#include "parser/src/lexer.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvo::parser {
namespace {

// The tokens of `source` as "KIND:text" words (text omitted for NEWLINE, INDENT, DEDENT and
// ENDMARKER), or "error: message @start..end".
std::string describe(std::string_view source) {
  LexResult result = lex(source);
  if (result.error) {
    return "error: " + result.error->message + " @" + std::to_string(result.error->range.start) +
           ".." + std::to_string(result.error->range.end);
  }
  std::string out;
  for (const Token& t : result.tokens) {
    if (!out.empty()) out += ' ';
    out += token_kind_text(t.kind);
    if (t.kind != TokenKind::kNewline && t.kind != TokenKind::kIndent &&
        t.kind != TokenKind::kDedent && t.kind != TokenKind::kEndMarker) {
      out += ':';
      out += source.substr(t.start, t.end - t.start);
    }
  }
  return out;
}

struct LexCase {
  const char* source;
  const char* tokens;
};

TEST(LexerTest, TokensOfTrickyInputs) {
  const LexCase cases[] = {
      {"x = 1\n", "NAME:x =:= NUMBER:1 NEWLINE ENDMARKER"},
      {"x", "NAME:x NEWLINE ENDMARKER"},
      {"", "ENDMARKER"},
      {"\n\n# c\n", "ENDMARKER"},
      // Indentation, blank lines and comment lines inside blocks.
      {"if a:\n  b\n\n  # c\n  c\nd\n",
       "if:if NAME:a ::: NEWLINE INDENT NAME:b NEWLINE NAME:c NEWLINE DEDENT NAME:d NEWLINE "
       "ENDMARKER"},
      {"if a:\n if b:\n  c\n",
       "if:if NAME:a ::: NEWLINE INDENT if:if NAME:b ::: NEWLINE INDENT "
       "NAME:c NEWLINE DEDENT DEDENT ENDMARKER"},
      // A tab reaches column 8, as eight spaces do, and the alternative columns agree.
      {"if a:\n\tb\n\tc\n",
       "if:if NAME:a ::: NEWLINE INDENT NAME:b NEWLINE NAME:c NEWLINE "
       "DEDENT ENDMARKER"},
      // Brackets join lines; a backslash joins them explicitly.
      {"f(a,\n  b)\n", "NAME:f (:( NAME:a ,:, NAME:b ):) NEWLINE ENDMARKER"},
      {"a = \\\n  1\n", "NAME:a =:= NUMBER:1 NEWLINE ENDMARKER"},
      {"a\r\nb\rc\n", "NAME:a NEWLINE NAME:b NEWLINE NAME:c NEWLINE ENDMARKER"},
      // A continuation at a line's start: the column after it (or of the first backslash when
      // that is not column 0) is the indentation; a line left blank or comment-only stays so.
      {"if x:\n\\\n    y\n", "if:if NAME:x ::: NEWLINE INDENT NAME:y NEWLINE DEDENT ENDMARKER"},
      {"if x:\n  \\\n      y\n", "if:if NAME:x ::: NEWLINE INDENT NAME:y NEWLINE DEDENT ENDMARKER"},
      {"\\\n # c\n\nx\n", "NAME:x NEWLINE ENDMARKER"},
      // Every prefix, any case; a name that only looks like a prefix.
      {"rb'a' Br\"b\" u'c' F'd' fR'e' rb'''x''' ub'f'",
       "STRING:rb'a' STRING:Br\"b\" STRING:u'c' FSTRING_START:F' FSTRING_MIDDLE:d FSTRING_END:' "
       "FSTRING_START:fR' FSTRING_MIDDLE:e FSTRING_END:' STRING:rb'''x''' NAME:ub STRING:'f' "
       "NEWLINE ENDMARKER"},
      {"'a\\'b' r'\\'' '''x\n'y'''",
       "STRING:'a\\'b' STRING:r'\\'' STRING:'''x\n'y''' NEWLINE "
       "ENDMARKER"},
      // F-strings: nested quotes and f-strings, format specs with fields, debug "=", "!r".
      {"f'{x!r:>{w}}'",
       "FSTRING_START:f' {:{ NAME:x !:! NAME:r ::: FSTRING_MIDDLE:> {:{ NAME:w }:} }:} "
       "FSTRING_END:' NEWLINE ENDMARKER"},
      {"f\"{f'{x}'}\"",
       "FSTRING_START:f\" {:{ FSTRING_START:f' {:{ NAME:x }:} FSTRING_END:' }:} "
       "FSTRING_END:\" NEWLINE ENDMARKER"},
      {"f'{'a'}'", "FSTRING_START:f' {:{ STRING:'a' }:} FSTRING_END:' NEWLINE ENDMARKER"},
      {"f'a{{b}}{x=}'",
       "FSTRING_START:f' FSTRING_MIDDLE:a{{b}} {:{ NAME:x =:= }:} FSTRING_END:' "
       "NEWLINE ENDMARKER"},
      {"f'{x[1:2]}'",
       "FSTRING_START:f' {:{ NAME:x [:[ NUMBER:1 ::: NUMBER:2 ]:] }:} "
       "FSTRING_END:' NEWLINE ENDMARKER"},
      {"f'\\N{DASH}{x}'",
       "FSTRING_START:f' FSTRING_MIDDLE:\\N{DASH} {:{ NAME:x }:} FSTRING_END:' "
       "NEWLINE ENDMARKER"},
      {"f'{x!=y}'",
       "FSTRING_START:f' {:{ NAME:x !=:!= NAME:y }:} FSTRING_END:' NEWLINE "
       "ENDMARKER"},
      // In a format spec "{{" opens a nested field, but after one has closed it is a brace (and
      // "}}" ends the fields), as CPython's tokenizer reads it.
      {"f'{x:{{y}}}'",
       "FSTRING_START:f' {:{ NAME:x ::: {:{ {:{ NAME:y }:} }:} }:} FSTRING_END:' NEWLINE "
       "ENDMARKER"},
      {"f'{x:{y}{{z}}}'",
       "FSTRING_START:f' {:{ NAME:x ::: {:{ NAME:y }:} FSTRING_MIDDLE:{{z }:} FSTRING_MIDDLE:}} "
       "FSTRING_END:' NEWLINE ENDMARKER"},
      // A line break ends a single-quoted format spec, whose text token comes even when empty;
      // the field's expression tokens resume.
      {"(f'{x:a\n}', f'{x:\r\n{y}}')",
       "(:( FSTRING_START:f' {:{ NAME:x ::: FSTRING_MIDDLE:a }:} FSTRING_END:' ,:, "
       "FSTRING_START:f' {:{ NAME:x ::: FSTRING_MIDDLE: {:{ NAME:y }:} }:} FSTRING_END:' ):) "
       "NEWLINE ENDMARKER"},
      // Numbers of every base, underscores, exponents, imaginary; a keyword glued to a number.
      {"0x_Ff 0o17 0b1_0 1_000 1. .5 1e-3 1_0.0_1E+1_0 3j 0 00 0_0 1.5J",
       "NUMBER:0x_Ff NUMBER:0o17 NUMBER:0b1_0 NUMBER:1_000 NUMBER:1. NUMBER:.5 NUMBER:1e-3 "
       "NUMBER:1_0.0_1E+1_0 NUMBER:3j NUMBER:0 NUMBER:00 NUMBER:0_0 NUMBER:1.5J NEWLINE "
       "ENDMARKER"},
      {"1if x else 2", "NUMBER:1 if:if NAME:x else:else NUMBER:2 NEWLINE ENDMARKER"},
      {"x...y.z", "NAME:x ...:... NAME:y .:. NAME:z NEWLINE ENDMARKER"},
      {"a->b **= c //= d := e != f",
       "NAME:a ->:-> NAME:b **=:**= NAME:c //=://= NAME:d :=::= "
       "NAME:e !=:!= NAME:f NEWLINE ENDMARKER"},
      // Soft keywords are names; non-ASCII identifiers are names.
      {"match case type _ π", "NAME:match NAME:case NAME:type NAME:_ NAME:π NEWLINE ENDMARKER"},
      // Identifier characters of Unicode 15.1 (Python 3.13's), which ICU 72 lacks.
      {"\xF0\xAE\xAF\xB0 a\xE2\x80\x8D",
       "NAME:\xF0\xAE\xAF\xB0 NAME:a\xE2\x80\x8D NEWLINE ENDMARKER"},
  };
  for (const LexCase& c : cases) EXPECT_EQ(describe(c.source), c.tokens) << c.source;
}

TEST(LexerTest, ErrorsInCPythonsWords) {
  const LexCase cases[] = {
      {"if a:\n\tb\n        c\n",
       "error: inconsistent use of tabs and spaces in indentation @9..17"},
      {"if a:\n    b\n  c\n", "error: unindent does not match any outer indentation level @12..14"},
      {"x = 'abc\n", "error: unterminated string literal (detected at line 1) @4..5"},
      {"x = '''abc\n\n",
       "error: unterminated triple-quoted string literal (detected at line 3) "
       "@4..5"},
      {"x = f'{a\n", "error: unterminated f-string literal (detected at line 2) @4..5"},
      {"(f'{x:{y}\n}')", "error: unterminated f-string literal (detected at line 1) @1..2"},
      {"f'}'", "error: f-string: single '}' is not allowed @2..3"},
      {"f'{a:{b:{c:{d}}}}'", "error: f-string: expressions nested too deeply @11..12"},
      {"a \\ b", "error: unexpected character after line continuation character @2..3"},
      {"a = \\", "error: unexpected character after line continuation character @4..5"},
      {"(]", "error: closing parenthesis ']' does not match opening parenthesis '(' @1..2"},
      {"(\n]",
       "error: closing parenthesis ']' does not match opening parenthesis '(' on line 1 "
       "@2..3"},
      {")", "error: unmatched ')' @0..1"},
      {"foo(a,", "error: '(' was never closed @3..4"},
      {"0777",
       "error: leading zeros in decimal integer literals are not permitted; use an 0o "
       "prefix for octal integers @0..4"},
      {"0o8", "error: invalid digit '8' in octal literal @2..3"},
      {"0b12", "error: invalid digit '2' in binary literal @3..4"},
      {"0x", "error: invalid hexadecimal literal @0..2"},
      {"1__0", "error: invalid decimal literal @0..2"},
      {"1_", "error: invalid decimal literal @0..2"},
      {"1abc", "error: invalid decimal literal @0..2"},
      {"1e+", "error: invalid decimal literal @0..3"},
      {"a € b", "error: invalid character '€' (U+20AC) @2..5"},
      {"a\xe2\x80\x8b", "error: invalid non-printable character U+200B @1..4"},
      {"x = $", "error: invalid syntax @4..5"},
  };
  for (const LexCase& c : cases) EXPECT_EQ(describe(c.source), c.tokens) << c.source;
}

TEST(LexerTest, NulByteIsRefused) {
  EXPECT_EQ(describe(std::string_view("a\0b", 3)),
            "error: source code cannot contain null bytes @1..2");
}

TEST(LexerTest, IndentationLimit) {
  std::string source;
  for (int i = 0; i < 101; ++i) source += std::string(i, ' ') + "if x:\n";
  source += std::string(101, ' ') + "pass\n";
  EXPECT_NE(describe(source).find("error: too many levels of indentation"), std::string::npos);
}

TEST(LexerTest, CommentRangesExcludeTheLineBreak) {
  std::string_view source = "# a\nx = 1  # b\r\nif x:\n    # c\n    y\n#d";
  LexResult result = lex(source);
  ASSERT_FALSE(result.error);
  std::vector<std::string_view> comments;
  for (TextRange r : result.comments) comments.push_back(source.substr(r.start, r.end - r.start));
  EXPECT_EQ(comments, (std::vector<std::string_view>{"# a", "# b", "# c", "#d"}));
}

}  // namespace
}  // namespace tolvo::parser
