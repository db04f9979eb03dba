#!/usr/bin/env python3
"""Rebuilds fuzz/corpus: the examples and the JavaScript sources the tests
feed to the pipeline (their C++ string literals that read like JavaScript)."""
import hashlib
import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT = ROOT / "fuzz" / "corpus"
JS_WORDS = re.compile(r"\b(const|let|var|function|class|return|import|export|async|await|new|for|switch)\b")
LITERAL = re.compile(r'R"([A-Za-z_]*)\((.*?)\)\1"|"((?:[^"\\\n]|\\.)*)"', re.S)
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "'": "'", "0": "\0", "?": "?"}


def decode(body):
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            n = body[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]+", body[i + 2:])
                out.append(chr(int(m.group(0), 16) & 0xFF))
                i += 2 + len(m.group(0))
                continue
            out.append(ESCAPES.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def sources(text):
    """Adjacent literals joined, as the compiler joins them."""
    joined, last_end = None, None
    for m in LITERAL.finditer(text):
        piece = m.group(2) if m.group(2) is not None else decode(m.group(3))
        if joined is not None and text[last_end:m.start()].strip() == "":
            joined += piece
        else:
            if joined is not None:
                yield joined
            joined = piece
        last_end = m.end()
    if joined is not None:
        yield joined


def main():
    OUT.mkdir(exist_ok=True)
    seeds = {p.read_bytes() for p in (ROOT / "examples").glob("*.js")}
    for test in sorted((ROOT / "tests").glob("*.cpp")):
        for source in sources(test.read_text(encoding="utf-8")):
            if len(source) >= 8 and "\x1b" not in source and JS_WORDS.search(source) and re.search(r"[;=({]", source):
                seeds.add(source.encode("utf-8", "surrogateescape"))
    for seed in seeds:
        (OUT / hashlib.sha1(seed).hexdigest()[:16]).write_bytes(seed)
    print(f"{len(seeds)} seeds in {OUT}")


if __name__ == "__main__":
    main()
