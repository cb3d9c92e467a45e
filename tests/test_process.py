"""The module inside a user's process: fork, signals, files that block, dropped indexes, memory
running out and small thread stacks.

Each case runs in a fresh interpreter with a deadline, so that a regression fails instead of hanging
the suite. Every process a case forks sets an alarm first, so that none outlives a hang.

The fork and out-of-memory cases run only here, in the plain Python suite: ThreadSanitizer cannot
start threads after a fork of a threaded process, and AddressSanitizer cannot run under RLIMIT_AS.
"""
import os
import pathlib
import resource
import shutil
import subprocess
import sys
import textwrap

import pytest

import tolvo_rs

STDLIB = pathlib.Path(os.__file__).parent

# Shared by the scripts: the standard library's paths, waiting, threads, FIFOs.
PRELUDE = """
import os, pathlib, resource, signal, subprocess, sys, threading, time
import tolvo_rs

STDLIB = str(pathlib.Path(os.__file__).parent)

def stdlib_paths():
    return sorted(str(p) for p in pathlib.Path(STDLIB).rglob("*.py"))

def threads():
    return len(os.listdir("/proc/self/task"))

def wait_for(condition, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise SystemExit("gave up waiting")
        time.sleep(0.005)

def reader_waits(fifo):
    '''Once a thread is blocked opening `fifo` for reading, opens it for writing without writing,
    so that the reader goes on to wait in read(); returns the writing end.'''
    def opened():
        try:
            opened.fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
            return True
        except OSError:
            return False
    wait_for(opened)
    return opened.fd

def open_count(path):
    '''How many descriptors of this process are open on `path`.'''
    count = 0
    for fd in os.listdir("/proc/self/fd"):
        try:
            count += os.readlink(f"/proc/self/fd/{fd}") == path
        except OSError:
            pass
    return count

def write_later(path, text, delay):
    '''Another process writes `text` to `path` after `delay` seconds: this process's own threads
    may all be waiting for the interpreter lock.'''
    return subprocess.Popen(["sh", "-c", f"sleep {delay}; printf '%s' \\"$1\\" > \\"$2\\"", "sh",
                             text, path])

def located(record):
    return None if record is None else (record.resolver_name, record.resolver_name_location,
                                        record.body)
"""


def run(script, *args, timeout=60):
    """Runs PRELUDE and `script` in a fresh interpreter; returns its standard output lines."""
    code = PRELUDE + textwrap.dedent(script)
    try:
        done = subprocess.run([sys.executable, "-c", code, *map(str, args)],
                              capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired as expired:
        pytest.fail(f"hung for {timeout} s; stderr:\n{expired.stderr}")
    assert done.returncode == 0, f"exit status {done.returncode}; stderr:\n{done.stderr}"
    return done.stdout.splitlines()


# --- fork ---------------------------------------------------------------------------------------

FORK_WHILE_WARMING = """
import multiprocessing
delay, way = float(sys.argv[1]), sys.argv[2]
index = tolvo_rs.AstProjectIndex(stdlib_paths(), STDLIB)

def child_lookup(pipe):
    signal.alarm(30)
    os.write(pipe, repr((located(index.function_ast("json", "dumps")),
                         tolvo_rs.to_snake_case("SomeHTTPName"))).encode())

read_end, write_end = os.pipe()
index.nonblocking_start_index()
time.sleep(delay)
if way == "os.fork":
    pid = os.fork()
    if pid == 0:
        child_lookup(write_end)
        os._exit(0)
    _, status = os.waitpid(pid, 0)
    assert status == 0, status
else:
    child = multiprocessing.get_context("fork").Process(target=child_lookup, args=(write_end,))
    child.start()
    child.join()
    assert child.exitcode == 0, child.exitcode
os.close(write_end)
print(os.read(read_end, 1 << 16).decode())
print(repr((located(index.function_ast("json", "dumps")), tolvo_rs.to_snake_case("SomeHTTPName"))))
"""


@pytest.mark.parametrize("way", ["os.fork", "multiprocessing"])
@pytest.mark.parametrize("delay", [0, 0.002, 0.02, 0.08])
def test_a_child_forked_while_workers_run_uses_the_index(way, delay):
    child, parent = run(FORK_WHILE_WARMING, delay, way)
    assert child == parent
    assert "'dumps'" in child and "some_http_name" in child


FORK_WHILE_FILES_ARE_HELD = """
fifos = [sys.argv[1] + "/held.py", sys.argv[1] + "/blocking.py"]
for fifo in fifos:
    os.mkfifo(fifo)
index = tolvo_rs.AstProjectIndex(fifos, sys.argv[1])
cache = tolvo_rs.AstFileParserCache([], sys.argv[1])
parsing = threading.Thread(target=cache.get_parsed_file, args=(fifos[0],), daemon=True)
parsing.start()  # releases the interpreter lock and holds the cache's entry while it reads
before = threads()
index.nonblocking_start_index()  # each worker holds its file's slot while it reads
# Readers of the first FIFO: the cache's thread and worker 0; of the second, worker 1 if there is
# one. Each counts once it has opened its end, as the writing end counts too.
two_workers = threads() - before > 1
writers = [reader_waits(fifos[0])] + ([reader_waits(fifos[1])] if two_workers else [])
wait_for(lambda: open_count(fifos[0]) == 3 and open_count(fifos[1]) == 2 * two_workers)
pid = os.fork()
if pid == 0:
    signal.alarm(30)
    # What the parent's threads were reading is read again here: make it a file that answers.
    os.unlink(fifos[0])
    pathlib.Path(fifos[0]).write_text("def f(): pass\\n")
    print("index", located(index.function_ast_in_file(fifos[0], "f"))[0], flush=True)
    print("cache", cache.get_parsed_file(fifos[0])[1].strip(), flush=True)
    # Warming started in the parent does not carry over: the child starts its own workers, of
    # which one stays waiting on the FIFO that nobody writes.
    before = threads()
    index.nonblocking_start_index()
    wait_for(lambda: threads() > before)
    print("workers started", flush=True)
    os._exit(0)
_, status = os.waitpid(pid, 0)
assert status == 0, status
"""


def test_a_child_recomputes_what_the_parent_threads_held_at_the_fork(tmp_path):
    assert run(FORK_WHILE_FILES_ARE_HELD, tmp_path) == [
        "index f", "cache def f(): pass", "workers started"]


FORK_WHILE_PATTERNS_RUN = """
root = sys.argv[1]
index = tolvo_rs.AstProjectIndex(sorted(str(p) for p in pathlib.Path(root).glob("*.py")), root)
stop = False

def convert():
    while not stop:
        tolvo_rs.to_snake_case("OneMoreCamelCaseName")  # the interpreter lock is released meanwhile

converter = threading.Thread(target=convert)
converter.start()
index.nonblocking_start_index()  # every class has its namespace made by the snake_case patterns
for attempt in range(12):
    pid = os.fork()
    if pid == 0:
        signal.alarm(30)
        record = index.feature_class_ast("m7", "SomeFeatureClass3")
        assert tolvo_rs.to_snake_case("OneMoreCamelCaseName") == "one_more_camel_case_name"
        os._exit(0 if record.namespace == "some_feature_class3" else 1)
    _, status = os.waitpid(pid, 0)
    assert status == 0, (attempt, status)
    time.sleep(0.003)
stop = True
converter.join()
print("ok")
"""


def test_a_child_forked_while_patterns_run_converts_names(tmp_path):
    for module in range(40):
        classes = "".join(f"@features\nclass SomeFeatureClass{i}:\n    x: int\n" for i in range(60))
        (tmp_path / f"m{module}.py").write_text("from tolvo.features import features\n" + classes)
    assert run(FORK_WHILE_PATTERNS_RUN, tmp_path) == ["ok"]


# --- a file that blocks -------------------------------------------------------------------------

WAIT_FOR_A_BLOCKED_WORKER = """
fifo = sys.argv[1] + "/slow.py"
os.mkfifo(fifo)
index = tolvo_rs.AstProjectIndex([fifo], sys.argv[1])
index.nonblocking_start_index()
writer = reader_waits(fifo)  # the worker now holds the file and waits in read()
waiter = threading.Thread(target=index.function_ast_in_file, args=(fifo, "f"), daemon=True)
waiter.start()
time.sleep(0.2)
ran = sum(range(100000))  # the main thread runs while the daemon thread waits
print("waiting" if waiter.is_alive() else "done", ran)
"""


def test_a_lookup_waiting_for_a_blocked_worker_lets_other_threads_run(tmp_path):
    """The process then exits with status 0, the daemon thread still waiting."""
    assert run(WAIT_FOR_A_BLOCKED_WORKER, tmp_path) == ["waiting 4999950000"]


DAEMON_THREADS_AT_EXIT = """
paths = stdlib_paths()
cache = tolvo_rs.AstFileParserCache([], STDLIB)

def parse():
    for path in paths:
        try:
            cache.get_parsed_file(path)
        except ValueError:
            pass

def convert():
    while True:
        tolvo_rs.to_snake_case("SomeCamelCaseName")

for target in (parse, parse, parse, convert):
    threading.Thread(target=target, daemon=True).start()
time.sleep(float(sys.argv[1]))
print("exiting")
"""


@pytest.mark.parametrize("delay", [0, 0.01, 0.05, 0.2])
def test_daemon_threads_that_take_the_lock_back_during_shutdown_end_quietly(delay):
    """CPython 3.13 ends such a thread with pthread_exit, whose unwinding passes through the
    module's frames."""
    assert run(DAEMON_THREADS_AT_EXIT, delay) == ["exiting"]


# --- dropped indexes ----------------------------------------------------------------------------

DROPPED_WHILE_READING = """
# Every file is a FIFO, more than twice as many as there can be workers: each worker takes its
# first file and blocks in read(); one that went on after the drop would block on its next file,
# which nobody writes, and never end.
root = sys.argv[1]
fifos = [f"{root}/f{i}.py" for i in range(2 * os.cpu_count() + 2)]
for fifo in fifos:
    os.mkfifo(fifo)
index = tolvo_rs.AstProjectIndex(fifos, root)
before = threads()
index.nonblocking_start_index()
workers = threads() - before
writers = [reader_waits(fifo) for fifo in fifos[:workers]]
del index
for writer in writers:
    os.write(writer, b"def f(): pass\\n")
    os.close(writer)
wait_for(lambda: threads() == before, seconds=60)
print("stopped")
"""


def test_a_dropped_index_stops_its_workers_after_their_current_file(tmp_path):
    assert run(DROPPED_WHILE_READING, tmp_path, timeout=90) == ["stopped"]


ONE_WARMED_INDEX = """
index = tolvo_rs.AstProjectIndex(stdlib_paths(), STDLIB)
index.nonblocking_start_index()
assert index.function_ast("no.such.module", "f") is None  # every file computed
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""

# Each index is dropped as soon as its workers have started, so that they compute at most the
# files they had begun: together far less than one whole index, however slow the machine.
DROPPED_WHILE_WARMING = """
paths = stdlib_paths()
for _ in range(20):
    index = tolvo_rs.AstProjectIndex(paths, STDLIB)
    index.nonblocking_start_index()
    del index
wait_for(lambda: threads() == 1, seconds=120)
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""


def test_dropped_indexes_keep_no_more_than_they_had_begun():
    one_index_peak = int(run(ONE_WARMED_INDEX)[0])
    peak = int(run(DROPPED_WHILE_WARMING, timeout=150)[0])
    assert peak < one_index_peak, (peak, one_index_peak)


# --- memory running out -------------------------------------------------------------------------

UNDER_A_MEMORY_LIMIT = """
path, limit, what = sys.argv[1], int(sys.argv[2]), sys.argv[3]
index = tolvo_rs.AstProjectIndex([path], os.path.dirname(path))
cache = tolvo_rs.AstFileParserCache([], os.path.dirname(path))
resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
try:
    if what == "warming":
        before = threads()
        index.nonblocking_start_index()
        wait_for(lambda: threads() == before, seconds=60)  # the worker ended, done or not
    if what == "cache":
        cache.get_parsed_file(path)
    else:
        index.function_ast_in_file(path, "f1")
    print("found")
except MemoryError:
    print("MemoryError")
resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
if what == "cache":
    print(cache.get_parsed_file(path)[1][:12])
else:
    print(index.function_ast_in_file(path, "f1").resolver_name)
"""


@pytest.fixture(scope="module")
def million_functions(tmp_path_factory):
    path = tmp_path_factory.mktemp("large") / "many.py"
    path.write_text("".join(f"def f{i}(): pass\n" for i in range(10**6)))
    yield str(path)
    shutil.rmtree(path.parent)


# Limits of the address space well below what the file needs (about 1 GB indexed, 430 MB parsed)
# and well above what the interpreter needs to go on.
@pytest.mark.parametrize("what, limit", [
    ("lookup", 600 << 20),
    ("warming", 600 << 20),
    ("cache", 300 << 20),
])
def test_memory_running_out_raises_and_keeps_nothing(million_functions, what, limit):
    outcome, after = run(UNDER_A_MEMORY_LIMIT, million_functions, limit, what, timeout=180)
    assert outcome in ("MemoryError", "found")
    assert after == ("def f0(): pa" if what == "cache" else "f1")


# --- signals and transient errors ---------------------------------------------------------------

INTERRUPTED_READ = """
signum, raises, how = getattr(signal, sys.argv[1]), sys.argv[2] == "raises", sys.argv[3]
fifo = sys.argv[4] + "/slow.py"
os.mkfifo(fifo)
index = tolvo_rs.AstProjectIndex([fifo], sys.argv[4])
cache = tolvo_rs.AstFileParserCache([], sys.argv[4])
handled = []

class Alarm(Exception):
    pass

def handler(number, frame):
    handled.append(number)
    if raises:
        raise Alarm()

if signum != signal.SIGINT:
    signal.signal(signum, handler)
if signum == signal.SIGCHLD:
    subprocess.Popen(["sh", "-c", "sleep 0.2"])  # its end interrupts the read
else:
    subprocess.Popen(["sh", "-c", f"sleep 0.2; kill -{sys.argv[1][3:]} {os.getpid()}"])
if not raises:
    write_later(fifo, "def f(): pass\\n", 0.6)
ask = (lambda: index.function_ast_in_file(fifo, "f")) if how == "lookup" else (
    lambda: cache.get_parsed_file(fifo))
try:
    print("answered", bool(ask()))
except (Alarm, KeyboardInterrupt) as error:
    print("raised", type(error).__name__)
    # Nothing was kept for the file: the next request reads it.
    write_later(fifo, "def f(): pass\\n", 0.1)
    print("answered", bool(ask()))
print("handled" if handled or signum == signal.SIGINT else "not handled")
"""


@pytest.mark.parametrize("how", ["lookup", "get_parsed_file"])
@pytest.mark.parametrize("signum, raises, first", [
    ("SIGALRM", "raises", "raised Alarm"),
    ("SIGINT", "raises", "raised KeyboardInterrupt"),
    ("SIGALRM", "returns", "answered True"),
    ("SIGCHLD", "returns", "answered True"),
])
def test_a_read_interrupted_by_a_signal_runs_its_handler(tmp_path, signum, raises, first, how):
    lines = run(INTERRUPTED_READ, signum, raises, how, tmp_path)
    assert lines[0] == first
    assert lines[-2:] == ["answered True", "handled"]


OUT_OF_DESCRIPTORS = """
path = sys.argv[1] + "/a.py"
pathlib.Path(path).write_text("def f(): pass\\n")
index = tolvo_rs.AstProjectIndex([path], sys.argv[1])
cache = tolvo_rs.AstFileParserCache([], sys.argv[1])
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
held = []
resource.setrlimit(resource.RLIMIT_NOFILE, (64, hard))
try:
    while True:
        held.append(os.open(path, os.O_RDONLY))
except OSError:
    pass
print(index.function_ast_in_file(path, "f"))
try:
    cache.get_parsed_file(path)
except ValueError as error:
    print(error)
for fd in held:
    os.close(fd)
resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
print(index.function_ast_in_file(path, "f").resolver_name, cache.get_parsed_file(path)[1].strip())
"""


def test_running_out_of_descriptors_is_not_kept_as_the_files_failure(tmp_path):
    path = tmp_path / "a.py"
    assert run(OUT_OF_DESCRIPTORS, tmp_path) == [
        "None", f"Failed to read {path}: Too many open files (os error 24)", "f def f(): pass"]


# --- small thread stacks ------------------------------------------------------------------------

SMALL_STACK = """
path = sys.argv[1]
index = tolvo_rs.AstProjectIndex([path], os.path.dirname(path))
cache = tolvo_rs.AstFileParserCache([], os.path.dirname(path))
outcomes = []

def ask():
    for call in (lambda: index.function_ast_in_file(path, "f"), lambda: cache.get_parsed_file(path)):
        try:
            outcomes.append(type(call()).__name__)
        except RecursionError as error:
            outcomes.append(f"RecursionError: {error}")

threading.stack_size(64 * 1024)
thread = threading.Thread(target=ask)
thread.start()
thread.join()
for outcome in outcomes:
    print(outcome)
threading.stack_size(0)
print(index.function_ast_in_file(path, "f").resolver_name, cache.get_parsed_file(path)[0] == path)
"""


def test_a_small_thread_stack_refuses_and_keeps_nothing(tmp_path):
    path = tmp_path / "deep.py"
    path.write_text("".join(" " * depth + "def f():\n" for depth in range(99)) + " " * 99 + "pass\n")
    *small, after = run(SMALL_STACK, path)
    refused = "RecursionError: too deeply nested for this thread's stack"
    assert small[0] in ("ResolverAST", refused)
    assert small[1] in ("tuple", refused)
    assert refused in small, "a 64 KiB stack is too small for 99 nested definitions"
    assert after == "f True"


# --- the module's own symbols -------------------------------------------------------------------

def test_only_the_module_entry_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm (binutils) is not installed")
    listed = subprocess.run([nm, "-D", "--defined-only", tolvo_rs.__file__], capture_output=True,
                            text=True, check=True).stdout.splitlines()
    assert [line.split()[-1] for line in listed] == ["PyInit_tolvo_rs"]
