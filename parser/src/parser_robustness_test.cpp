// The parser never crashes: deep nesting, a huge file, random text and every prefix of a real
// file each give a tree or an error, also on a 2 MiB stack like the indexing workers have.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "parser/src/parser.h"
#include "parser/src/small_stack_for_tests.h"

namespace tolvo::parser {
namespace {

using test_support::kWorkerStack;
using test_support::on_small_stack;

// A tree whose top-level statements lie in order inside the text, or an error whose range does.
void expect_tree_or_error(std::string_view source, const std::string& what) {
  auto result = parse_module(source);
  if (result) {
    uint32_t previous_end = 0;
    for (const Stmt* stmt : result->body()) {
      ASSERT_LE(previous_end, stmt->range.start) << what;
      ASSERT_LE(stmt->range.start, stmt->range.end) << what;
      previous_end = stmt->range.end;
    }
    ASSERT_LE(previous_end, source.size()) << what;
    for (TextRange comment : result->comments()) {
      ASSERT_LT(comment.start, comment.end) << what;
      ASSERT_LE(comment.end, source.size()) << what;
      ASSERT_EQ(source[comment.start], '#') << what;
    }
  } else {
    EXPECT_FALSE(result.error().message.empty()) << what;
    ASSERT_LE(result.error().range.start, result.error().range.end) << what;
    ASSERT_LE(result.error().range.end, source.size())
        << what << ": the error range ends past the text: " << display_text(result.error());
  }
}

std::string repeat(std::string_view piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

struct Nesting {
  const char* name;
  std::string_view open;
  std::string_view middle;
  std::string_view close;
};

constexpr size_t kDepth = 100000;

const Nesting kNestings[] = {
    {"parentheses", "(", "x", ")"},
    {"brackets", "[", "x", "]"},
    {"braces", "{", "x", "}"},
    {"dict_values", "{1: ", "x", "}"},
    {"calls", "f(", "x", ")"},
    {"subscripts", "x[", "0", "]"},
    {"unary_minus", "-", "x", ""},
    {"not", "not ", "x", ""},
    {"invert_no_space", "~", "x", ""},
    {"await", "await ", "x", ""},
    {"power", "x**", "x", ""},
    {"conditional", "x if x else ", "x", ""},
    {"lambdas", "lambda: ", "0", ""},
    {"lambda_defaults", "lambda a=", "0", ": 0"},
    {"walrus", "(y := ", "x", ")"},
    {"starred_tuples", "*(", "x", ",),"},
    {"generators", "(x for x in ", "y", ")"},
    {"fstrings", "f'{", "x", "}'"},
    {"fstring_specs", "f'{x:{", "x", "}}'"},
    {"attribute_chain", "", "x", ".a"},
    {"binary_chain", "", "x", "+x"},
    {"comparison_chain", "", "x", "<x"},
    {"string_concatenation", "", "'a'", " 'b'"},
    {"decorators", "@d\n", "def f(): pass", ""},
    {"elif_chain", "if x: pass\n", "", "elif x: pass\n"},
    {"semicolons", "", "x", ";x"},
    {"slices", "x[", "a:b", ",a:b]"},
    {"yield", "(yield ", "x", ")"},
    {"dict_comprehension", "{x: ", "y", " for x in z}"},
};

std::string nested(const Nesting& n, size_t depth) {
  return repeat(n.open, depth) + std::string(n.middle) + repeat(n.close, depth);
}

TEST(ParserRobustnessTest, DeepNestingGivesTreeOrError) {
  for (const Nesting& n : kNestings) {
    expect_tree_or_error(nested(n, kDepth), n.name);
  }
}

TEST(ParserRobustnessTest, DeepNestingOnWorkerStack) {
  on_small_stack([] {
    for (const Nesting& n : kNestings) {
      for (size_t depth : {size_t{50}, size_t{200}, size_t{1000}, kDepth}) {
        expect_tree_or_error(nested(n, depth), std::string(n.name) + " " + std::to_string(depth));
      }
    }
  });
}

// Blocks nest by indentation, so their text grows with the square of the depth.
std::string nested_blocks(size_t depth, std::string_view header) {
  std::string out;
  for (size_t i = 0; i < depth; ++i) {
    out.append(i, ' ');
    out += header;
  }
  out.append(depth, ' ');
  out += "pass\n";
  return out;
}

TEST(ParserRobustnessTest, DeepBlocksGiveTreeOrError) {
  on_small_stack([] {
    for (std::string_view header :
         {"if x:\n", "def f():\n", "class C:\n", "with a:\n", "try:\n", "for x in y:\n"}) {
      for (size_t depth : {size_t{99}, size_t{100}, size_t{101}, size_t{2000}}) {
        expect_tree_or_error(nested_blocks(depth, header),
                             std::string(header) + " " + std::to_string(depth));
      }
    }
  });
}

// A Python thread may have a stack of 64 KiB. Recursion stops where the stack runs low, and the
// refusal is marked as the thread's, not the text's, while a larger stack parses the same text.
// The stack left is set by hand: sanitizers give a thread more stack than it asked for.
TEST(ParserRobustnessTest, ASmallThreadStackRefusesDeepNestingAsItsOwn) {
  const std::string deep = nested_blocks(99, "def f():\n");
  const std::string expressions = nested(kNestings[0], 190);
  for (const std::string* source : {&deep, &expressions}) {
    // On the workers' stack the fixed limits come first (a sanitizer's frames may reach them).
    on_small_stack([&] {
      auto result = parse_module(*source);
      EXPECT_TRUE(result.has_value() || !result.error().thread_stack_exhausted);
    });
    for (size_t left : {size_t{8} << 10, size_t{24} << 10}) {
      test_support::with_stack_left(left, [&] {
        auto result = parse_module(*source);
        ASSERT_FALSE(result.has_value()) << left;
        EXPECT_TRUE(result.error().thread_stack_exhausted) << display_text(result.error());
      });
    }
  }
  // A text that fails on any stack fails for its own reason once the stack suffices.
  on_small_stack([] {
    auto result = parse_module("def f(:\n    pass\n");
    ASSERT_FALSE(result.has_value());
    EXPECT_FALSE(result.error().thread_stack_exhausted);
  });
}

// Python-like text of every kind of construct, non-ASCII and CR LF included.
constexpr std::string_view kSample =
    "# -*- coding: utf-8 -*-\n"
    "\"\"\"Module doc with \\N{EM DASH} and é.\"\"\"\n"
    "from __future__ import annotations\n"
    "import os.path as p, sys\n"
    "from .pkg import (a as b,\n    c)  # trailing\n"
    "\n"
    "@decorator(arg=1, **extra)\n"
    "class Ünïcode[T: int = str, *Ts, **P](Base, metaclass=Meta):\r\n"
    "    field: list[int] = []  # comment é\r\n"
    "    other = {'k': (1, 2.5e-3, 0x_ff, 3j), **rest}\n"
    "\n"
    "    async def method(self, a, /, b: int = 2, *args: str, c, **kw) -> None:\n"
    "        '''doc\n        string'''\n"
    "        x = f'{a!r:>{b}} {{}} {c=}' 'tail' + rb'\\x00'\n"
    "        async with open(p) as f, g() as (h, i):\n"
    "            await f.read()\n"
    "        async for j in k: yield j\n"
    "        return [y for y in range(10) if y % 2 if y]\n"
    "\n"
    "match command.split():\n"
    "    case [\"go\", direction] if direction in {'n', 's'}:\n"
    "        pass\n"
    "    case {\"k\": 1, **others} | Point(x=0, y=_) as pt:\n"
    "        del pt\n"
    "try:\n    raise ValueError('x') from None\n"
    "except* (TypeError, ValueError) as eg:\n    pass\n"
    "else:\n    pass\nfinally:\n    pass\n"
    "type Alias[K] = dict[K, lambda: (yield)]\n"
    "while (n := n - 1) > 0:\n    global q; nonlocal_ = not -~+n ** 2 // 3 @ m\n"
    "print(*args, sep='', **{'end': '\\n'}); x[1:2, ::3, ...] = y = z\n"
    "if a:\n\tpass\nelif b: pass\nelse:\n    assert x, \"m\"\n";

TEST(ParserRobustnessTest, EveryPrefixGivesTreeOrError) {
  ASSERT_TRUE(parse_module(kSample).has_value()) << display_text(parse_module(kSample).error());
  on_small_stack([] {
    for (size_t cut = 0; cut <= kSample.size(); ++cut) {
      if (cut < kSample.size() && (static_cast<unsigned char>(kSample[cut]) & 0xC0) == 0x80) {
        continue;  // inside a character: the parser's input is always valid UTF-8
      }
      expect_tree_or_error(kSample.substr(0, cut), "prefix " + std::to_string(cut));
    }
  });
}

// Appends one random scalar value, of one to four bytes, surrogates excluded.
void append_random_character(std::mt19937& rng, std::string& out) {
  uint32_t c;
  switch (rng() % 4) {
    case 0:
      c = rng() % 0x80;
      break;
    case 1:
      c = 0x80 + rng() % (0x800 - 0x80);
      break;
    case 2:
      do c = 0x800 + rng() % (0x10000 - 0x800);
      while (c >= 0xD800 && c <= 0xDFFF);
      break;
    default:
      c = 0x10000 + rng() % (0x110000 - 0x10000);
      break;
  }
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

TEST(ParserRobustnessTest, RandomTextGivesTreeOrError) {
  // Pieces of Python in random order find far more parser paths than uniform noise does.
  static constexpr std::string_view kPieces[] = {
      "(",     ")",     "[",          "]",    "{",    "}",      ":",    ",",     ";",      ".",
      "...",   "=",     ":=",         "->",   "**",   "*",      "@",    "+",     "-",      "~",
      "<",     "<=",    "!=",         "\\\n", "\n",   "\r\n",   "\r",   " ",     "\t",     "    ",
      "x",     "é",     "1",          "0x",   "1e",   "1_",     "j",    "'",     "\"",     "'''",
      "f'",    "rb\"",  "{x!r:>{y}}", "#c",   "if",   "else",   "def",  "class", "lambda", "yield",
      "await", "async", "match",      "case", "type", "import", "from", "as",    "not",    "in",
      "is",    "\\",    "\f",         "\x00", "\x01", "$",      "?",    "`"};
  std::mt19937 rng(12345);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    size_t length = rng() % 120;
    int mode = i % 3;
    for (size_t j = 0; j < length; ++j) {
      if (mode == 0) {
        text += kPieces[rng() % std::size(kPieces)];
      } else if (mode == 1) {
        text += static_cast<char>(rng() % 128);
      } else {
        append_random_character(rng, text);
      }
    }
    expect_tree_or_error(text, "random case " + std::to_string(i));
  }
}

TEST(ParserRobustnessTest, FiftyMegabyteFile) {
  std::string source;
  source.reserve(51 << 20);
  while (source.size() < (50u << 20)) source += kSample;
  auto result = parse_module(source);
  ASSERT_TRUE(result.has_value()) << display_text(result.error());
  EXPECT_GT(result->body().size(), 50u << 20 >> 11);
}

}  // namespace
}  // namespace tolvo::parser
