"""Where one `orvalind --once` run spends its time, for bench/once_speed.

Two views, whose counts do not depend on how busy the machine is (the times
do):
- the dynamic loader's own statistics (LD_DEBUG=statistics): symbol
  relocations and the loader's cycles, next to check_http's;
- a run cut into phases at the system calls that end them, timed by a trace
  of those calls alone (strace --seccomp-bpf leaves every other call
  untouched, so the times are close to an untraced run's), and a second run
  traced whole to count the system calls of each phase.
"""
import os
import re
import statistics
import subprocess
import tempfile

LINE = re.compile(r"^(\d+)\s+(\d+\.\d+)\s+(?:(\w+)\(|\+\+\+ (exited))")


def loader_statistics(cmd, env=None):
    """(relocations, cycles in the dynamic loader) of one run of cmd."""
    env = dict(env if env is not None else os.environ, LD_DEBUG="statistics")
    err = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         text=True).stderr
    relocations = re.search(r"final number of relocations: (\d+)", err)
    cycles = re.search(r"total startup time in dynamic loader: (\d+)", err)
    return (int(relocations.group(1)) if relocations else 0,
            int(cycles.group(1)) if cycles else 0)


# The phases of a run, each with the call that ends it: the first such call,
# of any thread, after the previous phase ended.
PHASES = [
    ("start-up: loading, linking, static initialisers", "rt_sigprocmask"),
    ("settings store: open, read the snapshot", "clone3"),
    ("threads started, the check begun", "connect"),
    ("the HTTP exchange", "recvfrom"),
    ("log line, result, store closed", "exit_group"),
    ("exit", "exited"),
]


def traced_calls(cmd, env, only=None):
    """[(time, system call)] of one run of cmd, every thread's, in order."""
    out = tempfile.NamedTemporaryFile(delete=False)
    out.close()
    filters = ["--seccomp-bpf", "-e", "trace=" + ",".join(only)] if only else []
    subprocess.run(["strace", "-f", "-ttt", *filters, "-o", out.name] + cmd, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out.name) as f:
        calls = [(float(m.group(2)), m.group(3) or m.group(4)) for m in map(LINE.match, f) if m]
    os.unlink(out.name)
    return calls


def cut(calls):
    """The indexes in calls at which each phase ends."""
    ends, index = [], 0
    for _, ending in PHASES:
        while index < len(calls) and calls[index][1] != ending:
            index += 1
        if index == len(calls):
            break
        ends.append(index)
        index += 1
    return ends


def traced_phases(cmd, env, runs):
    """[(phase, median ms over runs, system calls)] and the threads started."""
    landmarks = ["execve"] + [ending for _, ending in PHASES[:-1]]
    every = traced_calls(cmd, env)
    counted_ends = cut(every)
    times = [[] for _ in PHASES]
    for _ in range(runs):
        timed = traced_calls(cmd, env, landmarks)
        start = timed[0][0] if timed else 0
        for phase, end in enumerate(cut(timed)):
            times[phase].append((timed[end][0] - start) * 1000)
            start = timed[end][0]
    phases, first = [], 0
    for (name, _), ms, end in zip(PHASES, times, counted_ends):
        phases.append((name, statistics.median(ms) if ms else 0.0, end + 1 - first))
        first = end + 1
    threads = sum(1 for _, name in every if name in ("clone", "clone3"))
    return phases, threads


def print_breakdown(orvalind_cmd, orvalind_env, check_http_cmd, runs=5):
    ours = loader_statistics(orvalind_cmd, orvalind_env)
    theirs = loader_statistics(check_http_cmd)
    print("where a --once run spends its time")
    print(f"  dynamic loader: orvalind {ours[0]} symbol relocations, {ours[1] / 1000:.0f}k cycles; "
          f"check_http {theirs[0]}, {theirs[1] / 1000:.0f}k cycles")
    phases, threads = traced_phases(orvalind_cmd, orvalind_env, runs)
    total = sum(ms for _, ms, _ in phases) or 1
    print(f"  a run by phase, each ending at a system call: median of {runs} runs' times, "
          f"one run's system calls ({threads} threads started)")
    print(f"    {'':50}{'ms':>8}{'share':>8}{'system calls':>14}")
    for name, ms, count in phases:
        print(f"    {name:50}{ms:8.2f}{ms / total:8.0%}{count:14}")
