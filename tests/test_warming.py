"""nonblocking_start_index: background workers that fill the index ahead of the lookups."""
import ast
import faulthandler
import os
import pathlib
import subprocess
import sys
import threading
import time

import pytest

import tolvo_rs
from source_fixtures import resolver_properties

Index = tolvo_rs.AstProjectIndex
STDLIB = pathlib.Path(os.__file__).parent
REPO = pathlib.Path(__file__).resolve().parents[1]


def stdlib_files():
    return sorted(str(p) for p in STDLIB.rglob("*.py"))


def thread_count():
    return len(os.listdir("/proc/self/task"))


def wait_for(condition, seconds=60):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


class Watchdog:
    """Ends the process with a traceback instead of hanging the suite."""

    def __init__(self, seconds=240):
        self.seconds = seconds

    def __enter__(self):
        faulthandler.dump_traceback_later(self.seconds, exit=True)

    def __exit__(self, *exc):
        faulthandler.cancel_dump_traceback_later()


def queries(paths, every=20):
    """(module, function name) pairs of every `every`-th file, as CPython's tree names them."""
    found = []
    for path in paths[::every]:
        try:
            tree = ast.parse(pathlib.Path(path).read_bytes())
        except (SyntaxError, ValueError):
            continue
        names = [n.name for n in tree.body if isinstance(n, (ast.FunctionDef, ast.AsyncFunctionDef))]
        module = ".".join(pathlib.Path(path).relative_to(STDLIB).with_suffix("").parts)
        module = module.removesuffix(".__init__")
        found += [(path, module, name) for name in names[:3]]
    return found


def results(index, asked):
    out = []
    for path, module, name in asked:
        by_module = index.function_ast(module, name)
        in_file = index.function_ast_in_file(path, name)
        out.append((resolver_properties(by_module) if by_module else None,
                    resolver_properties(in_file) if in_file else None))
    return out


def test_lookups_after_the_start_match_a_cold_index():
    paths = stdlib_files()
    asked = queries(paths)
    assert len(asked) > 50
    cold = results(Index(paths, str(STDLIB)), asked)
    assert sum(1 for by_module, _ in cold if by_module) > 50
    warm = Index(paths, str(STDLIB))
    assert warm.nonblocking_start_index() is None
    with Watchdog():
        assert results(warm, asked) == cold
        assert warm.function_ast("no.such.module", "f") is None


def test_a_second_call_and_an_empty_index_start_nothing(tmp_path):
    """Workers blocked on FIFOs stay countable among the process's threads."""
    fifos = [tmp_path / f"slow{i}.py" for i in range(2)]
    for fifo in fifos:
        os.mkfifo(fifo)
    index = Index([str(f) for f in fifos], str(tmp_path))
    with Watchdog():
        before = thread_count()  # the watchdog's own thread included
        Index([], str(tmp_path)).nonblocking_start_index()
        assert thread_count() == before, "an empty index starts no worker"
        index.nonblocking_start_index()
        # The workers exist once the call returns, each blocked on its first FIFO; how many there
        # are is the module's to decide from the CPUs it may use, at most one per file.
        workers = thread_count() - before
        assert 1 <= workers <= 2
        index.nonblocking_start_index()
        time.sleep(0.2)
        assert thread_count() == before + workers, "a second call starts nothing"
        # Lookups hold the interpreter lock and would wait for a blocked worker: release the
        # workers first, by writing what they are reading.
        for fifo in fifos:
            with open(fifo, "w") as pipe:
                pipe.write("def f(): pass\n")
        assert wait_for(lambda: thread_count() == before), "the workers end with their share"
        assert index.function_ast("slow0", "f") is not None
        index.nonblocking_start_index()
        time.sleep(0.1)
        assert thread_count() == before, "not even after the workers have finished"


def test_releasing_the_index_while_workers_run_is_safe():
    index = Index(stdlib_files(), str(STDLIB))
    with Watchdog():
        before = thread_count()
        index.nonblocking_start_index()
        del index
        assert wait_for(lambda: thread_count() == before), "the workers finish their shares"


def test_python_threads_and_workers_share_one_index():
    paths = stdlib_files()
    asked = queries(paths, every=10)
    cold = results(Index(paths, str(STDLIB)), asked)
    index = Index(paths, str(STDLIB))
    index.nonblocking_start_index()
    seen = [None] * 8
    errors = []

    def look(i):
        try:
            # Each thread asks in its own order, so that threads, workers and files meet.
            shift = i * len(asked) // 8
            order = asked[shift:] + asked[:shift]
            if i % 2:
                order.reverse()
            got = dict(zip(order, results(index, order)))
            seen[i] = [got[q] for q in asked]
        except BaseException as error:  # reported below
            errors.append(error)

    with Watchdog():
        threads = [threading.Thread(target=look, args=(i,)) for i in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert errors == []
    assert seen == [cold] * 8


EXIT_AT_ONCE = """
import os, sys, tolvo_rs
root = sys.argv[1]
paths = sorted(os.path.join(d, n) for d, _, names in os.walk(root) for n in names
               if n.endswith(".py"))
index = tolvo_rs.AstProjectIndex(paths, root)
index.nonblocking_start_index()
if sys.argv[2] == "lookup":
    index.function_ast("x", "y")  # a lookup races the workers, then the process ends
print("exiting")
"""


@pytest.mark.parametrize("run", range(12))
def test_the_process_exits_cleanly_while_workers_run(run):
    """Workers are detached and nobody waits for them: the interpreter and the C++ runtime shut
    down under them, mid-file, and must neither crash nor hang."""
    done = subprocess.run(
        [sys.executable, "-c", EXIT_AT_ONCE, str(STDLIB), "lookup" if run % 3 == 2 else "exit"],
        capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stdout, done.stderr) == (0, "exiting\n", "")


SPAWN_FAILURE = """
import resource, sys, tolvo_rs
index = tolvo_rs.AstProjectIndex(["a.py", "b.py"], ".")
with open("/proc/self/status") as status:
    size = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmSize:"))
# Room for the interpreter to go on, none for a 2 MiB worker stack.
resource.setrlimit(resource.RLIMIT_AS, (size + 1024 * 1024, resource.RLIM_INFINITY))
try:
    index.nonblocking_start_index()
except BaseException as error:
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    print(type(error).__name__, error)
    index.nonblocking_start_index()  # never retried
    print("again fine")
"""


def test_a_worker_that_cannot_start_raises_panic_exception():
    done = subprocess.run([sys.executable, "-c", SPAWN_FAILURE], capture_output=True, text=True,
                          timeout=60)
    assert done.returncode == 0, done.stderr
    first, second = done.stdout.splitlines()
    assert first.startswith("PanicException failed to spawn thread: ")
    assert first.endswith(")") and "(os error " in first
    assert second == "again fine"
