"""Per-call time of the module's time and naming functions against their usual Python peers.

The peers come from PyPI and are installed into this interpreter's environment when missing; they
are used here only, never by the module. Each pair is timed in the same run, over the same inputs.
"""

import datetime
import importlib
import subprocess
import sys
import timeit

import tolvo_rs

def import_peer(module, package):
    try:
        return importlib.import_module(module)
    except ImportError:
        pass
    command = [sys.executable, "-m", "pip", "install", "-q", "--disable-pip-version-check"]
    if subprocess.call([*command, package]) != 0:
        return None
    importlib.invalidate_caches()
    try:
        return importlib.import_module(module)
    except ImportError:
        return None


def peer(module, attribute, package):
    loaded = import_peer(module, package)
    return None if loaded is None else getattr(loaded, attribute)


# (ours, baseline name, baseline loader, inputs, target): a target of 5 means at least 5 times
# faster than the baseline; 0.5 means at most twice as slow.
PAIRS = [
    (
        "parse_iso_date",
        "datetime.date.fromisoformat",
        lambda: datetime.date.fromisoformat,
        ["2024-03-15", "1999-12-31", "2000-02-29", "2031-07-04"],
        0.5,
    ),
    (
        "parse_datetime",
        "dateutil.parser.parse",
        lambda: peer("dateutil.parser", "parse", "python-dateutil"),
        ["2024-03-15T12:34:56", "2024-03-15 08:00:00+02:00", "2000-02-29T23:59:59.123456Z"],
        5,
    ),
    (
        "parse_iso_duration",
        "isodate.parse_duration",
        lambda: peer("isodate", "parse_duration", "isodate"),
        ["P1DT2H30M", "PT15M", "P3W", "PT0.5S"],
        5,
    ),
    (
        "parse_duration_ms",
        "pytimeparse.parse",
        lambda: peer("pytimeparse", "parse", "pytimeparse"),
        ["1h30m", "2d 12h", "45s", "1w2d3h4m5s"],
        5,
    ),
    (
        "to_snake_case",
        "inflection.underscore",
        lambda: peer("inflection", "underscore", "inflection"),
        ["UserFeatures", "getXMLParserName", "HTTPResponseCode", "already_snake"],
        5,
    ),
]


def per_call_ns(pair, inputs, rounds=9):
    """The best of several runs of each function, in nanoseconds per call. The runs alternate
    between the two, so that a load on the machine weighs on both alike."""
    timers = [timeit.Timer("for s in inputs: f(s)", globals={"f": f, "inputs": inputs})
              for f in pair]
    loops = [max(timer.autorange()[0], 2000) for timer in timers]
    best = [float("inf")] * len(pair)
    for _ in range(rounds):
        for i, timer in enumerate(timers):
            best[i] = min(best[i], timer.timeit(number=loops[i]))
    return [b / (n * len(inputs)) * 1e9 for b, n in zip(best, loops)]


def main():
    print(f"{'function':<20} {'baseline':<28} {'baseline ns':>12} {'ours ns':>9} "
          f"{'speed-up':>9}  target", flush=True)
    missed = []
    for name, baseline_name, load_baseline, inputs, target in PAIRS:
        ours = getattr(tolvo_rs, name, None)
        baseline = load_baseline()
        if ours is None or baseline is None:
            missing = name if ours is None else baseline_name
            print(f"{name:<20} {baseline_name:<28} not available ({missing})")
            continue
        for s in inputs:  # Both must read every input, or the comparison means nothing.
            assert ours(s) is not None and baseline(s) is not None, s
        baseline_ns, ours_ns = per_call_ns((baseline, ours), inputs)
        speedup = baseline_ns / ours_ns
        wanted = f">= {target:g}x" if target >= 1 else f"<= {1 / target:g}x slower"
        verdict = "ok" if speedup >= target else "MISSED"
        if speedup < target:
            missed.append(name)
        print(f"{name:<20} {baseline_name:<28} {baseline_ns:>12.0f} {ours_ns:>9.0f} "
              f"{speedup:>8.2f}x  {wanted} {verdict}", flush=True)
    if missed:
        print(f"targets missed: {', '.join(missed)}")


if __name__ == "__main__":
    main()
