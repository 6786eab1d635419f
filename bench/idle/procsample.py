#!/usr/bin/env python3
"""Samples the processor time and wake-ups of running processes, for compare-cutecom.sh.

    procsample.py SECONDS WINDOW LABEL=PID [LABEL=PID]...

Reads /proc only. CPU is utime + stime of /proc/PID/stat (all threads), as % of one core,
taken over windows of WINDOW seconds; wake-ups are voluntary context switches summed over
/proc/PID/task/*/status. Prints one line per process with the medians of the windows, then
one line per thread with its wake-ups per second over the whole run.
"""
import os
import statistics
import sys
import time

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def thread_switches(pid):
    """{tid: (name, voluntary switches)} of the threads alive now."""
    result = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches:"):
                        result[int(tid)] = (name, int(line.split()[1]))
        except OSError:
            pass  # the thread ended between listing and reading
    return result


def main():
    seconds, window = float(sys.argv[1]), float(sys.argv[2])
    procs = [(label, int(pid)) for label, pid in (a.split("=", 1) for a in sys.argv[3:])]
    windows = {label: [] for label, _ in procs}
    wakes = {label: [] for label, _ in procs}
    first = {label: thread_switches(pid) for label, pid in procs}
    prev = {label: (time.monotonic(), cpu_ticks(pid), sum(v for _, v in first[label].values()))
            for label, pid in procs}
    end = time.monotonic() + seconds
    while time.monotonic() + window <= end + 0.01:
        time.sleep(window)
        for label, pid in procs:
            now, ticks = time.monotonic(), cpu_ticks(pid)
            switches = sum(v for _, v in thread_switches(pid).values())
            t0, k0, s0 = prev[label]
            windows[label].append(100.0 * (ticks - k0) / TICKS / (now - t0))
            wakes[label].append((switches - s0) / (now - t0))
            prev[label] = (now, ticks, switches)
    span = seconds
    for label, pid in procs:
        print(f"process {label} {statistics.median(windows[label]):.3f} "
              f"{statistics.median(wakes[label]):.2f}")
    for label, pid in procs:
        last = thread_switches(pid)
        for tid, (name, count) in sorted(last.items()):
            before = first[label].get(tid, (name, 0))[1]
            role = "main" if tid == pid else name.replace(" ", "_")
            print(f"thread {label} {tid} {role} {(count - before) / span:.2f}")


if __name__ == "__main__":
    main()
