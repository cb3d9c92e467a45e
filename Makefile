# The README's commands: `make test` and `make demo`. Everything else here serves them.
PYTHON := .venv/bin/python
CMAKE := $(CURDIR)/.venv/bin/cmake
JOBS ?= 2
BUILD_FLAGS := --no-build-isolation --disable-pip-version-check -q \
	-C cmake.define.TOLVO_BUILD_TESTS=ON -C cmake.define.TOLVO_BUILD_TOOLS=ON \
	-C build.verbose=false -C cmake.args=-GNinja

.PHONY: test demo build setup cpp-test py-test parser-dump bench sanitize tsan clean

# The C++ tests that index the standard library find it here (evaluated after setup has run).
STDLIB = $(shell $(PYTHON) -c 'import sysconfig; print(sysconfig.get_paths()["stdlib"])')

setup:
	@scripts/setup.sh

# Builds the module, the C++ tests and the tools in build/ (incrementally) and installs the module
# into .venv.
build: setup
	@CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PYTHON) -m pip install $(BUILD_FLAGS) .

cpp-test: build
	@cd build && TOLVO_STDLIB=$(STDLIB) $(CURDIR)/.venv/bin/ctest --output-on-failure -j $(JOBS) --timeout 600

py-test: build
	@$(PYTHON) -m pytest -q tests

test: cpp-test py-test sanitize tsan

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
	@cd build-sanitize && TOLVO_STDLIB=$(STDLIB) $(CURDIR)/.venv/bin/ctest --output-on-failure -j $(JOBS) --timeout 900

# The parser and indexing tests once more under ThreadSanitizer: the caches and the index are
# shared by lookup threads and background workers.
tsan: setup
	@$(CMAKE) -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVO_BUILD_MODULE=OFF \
		-DTOLVO_BUILD_TESTS=ON -DTOLVO_TSAN=ON -DCMAKE_MAKE_PROGRAM=$(CURDIR)/.venv/bin/ninja >/dev/null
	@$(CMAKE) --build build-tsan -j $(JOBS) --target tolvo_parser_test tolvo_ast_test
	@cd build-tsan && for test in tolvo_parser_test tolvo_ast_test; do \
		TOLVO_STDLIB=$(STDLIB) TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/scripts/tsan.supp" \
		./$$test --gtest_brief=1 || exit 1; done

clean:
	rm -rf build build-sanitize build-tsan

# The parser against CPython's over the whole 3.13 standard library and the code snippets of
# CPython's grammar tests: acceptance, token mutations, trees, values and ranges, with the
# disagreements grouped by class.
.PHONY: parser-corpus
parser-corpus: build
	@TOLVO_FULL_CORPUS=1 $(PYTHON) -m pytest -q -s tests/test_parser_corpus.py
