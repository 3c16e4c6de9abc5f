#!/usr/bin/env python3
"""Checks the built manual pages against the programs they describe.

man_pages_check.py MAN_DIR VERSION PROGRAM...

Each page, rendered by groff, must hold every paragraph its program prints
for --help (the usage lines in its SYNOPSIS), name its version, and have the
sections a reader looks for; `PROGRAM --version`, where there is one, must
print the project's version.
"""
import os
import re
import subprocess
import sys

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "ENVIRONMENT", "FILES", "EXAMPLES", "SEE ALSO"]


def words(text):
    return " ".join(text.split())


def rendered(page):
    # One very long line per paragraph: nothing is hyphenated or wrapped.
    return subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", "-rLL=2000n", page],
                          check=True, capture_output=True, text=True).stdout


def help_paragraphs(program):
    # The folders the page shows as variables, as its generator asks for them.
    env = dict(os.environ, XDG_CONFIG_HOME="/@XDG_CONFIG_HOME@",
               XDG_STATE_HOME="/@XDG_STATE_HOME@", LC_ALL="C.UTF-8")
    run = subprocess.run([program, "--help"], env=env, capture_output=True, text=True)
    if run.returncode != 0:
        raise AssertionError(f"{program} --help exited with {run.returncode}")
    text = run.stdout.replace("/@XDG_CONFIG_HOME@", "$XDG_CONFIG_HOME")
    text = text.replace("/@XDG_STATE_HOME@", "$XDG_STATE_HOME")
    paragraphs = []
    for paragraph in re.split(r"\n\s*\n", text):
        lines = paragraph.splitlines()
        if lines and re.match(r"(Usage|usage):", lines[0]):
            # help2man makes each usage line a line of the synopsis.
            paragraphs += [re.sub(r"^\s*(Usage:|usage:|or:)\s*", "", line) for line in lines]
        elif lines and re.fullmatch(r"(Options|Environment|Files|Examples):\s*", lines[0]):
            # help2man makes these headings sections of the page.
            paragraphs += [lines[0].rstrip(": ").upper(), "\n".join(lines[1:])]
        elif paragraph.strip():
            paragraphs.append(paragraph)
    return paragraphs


def check(man_dir, version, program):
    name = os.path.basename(program)
    page = rendered(os.path.join(man_dir, name + ".1"))
    flat = words(page)
    problems = [f"missing --help text: {words(p)!r}" for p in help_paragraphs(program)
                if words(p) not in flat]
    problems += [f"no {s} section" for s in SECTIONS if not re.search(rf"^{s}$", page, re.M)]
    if not re.search(r"Exit status", page):
        problems.append("no exit statuses")
    if f"{name} {version}" not in flat:
        problems.append(f"the page does not name {name} {version}")
    run = subprocess.run([program, "--version"], capture_output=True, text=True)
    if run.returncode == 0 and run.stdout != f"{name} {version}\n":
        problems.append(f"--version printed {run.stdout!r}")
    return [f"{name}(1): {p}" for p in problems]


def main():
    man_dir, version, programs = sys.argv[1], sys.argv[2], sys.argv[3:]
    problems = [p for program in programs for p in check(man_dir, version, program)]
    print("\n".join(problems) or f"{len(programs)} manual pages match their programs")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
