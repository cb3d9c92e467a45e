"""Runs every bench/*_bench.py with this interpreter, one after another."""

import pathlib
import subprocess
import sys


def main():
    here = pathlib.Path(__file__).resolve().parent
    failed = []
    for script in sorted(here.glob("*_bench.py")):
        print(f"== {script.name}", flush=True)
        if subprocess.call([sys.executable, str(script)]) != 0:
            failed.append(script.name)
    if failed:
        print(f"failed: {', '.join(failed)}")
        sys.exit(1)


if __name__ == "__main__":
    main()
