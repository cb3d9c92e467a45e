# The README's commands: `make test` and `make demo`. Everything else here serves them.
PYTHON := .venv/bin/python
CMAKE := $(CURDIR)/.venv/bin/cmake
JOBS ?= 2
BUILD_FLAGS := --no-build-isolation --disable-pip-version-check -q \
	-C cmake.define.TOLVO_BUILD_TESTS=ON -C cmake.define.TOLVO_BUILD_TOOLS=ON \
	-C build.verbose=false -C cmake.args=-GNinja

.PHONY: test demo build setup cpp-test py-test parser-dump bench sanitize clean

setup:
	@scripts/setup.sh

# Builds the module, the C++ tests and the tools in build/ (incrementally) and installs the module
# into .venv.
build: setup
	@CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PYTHON) -m pip install $(BUILD_FLAGS) .

cpp-test: build
	@cd build && $(CURDIR)/.venv/bin/ctest --output-on-failure -j $(JOBS) --timeout 600

py-test: build
	@$(PYTHON) -m pytest -q tests

test: cpp-test py-test sanitize

demo: build
	@$(PYTHON) examples/demo.py examples/project

parser-dump: build

bench: build
	@$(PYTHON) bench/run.py

# The C++ tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: setup
	@$(CMAKE) -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVO_BUILD_MODULE=OFF \
		-DTOLVO_BUILD_TESTS=ON -DTOLVO_SANITIZE=ON -DCMAKE_MAKE_PROGRAM=$(CURDIR)/.venv/bin/ninja >/dev/null
	@$(CMAKE) --build build-sanitize -j $(JOBS)
	@cd build-sanitize && $(CURDIR)/.venv/bin/ctest --output-on-failure -j $(JOBS) --timeout 900

clean:
	rm -rf build build-sanitize

# The parser against CPython's over the whole 3.13 standard library and the code snippets of
# CPython's grammar tests: acceptance, token mutations, trees, values and ranges, with the
# disagreements grouped by class.
.PHONY: parser-corpus
parser-corpus: build
	@TOLVO_FULL_CORPUS=1 $(PYTHON) -m pytest -q -s tests/test_parser_corpus.py
