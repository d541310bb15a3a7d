#!/usr/bin/env python3
"""Checks that the test suite makes the real programs print every fixed
failure message of their source.

  check_messages.py STDERR_LOG

The messages are the string literals passed to require_or_abort and
abort_with_message in io/*.cc (printed after "vesk-io: ") and index/*.cc
(after "vesk-index: "); where a helper passes its own parameter on, the
literals given to that helper count instead. STDERR_LOG holds the standard
error of every program run of the suite (the harness appends it there when
VESK_STDERR_LOG is set). Exit status 1 names the messages no test produced.
"""
import glob
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
FAILURE_CALLS = {"require_or_abort", "abort_with_message"}


def strip_comments(text):
    out, i, n = [], 0, len(text)
    while i < n:
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            i = text.find("*/", i + 2) + 2
        elif text[i] in "\"'":
            quote, j = text[i], i + 1
            while text[j] != quote:
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
CALL = re.compile(r"\b([A-Za-z_]\w*)\s*\(")


def arguments(text, open_paren):
    """Splits the argument list that starts at open_paren at top-level commas."""
    depth, start, args, i = 0, open_paren + 1, [], open_paren
    while True:
        c = text[i]
        if c == '"':
            i = LITERAL.match(text, i).end()
            continue
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append(text[start:i])
                return args
        elif c == "," and depth == 1:
            args.append(text[start:i])
            start = i + 1
        i += 1


def literal_text(argument):
    """The text of an argument made of string literals only, else None."""
    argument = argument.strip()
    parts = LITERAL.findall(argument)
    if not parts or LITERAL.sub("", argument).strip():
        return None
    return "".join(bytes(p, "ascii").decode("unicode_escape") for p in parts)


def messages_of(sources):
    """Follows the message argument through helpers: a function that hands
    one of its parameters to a failure call is a failure call itself, with
    that parameter's position."""
    texts = {path: strip_comments(open(path).read()) for path in sources}
    carriers = {name: None for name in FAILURE_CALLS}  # name -> message position
    changed = True
    while changed:
        changed = False
        for text in texts.values():
            for m in re.finditer(r"\b([A-Za-z_]\w*)\s*\(([^()]*)\)\s*(?:const\s*)?\{", text):
                name, params = m.group(1), [p.strip() for p in m.group(2).split(",")]
                if name in carriers or name in ("if", "while", "for", "switch"):
                    continue
                body_start = m.end() - 1
                depth, i = 0, body_start
                while True:
                    depth += {"{": 1, "}": -1}.get(text[i], 0)
                    if depth == 0:
                        break
                    i += 1
                body = text[body_start:i]
                for call in CALL.finditer(body):
                    if call.group(1) not in carriers:
                        continue
                    args = arguments(body, call.end() - 1)
                    last = args[-1].strip() if args else ""
                    for position, param in enumerate(params):
                        if param and re.search(r"\b" + re.escape(last) + r"$", param):
                            carriers[name] = position
                            changed = True
    found = set()
    for text in texts.values():
        for call in CALL.finditer(text):
            name = call.group(1)
            if name not in carriers:
                continue
            args = arguments(text, call.end() - 1)
            position = carriers[name]
            if position is None:
                position = len(args) - 1
            if position < len(args):
                message = literal_text(args[position])
                if message is not None:
                    found.add(message)
    return found


def unreachable():
    """Messages that tools/unreachable-messages.txt explains away."""
    listed = set()
    for line in open(os.path.join(ROOT, "tools", "unreachable-messages.txt")):
        line = line.split("#", 1)[0].strip()
        if line:
            listed.add(line)
    return listed


def main():
    log = open(sys.argv[1], encoding="latin-1").read().splitlines()
    excused = unreachable()
    missing = []
    total = 0
    for directory, prefix in (("io", "vesk-io: "), ("index", "vesk-index: ")):
        messages = messages_of(sorted(glob.glob(os.path.join(ROOT, directory, "*.cc"))))
        produced = {line[len(prefix):] for line in log if line.startswith(prefix)}
        total += len(messages)
        for message in sorted(messages):
            if message not in produced:
                missing.append(prefix + message)
    unexplained = [line for line in missing if line not in excused]
    print(f"failure messages produced by the suite: {total - len(missing)}/{total}"
          f" ({len(missing) - len(unexplained)} unreachable by design)")
    for line in missing:
        print(f"  never produced: {line}" + ("  (unreachable by design)" if line in excused else ""))
    return 1 if unexplained else 0


if __name__ == "__main__":
    sys.exit(main())
