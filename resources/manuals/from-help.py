#!/usr/bin/env python3
"""Makes a program's manual page and its bash completion from its own --help text,
so that an option is written once, in the program. The build runs this after the
programs are built; the sections --help has no room for (exit status, files,
environment, examples) come from a template beside this script, in which --set
fills @NAME@ (the version, installed paths).

  from-help.py manual     --help-of PROGRAM --template FILE.in [--set NAME=VALUE...] --output FILE
  from-help.py completion --help-of PROGRAM --output FILE

--help-text FILE reads the text from a file instead of running a program.

The --help text this reads: a first line "usage: NAME ...", a paragraph saying what
the program does, then rows of options, each "  -x, --name VALUE   what it does" and
continued on lines indented to the column where the row's text begins, and then
paragraphs "Heading: text" that a template may place with @HELP:Heading@. A value
named FILE (or PATH) completes to files, DIR (or FOLDER) to folders, and a value
written a|b|c to one of its fixed choices."""

import argparse
import collections
import re
import subprocess
import sys

Option = collections.namedtuple("Option", "names value text")


def read_help(args):
    if args.help_text:
        with open(args.help_text, encoding="utf-8") as f:
            return f.read()
    return subprocess.run([args.help_of, "--help"], check=True, capture_output=True,
                          text=True).stdout


def text_column(rows):
    """Where the rows' text begins: the column most rows agree on, found after the
    first gap of two spaces (a long name may leave only one space before its text)."""
    ends = [m.end() for m in (re.compile(r"\S {2,}").search(r, 2) for r in rows) if m]
    return collections.Counter(ends).most_common(1)[0][0] if ends else 0


def parse_left(left):
    """'-e, --extension EXT' -> (['-e', '--extension'], 'EXT')."""
    names, value = [], ""
    for piece in left.split(", "):
        m = re.fullmatch(r"(-{1,2}[^\s=\[]+)(?:\[?=|\s+)?(.*?)\]?", piece.strip())
        if m and piece.strip().startswith("-"):
            names.append(m.group(1))
            value = m.group(2) or value
        else:
            names.append(piece.strip())
    return names, value


def parse(help_text):
    paragraphs = [p for p in re.split(r"\n\s*\n", help_text.strip("\n")) if p.strip()]
    first = paragraphs[0].splitlines()
    if not first[0].startswith("usage: "):
        sys.exit("from-help.py: the --help text does not begin with 'usage: '")
    usage = first[0][len("usage: "):]
    description = [" ".join(line.strip() for line in first[1:])] if len(first) > 1 else []
    options, notes = [], collections.OrderedDict()
    for paragraph in paragraphs[1:]:
        lines = paragraph.splitlines()
        if not lines[0].startswith("  "):
            heading, _, rest = paragraph.partition(":")
            if rest and "\n" not in heading and len(heading.split()) <= 3:
                notes[heading.strip()] = " ".join(rest.split())
            else:
                description.append(" ".join(paragraph.split()))
            continue
        rows = [line for line in lines if len(line) - len(line.lstrip()) < 8]
        column = text_column(rows)
        for line in lines:
            indent = len(line) - len(line.lstrip())
            if options and column and indent >= column:
                text = options[-1].text + " " + line.strip()
                options[-1] = options[-1]._replace(text=text.strip())
                continue
            if column and len(line) > column and line[column - 1] == " " and line[:column].strip():
                left, text = line[:column], line[column:]
            else:
                stripped = line.strip()
                gap = re.search(r"\S {2,}", stripped)
                left, text = (stripped[:gap.start() + 1], stripped[gap.end():]) if gap else (stripped, "")
            names, value = parse_left(left.strip())
            options.append(Option(names, value, text.strip()))
    return usage, description, options, notes


# The manual page

def roff(text):
    text = text.replace("\\", "\\e")
    # Option names keep their minus signs; hyphens inside words stay hyphens.
    text = re.sub(r"(?<![\w-])-", r"\\-", text)
    text = re.sub(r"(?<=\\-)-", r"\\-", text)
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


def roff_usage(usage):
    name, _, rest = usage.partition(" ")
    rest = re.sub(r"[A-Z][A-Z|]*[A-Z]", lambda m: "\\fI" + m.group(0) + "\\fR", roff(rest))
    return f"\\fB{roff(name)}\\fR {rest}"


def roff_option(option):
    names = ", ".join("\\fB" + roff(n) + "\\fR" if n.startswith("-") else "\\fI" + roff(n) + "\\fR"
                      for n in option.names)
    value = f" \\fI{roff(option.value)}\\fR" if option.value else ""
    return f".TP\n{names}{value}\n{roff(option.text)}"


def manual(args, help_text):
    usage, description, options, notes = parse(help_text)
    with open(args.template, encoding="utf-8") as f:
        page = f.read()
    used = set()

    def note(m):
        heading = m.group(1)
        if heading not in notes:
            sys.exit(f"from-help.py: the template places '{heading}:', which --help lacks")
        used.add(heading)
        return roff(notes[heading])

    page = re.sub(r"@HELP:([^@]+)@", note, page)
    # A note of --help that the template does not place is not lost.
    description += [f"{h}: {t}" for h, t in notes.items() if h not in used]
    for setting in args.set:
        name, _, value = setting.partition("=")
        page = page.replace(f"@{name}@", roff(value))
    page = page.replace("@SYNOPSIS@", roff_usage(usage))
    page = page.replace("@DESCRIPTION@", "\n.PP\n".join(roff(d) for d in description))
    page = page.replace("@OPTIONS@", "\n".join(roff_option(o) for o in options))
    left = re.findall(r"@[A-Z_]+@", page)
    if left:
        sys.exit(f"from-help.py: {args.template} leaves {', '.join(left)} unfilled")
    return page


# The bash completion

def completion(help_text):
    usage, _, options, _ = parse(help_text)
    program = usage.split()[0]
    function = "_" + re.sub(r"\W", "_", program)
    names = [n for o in options for n in o.names if n.startswith("-")]
    cases = []
    for o in options:
        flags = [n for n in o.names if n.startswith("-")]
        if not flags or not o.value:
            continue
        if "|" in o.value:
            action = "COMPREPLY=($(compgen -W '%s' -- \"$cur\"))" % " ".join(o.value.split("|"))
        elif o.value in ("DIR", "FOLDER"):
            action = "_filedir -d"
        elif o.value in ("FILE", "PATH"):
            action = "_filedir"
        else:
            action = ":"  # a number or a word of the user's own
        cases.append(f"        {'|'.join(flags)})\n            {action}\n            return\n            ;;")
    return f"""# bash completion for {program}, made from its --help when it was built
{function}()
{{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
{chr(10).join(cases)}
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '{" ".join(names)}' -- "$cur"))
        return
    fi
    _filedir
}} &&
    complete -F {function} {program}
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=("manual", "completion"))
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--help-of")
    source.add_argument("--help-text")
    parser.add_argument("--template")
    parser.add_argument("--set", action="append", default=[])
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    help_text = read_help(args)
    made = manual(args, help_text) if args.what == "manual" else completion(help_text)
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(made)


if __name__ == "__main__":
    main()
