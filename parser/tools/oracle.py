"""CPython's own reading of a Python file, in the JSON shape that parser-dump prints.

The parser's corpus checks compare our parser with this: `ast.parse` decides what is valid, and
its line/column positions become byte ranges (end exclusive) the way parser-dump reports them.

    oracle.py FILE            prints {"ok": true, "module": ..., "comments": [...]} or the error
    oracle.py --check FILE... prints "ok PATH" or "error PATH: MESSAGE" per file

A file that begins with a UTF-8 byte-order mark is read as CPython reads a module file: the mark
is skipped (`ast.parse` of a text refuses U+FEFF) and the offsets still count its three bytes.
"""

from __future__ import annotations

import ast
import io
import json
import re
import sys
import tokenize
import warnings

BOM = "\ufeff"
BOM_BYTES = 3
LONE_CR = re.compile("\r(?!\n)")


def read_source(path) -> str | None:
    """The file's text, or None when it is not UTF-8 (such files are outside the corpus)."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return None


def _parse(text: str) -> ast.Module:
    with warnings.catch_warnings():
        # Invalid escape sequences and the like warn; only errors decide validity.
        warnings.simplefilter("ignore")
        return ast.parse(text[1:] if text.startswith(BOM) else text)


def verdict(text: str) -> tuple[bool, str]:
    """(accepted, CPython's message when refused)."""
    try:
        _parse(text)
        return True, ""
    except (SyntaxError, ValueError, MemoryError, RecursionError) as error:
        return False, f"{type(error).__name__}: {error}"


class Source:
    """A text with the offsets needed to turn CPython's positions into byte offsets."""

    def __init__(self, text: str):
        self.text = text
        self.data = text.encode("utf-8", "surrogatepass")
        self.bom = text.startswith(BOM)
        # Line starts as characters and as bytes: after LF, after CR LF, after a lone CR.
        char_starts = [0]
        byte_starts = [0]
        ascii_text = len(self.data) == len(text)
        i = 0
        n = len(text)
        find_lf = text.find
        if "\r" not in text:
            while True:
                i = find_lf("\n", i)
                if i < 0:
                    break
                i += 1
                char_starts.append(i)
        else:
            while i < n:
                c = text[i]
                i += 1
                if c == "\n" or (c == "\r" and (i == n or text[i] != "\n")):
                    char_starts.append(i)
        if ascii_text:
            byte_starts = char_starts
        else:
            previous = 0
            total = 0
            for start in char_starts[1:]:
                total += len(text[previous:start].encode("utf-8", "surrogatepass"))
                byte_starts.append(total)
                previous = start
        self.char_starts = char_starts
        self.byte_starts = byte_starts
        self.ascii = ascii_text

    def offset(self, lineno: int, col_offset: int) -> int:
        """Byte offset of a CPython position (col_offset counts UTF-8 bytes within the line)."""
        shift = BOM_BYTES if self.bom and lineno == 1 else 0
        return self.byte_starts[lineno - 1] + col_offset + shift

    def char_to_byte(self, lineno: int, col_chars: int) -> int:
        """Byte offset of a tokenize position (its column counts characters)."""
        start = self.char_starts[lineno - 1]
        if self.ascii:
            return start + col_chars
        return self.byte_starts[lineno - 1] + len(
            self.text[start : start + col_chars].encode("utf-8", "surrogatepass")
        )

    def node_range(self, node) -> list[int] | None:
        if getattr(node, "lineno", None) is None or getattr(node, "end_lineno", None) is None:
            return None
        return [
            self.offset(node.lineno, node.col_offset),
            self.offset(node.end_lineno, node.end_col_offset),
        ]


def _constant_value(node: ast.Constant, source: Source, node_range):
    value = node.value
    if value is None or isinstance(value, bool):
        return value
    if isinstance(value, str):
        return value
    if isinstance(value, bytes):
        return {"bytes": value.hex()}
    if value is Ellipsis:
        return {"ellipsis": True}
    kind = "int" if isinstance(value, int) else "float" if isinstance(value, float) else "complex"
    text = source.data[node_range[0] : node_range[1]].decode("utf-8") if node_range else repr(value)
    return {kind: text}


def to_json(node, source: Source):
    """The parser-dump shape of one CPython node (lists and plain values pass through)."""
    if isinstance(node, list):
        return [to_json(item, source) for item in node]
    if not isinstance(node, ast.AST):
        return node
    out = {"_type": type(node).__name__}
    node_range = source.node_range(node)
    if node_range is not None:
        out["range"] = node_range
    for field in node._fields:
        if field == "ctx":
            continue
        value = getattr(node, field, None)
        if isinstance(node, ast.Constant) and field == "value":
            out[field] = _constant_value(node, source, node_range)
        elif isinstance(value, (ast.AST, list)):
            out[field] = to_json(value, source)
        else:
            out[field] = value
    return out


def tokens(source: Source) -> list[tuple[int, int, int]] | None:
    """(exact token type, start byte, end byte) of every token; None when the tokenizer fails."""
    text = source.text[1:] if source.bom else source.text
    # The tokenizer reads lines at line feeds only; a lone carriage return ends a line for the
    # parser, so it is given as a line feed (one character and one byte either way).
    text = LONE_CR.sub("\n", text)
    out = []
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for token in tokenize.generate_tokens(io.StringIO(text).readline):
                (row, col), (end_row, end_col) = token.start, token.end
                if token.type in (tokenize.ENDMARKER, tokenize.DEDENT):
                    continue
                start_shift = 1 if source.bom and row == 1 else 0
                end_shift = 1 if source.bom and end_row == 1 else 0
                out.append(
                    (
                        token.exact_type,
                        source.char_to_byte(row, col + start_shift),
                        source.char_to_byte(end_row, end_col + end_shift),
                    )
                )
    except (tokenize.TokenError, SyntaxError, IndexError):
        return None
    return out


def comment_ranges(token_list) -> list[list[int]] | None:
    """Byte ranges of the comments of a token list."""
    if token_list is None:
        return None
    return [[s, e] for kind, s, e in token_list if kind == tokenize.COMMENT]


def dump(text: str, with_comments: bool = True) -> dict:
    """The parser-dump document of `text` as CPython sees it."""
    try:
        module = _parse(text)
    except (SyntaxError, ValueError, MemoryError, RecursionError) as error:
        return {"ok": False, "error": {"message": f"{type(error).__name__}: {error}"}}
    source = Source(text)
    result = {"ok": True, "module": to_json(module, source)}
    if with_comments:
        result["comments"] = comment_ranges(tokens(source))
    return result


def main(argv: list[str]) -> int:
    if argv and argv[0] == "--check":
        for path in argv[1:]:
            text = read_source(path)
            if text is None:
                print(f"error {path}: not UTF-8")
                continue
            ok, message = verdict(text)
            print(f"ok {path}" if ok else f"error {path}: {message}")
        return 0
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    text = read_source(argv[0])
    if text is None:
        print(f"{argv[0]}: not UTF-8", file=sys.stderr)
        return 1
    json.dump(dump(text), sys.stdout)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.setrecursionlimit(100000)
    sys.exit(main(sys.argv[1:]))
