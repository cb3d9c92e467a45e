"""StdAstFileSystem: its file list and whole-file reads, with the interpreter lock released."""
import faulthandler
import os
import threading

import pytest

import tolvo_rs

FS = tolvo_rs.StdAstFileSystem


def test_all_files_returns_fresh_lists():
    files = FS(["b.py", "a.py", "b.py", "notes.txt", "A.py", "a.py"])
    first = files.all_files()
    assert first == ["A.py", "a.py", "b.py"]
    first.append("c.py")
    assert files.all_files() == ["A.py", "a.py", "b.py"]
    assert files.all_files() is not files.all_files()


def test_paths_stay_as_written():
    assert FS(["./a.py", "a.py", "dir/x.py/", "x.py/.", "..py", "x.py/.."]).all_files() == [
        "..py", "./a.py", "a.py", "dir/x.py/", "x.py/."]


@pytest.mark.parametrize("content", [
    b"",
    b"x = 1\n",
    b"a\r\nb\rc\n",
    "\ufeffname = '\u00e9\U0001F600'\n".encode(),
    b"y" * 300_000,
])
def test_read_to_string_returns_the_text_unchanged(tmp_path, content):
    path = tmp_path / "data.txt"  # not a listed path, and not Python source
    path.write_bytes(content)
    text = FS(["other.py"]).read_to_string(str(path))
    assert text == content.decode("utf-8")
    assert FS([]).read_to_string(path=str(path)) == text


def test_read_to_string_relative_path_reads_against_working_directory(tmp_path, monkeypatch):
    (tmp_path / "rel.py").write_text("pass\n")
    monkeypatch.chdir(tmp_path)
    assert FS([]).read_to_string("rel.py") == "pass\n"
    assert FS([]).read_to_string("./rel.py") == "pass\n"


@pytest.mark.parametrize("make,expected", [
    (lambda d: str(d / "missing.py"), "No such file or directory (os error 2)"),
    (lambda d: str(d), "Is a directory (os error 21)"),
    (lambda d: write(d / "ff.py", b"\xff"), "stream did not contain valid UTF-8"),
    (lambda d: write(d / "half.py", b"ok = '\xc3"), "stream did not contain valid UTF-8"),
    (lambda d: write(d / "surrogate.py", b"\xed\xa0\x80"), "stream did not contain valid UTF-8"),
])
def test_read_to_string_errors(tmp_path, make, expected):
    with pytest.raises(IOError) as raised:
        FS([]).read_to_string(make(tmp_path))
    error = raised.value
    assert type(error) is OSError
    assert str(error) == expected
    assert error.args == (expected,)
    assert error.errno is None and error.strerror is None and error.filename is None


def write(path, data):
    path.write_bytes(data)
    return str(path)


def test_read_to_string_releases_the_interpreter_lock(tmp_path):
    fifo = tmp_path / "slow.py"
    os.mkfifo(fifo)
    result = {}

    def reader():
        result["text"] = FS([]).read_to_string(str(fifo))

    # A held lock would deadlock the writer below; end the process rather than hang the suite.
    faulthandler.dump_traceback_later(60, exit=True)
    try:
        thread = threading.Thread(target=reader)
        thread.start()
        # This thread runs Python code while the reader is blocked inside the native read.
        with open(fifo, "wb") as pipe:
            pipe.write(b"first ")
            pipe.flush()
            pipe.write(b"second\n")
        thread.join()
    finally:
        faulthandler.cancel_dump_traceback_later()
    assert result["text"] == "first second\n"


def test_file_set_is_safe_from_several_threads(tmp_path):
    paths = []
    for i in range(8):
        path = tmp_path / f"m{i}.py"
        path.write_text(f"value = {i}\n" * 1000)
        paths.append(str(path))
    files = FS(paths)
    errors = []

    def work():
        try:
            for _ in range(50):
                for i, path in enumerate(paths):
                    assert files.read_to_string(path) == f"value = {i}\n" * 1000
                assert len(files.all_files()) == 8
        except Exception as error:  # reported below, in the main thread
            errors.append(error)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []


MEMORY_LIMITED_READ = """
import resource, sys
import tolvo_rs
limit = 3 * 2**30
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
try:
    tolvo_rs.StdAstFileSystem([]).read_to_string(sys.argv[1])
except MemoryError as error:
    print(type(error).__name__, error.args)
print("still running", sum(range(10)))
"""


@pytest.mark.parametrize("make", [
    pytest.param(lambda d: sparse_file(d / "huge.py", 6 * 2**30), id="sparse-6GiB"),
    pytest.param(lambda d: "/dev/zero", id="dev-zero"),
])
def test_read_beyond_the_memory_limit_fails_that_read_only(tmp_path, make):
    import subprocess
    import sys

    done = subprocess.run([sys.executable, "-c", MEMORY_LIMITED_READ, make(tmp_path)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["MemoryError ()", "still running 45"]


def sparse_file(path, size):
    with open(path, "wb") as file:
        file.truncate(size)
    return str(path)
