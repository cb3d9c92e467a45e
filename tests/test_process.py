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

WITNESS = '''
import os, sys, time
pid = int(sys.argv[1])

def sleeps_in(word):
    # Until the main thread of `pid` has slept in a kernel function named with `word` for 0.2 s.
    streak, deadline = 0, time.monotonic() + 20
    while streak < 10 and time.monotonic() < deadline:
        try:
            with open(f"/proc/{pid}/task/{pid}/wchan") as wchan:
                streak = streak + 1 if word in wchan.read() else 0
        except OSError:
            return
        time.sleep(0.02)

for step in sys.argv[2:]:
    verb, _, argument = step.partition(" ")
    if verb == "open":
        fd = os.open(argument, os.O_WRONLY)
    elif verb == "fd":
        fd = int(argument)
    elif verb == "until":
        sleeps_in(argument)
    elif verb == "kill":
        os.kill(pid, int(argument))
    elif verb == "sleep":
        time.sleep(float(argument))
    elif verb == "write":
        try:
            os.write(fd, argument.encode())
        except BrokenPipeError:
            pass
        os.close(fd)
'''

def witness(*steps, fd=None):
    '''Another process takes `steps` in order, watching this process's main thread, so that a
    signal comes while the thread is inside the wait or read that follows, however slow the
    machine: "open PATH" for writing, "until futex" (waiting for a lock) or "until pipe" (reading a
    FIFO), "kill SIGNUM", "sleep SECONDS", "write TEXT" and close. `fd` becomes its own writing
    end, closed here.'''
    steps = ([f"fd {fd}"] if fd is not None else []) + list(steps)
    child = subprocess.Popen([sys.executable, "-c", WITNESS, str(os.getpid()), *steps],
                             pass_fds=() if fd is None else (fd,))
    if fd is not None:
        os.close(fd)
    return child
"""


def run(script, *args, timeout=60, stack_limit=None):
    """Runs PRELUDE and `script` in a fresh interpreter, whose main thread's stack is limited to
    `stack_limit` bytes if given; returns its standard output lines."""
    code = PRELUDE + textwrap.dedent(script)
    limit = None if stack_limit is None else (
        lambda: resource.setrlimit(resource.RLIMIT_STACK,
                                   (stack_limit, resource.getrlimit(resource.RLIMIT_STACK)[1])))
    try:
        done = subprocess.run([sys.executable, "-c", code, *map(str, args)],
                              capture_output=True, text=True, timeout=timeout, preexec_fn=limit)
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


FAILING_DAEMON_THREADS_AT_EXIT = """
path = sys.argv[1]
cache = tolvo_rs.AstFileParserCache([], os.path.dirname(path))

def parse():
    while True:
        try:
            cache.get_parsed_file(path)
        except RecursionError:
            pass

threading.stack_size(64 * 1024)
for _ in range(4):
    threading.Thread(target=parse, daemon=True).start()
time.sleep(float(sys.argv[2]))
print("exiting")
"""


@pytest.mark.parametrize("delay", [0.05, 0.3])
def test_daemon_threads_whose_calls_fail_at_shutdown_end_quietly(tmp_path, delay):
    """Each call fails for the thread's small stack: the lock is taken back with the failure on its
    way out, where the interpreter may end the thread."""
    deep = tmp_path / "deep.py"
    deep.write_text("".join(" " * depth + "def f():\n" for depth in range(99)) + " " * 99 + "pass\n")
    assert run(FAILING_DAEMON_THREADS_AT_EXIT, deep, delay) == ["exiting"]


SIGNALLED_AT_EXIT = """
root, how = sys.argv[1], sys.argv[2]
fifo = root + "/slow.py"
os.mkfifo(fifo)
cache = tolvo_rs.AstFileParserCache([], root)
files = tolvo_rs.StdAstFileSystem([])
signal.signal(signal.SIGUSR1, lambda number, frame: None)
local = threading.local()

class SignalsItsThreadWhenCollected:
    def __init__(self):
        self.thread, self.task = threading.get_ident(), f"/proc/self/task/{threading.get_native_id()}"

    def __del__(self, os=os, signal=signal, time=time):
        # Waits for the thread to end, before the interpreter sets the signal's action back to
        # the default, which would end the process.
        signal.pthread_kill(self.thread, signal.SIGUSR1)
        deadline = time.monotonic() + 20
        while os.path.exists(self.task) and time.monotonic() < deadline:
            time.sleep(0.01)

def read():
    # Collected during finalisation, when the interpreter ends a daemon thread that takes the
    # lock back: the signal makes the reading thread run its handlers just then.
    local.signaller = SignalsItsThreadWhenCollected()
    (cache.get_parsed_file if how == "cache" else files.read_to_string)(fifo)

threading.Thread(target=read, daemon=True).start()
writer = reader_waits(fifo)
print("exiting")
"""


@pytest.mark.parametrize("how", ["cache", "file set"])
def test_a_daemon_thread_signalled_while_the_interpreter_ends_it_ends_quietly(tmp_path, how):
    assert run(SIGNALLED_AT_EXIT, tmp_path, how) == ["exiting"]


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


WAIT_FOR_ANOTHER_THREAD = """
how, signame, root = sys.argv[1], sys.argv[2], sys.argv[3]
fifo = root + "/slow.py"
os.mkfifo(fifo)
index = tolvo_rs.AstProjectIndex([fifo], root)
cache = tolvo_rs.AstFileParserCache([], root)

class Alarm(Exception):
    pass

def handler(number, frame):
    print("handled", flush=True)
    if number == signal.SIGALRM:
        raise Alarm()

signal.signal(signal.SIGALRM, handler)
signal.signal(signal.SIGUSR1, handler)
if how == "lookup":  # a worker holds the file while it waits in read()
    index.nonblocking_start_index()
    ask = lambda: type(index.function_ast_in_file(fifo, "f")).__name__
else:  # so does another Python thread
    def read():
        try:
            cache.get_parsed_file(fifo)
        except Alarm:
            pass
    threading.Thread(target=read, daemon=True).start()
    ask = lambda: type(cache.get_parsed_file(fifo)).__name__
writer = reader_waits(fifo)
signum = getattr(signal, signame)
if signum == signal.SIGUSR1:  # its handler returns: the wait goes on until the text comes
    witness("until futex", f"kill {int(signum)}", "sleep 0.3", "write def f(): pass\\n",
            fd=writer)
else:  # the text comes only once the wait has ended
    witness("until futex", f"kill {int(signum)}")
try:
    print("answered", ask())
except (Alarm, KeyboardInterrupt) as error:
    print("raised", type(error).__name__)
    os.write(writer, b"def f(): pass\\n")
    os.close(writer)
    print("then", ask())  # the other thread's result
"""


@pytest.mark.parametrize("how, answer", [("lookup", "ResolverAST"), ("get_parsed_file", "tuple")])
@pytest.mark.parametrize("signame", ["SIGINT", "SIGALRM", "SIGUSR1"])
def test_a_signal_ends_a_wait_for_another_threads_file_as_it_ends_a_read(tmp_path, how, answer,
                                                                        signame):
    lines = run(WAIT_FOR_ANOTHER_THREAD, how, signame, tmp_path)
    if signame == "SIGINT":
        assert lines == ["raised KeyboardInterrupt", f"then {answer}"]
    elif signame == "SIGALRM":
        assert lines == ["handled", "raised Alarm", f"then {answer}"]
    else:
        assert lines == ["handled", f"answered {answer}"]


NESTED_WAIT = """
root = sys.argv[1]
own, held = root + "/own.py", root + "/held.py"
os.mkfifo(own)
os.mkfifo(held)
index = tolvo_rs.AstProjectIndex([held], root)
cache = tolvo_rs.AstFileParserCache([], root)
index.nonblocking_start_index()
held_writer = reader_waits(held)  # a worker reads the held file

def ask_for_the_held_file(number, frame):
    # Runs while this thread reads its own file, whose entry it holds; it waits for the worker's.
    print("asked", flush=True)
    index.function_ast_in_file(held, "f")

signal.signal(signal.SIGUSR1, ask_for_the_held_file)
witness(f"open {own}", "until pipe", f"kill {int(signal.SIGUSR1)}", "until futex",
        f"kill {int(signal.SIGINT)}")
try:
    cache.get_parsed_file(own)
    print("answered")
except KeyboardInterrupt:
    print("raised KeyboardInterrupt")
os.write(held_writer, b"def f(): pass\\n")
os.close(held_writer)
os.unlink(own)
pathlib.Path(own).write_text("x = 1\\n")
print(type(index.function_ast_in_file(held, "f")).__name__, cache.get_parsed_file(own)[1].strip())
"""


def test_a_signal_ends_a_wait_inside_the_threads_own_read(tmp_path):
    assert run(NESTED_WAIT, tmp_path) == ["asked", "raised KeyboardInterrupt", "ResolverAST x = 1"]


REENTRANT_REQUEST = """
how, caught, root = sys.argv[1], sys.argv[2] == "caught", sys.argv[3]
fifo = root + "/slow.py"
os.mkfifo(fifo)
index = tolvo_rs.AstProjectIndex([fifo], root)
cache = tolvo_rs.AstFileParserCache([], root)
request = {
    "get_parsed_file": lambda: cache.get_parsed_file(fifo)[1].strip(),
    "by file": lambda: located(index.function_ast_in_file(fifo, "f")),
    "by module": lambda: located(index.function_ast("slow", "f")),
}[how]

def handler(number, frame):
    try:
        request()
        print("the handler was answered")
    except RuntimeError as error:
        print("the handler got", error)
        if not caught:
            raise

signal.signal(signal.SIGALRM, handler)
# The handler runs while this thread reads the file; the text comes a second later.
witness(f"open {fifo}", "until pipe", f"kill {int(signal.SIGALRM)}", "sleep 1",
        "write def f(): pass\\n")
try:
    first = request()
    print("answered")
except RuntimeError:
    first = "raised"
    print("raised RuntimeError")
# A file in the FIFO's place: a kept result does not see it, a request that kept nothing reads it.
os.unlink(fifo)
pathlib.Path(fifo).write_text("def f(): return 1\\n")
print("kept" if request() == first else "not kept")
"""


@pytest.mark.parametrize("how", ["get_parsed_file", "by file", "by module"])
@pytest.mark.parametrize("caught", ["caught", "let out"])
def test_a_request_for_the_file_the_thread_is_computing_fails_at_once(tmp_path, how, caught):
    lines = run(REENTRANT_REQUEST, how, caught, tmp_path)
    assert lines[0].startswith(
        "the handler got reentrant request for a file this thread is computing")
    if caught == "caught":
        assert lines[1:] == ["answered", "kept"]
    else:
        assert lines[1:] == ["raised RuntimeError", "not kept"]


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


BOUNDS_UNREADABLE = """
root = sys.argv[1]
fifo, deep = root + "/slow.py", root + "/deep.py"
os.mkfifo(fifo)
decorated = "@" + "d(" * 199 + ")" * 199 + "\\ndef f(): pass\\n"
pathlib.Path(deep).write_text(decorated)
cache = tolvo_rs.AstFileParserCache([], root)
returned = threading.Event()

def take_every_descriptor():
    # Once the main thread reads the FIFO, no descriptor is left for it until its request returns:
    # its own two, the FIFO's ends, lie at or above the lowered limit once they are closed.
    writer = reader_waits(fifo)
    wait_for(lambda: open_count(fifo) == 2)  # the reading end too, once its open() has returned
    reader = next(int(fd) for fd in os.listdir("/proc/self/fd")
                  if int(fd) != writer and os.path.realpath(f"/proc/self/fd/{fd}") == fifo)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(soft, 256), hard))
    held = []
    try:
        while True:
            held.append(os.open(os.devnull, os.O_RDONLY))
    except OSError:
        pass
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(reader, writer), hard))
    os.write(writer, decorated.encode())
    os.close(writer)
    returned.wait(30)
    for fd in held:
        os.close(fd)
    resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))

taker = threading.Thread(target=take_every_descriptor)
taker.start()
for path in (fifo, deep):
    try:
        cache.get_parsed_file(path)
        print("parsed")
    except RecursionError:
        print("RecursionError")
    returned.set()
    taker.join()
"""


def test_a_thread_whose_stack_bounds_cannot_be_read_still_stops_deep_nesting(tmp_path):
    """The main thread's first parse starts while the process has no free descriptor, which
    reading its stack's bounds needs; the next one starts once they are back."""
    assert run(BOUNDS_UNREADABLE, tmp_path, stack_limit=256 << 10) == ["RecursionError"] * 2


LOWERED_LIMIT = """
root = sys.argv[1]
shallow, deep = root + "/shallow.py", root + "/deep.py"
pathlib.Path(shallow).write_text("def f(): pass\\n")
pathlib.Path(deep).write_text("@" + "d(" * 199 + ")" * 199 + "\\ndef f(): pass\\n")
cache = tolvo_rs.AstFileParserCache([], root)
cache.get_parsed_file(shallow)
soft, hard = resource.getrlimit(resource.RLIMIT_STACK)
resource.setrlimit(resource.RLIMIT_STACK, (256 << 10, hard))
try:
    cache.get_parsed_file(deep)
    print("parsed")
except RecursionError:
    print("RecursionError")
resource.setrlimit(resource.RLIMIT_STACK, (soft, hard))
print(cache.get_parsed_file(deep)[0] == deep)
"""


def test_a_stack_limit_lowered_after_the_first_parse_is_seen(tmp_path):
    """The kernel grows the main thread's stack only as far as its limit of the moment, so a file
    too deep for the lowered limit is refused, as in a process started under it, rather than
    running off the stack; the limit given back lets it parse."""
    assert run(LOWERED_LIMIT, tmp_path) == ["RecursionError", "True"]


# --- the module's own symbols -------------------------------------------------------------------

def test_only_the_module_entry_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm (binutils) is not installed")
    listed = subprocess.run([nm, "-D", "--defined-only", tolvo_rs.__file__], capture_output=True,
                            text=True, check=True).stdout.splitlines()
    assert [line.split()[-1] for line in listed] == ["PyInit_tolvo_rs"]
