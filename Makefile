# SPDX-License-Identifier: GPL-2.0-or-later
# Inkbrite: the commands a developer and CI use. Every target that builds
# first installs whatever Debian packages are missing.

BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= 2
CMAKE     ?= cmake

FUZZ_SECONDS ?= 60

TSAN_DIR  ?= build-tsan
SHOTS_DIR ?= $(BUILD_DIR)/screenshots
PREFIX    ?= /usr/local

.PHONY: all deps build run test test-no-corpus bench bench-peers bench-books bench-viewer-x11 fuzz asan tsan screenshots install \
        package package-test cluster-test format format-check lint clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@$(CMAKE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@$(CMAKE) --build $(BUILD_DIR) -j$(JOBS)

run: build
	@$(BUILD_DIR)/app/inkbrite

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

# The suite as a fresh clone runs it, with no corpus beside the repository:
# every test that needs the corpus must skip, none may fail.
test-no-corpus: build
	@empty=$$(mktemp -d) && cd $(BUILD_DIR) && \
	  INKBRITE_CORPUS_DIR=$$empty ctest --output-on-failure -j$(JOBS); \
	  status=$$?; rmdir $$empty; exit $$status

# The code style of .clang-format: rewrite every file, or only check. Both
# also see that every source file carries its SPDX licence line (format adds
# a missing one).
FORMAT_FILES = git ls-files '*.cpp' '*.h'
format:
	@bash scripts/spdx.sh --fix
	@$(FORMAT_FILES) | xargs clang-format -i
format-check:
	@bash scripts/spdx.sh
	@$(FORMAT_FILES) | xargs clang-format --dry-run --Werror

# clang-tidy with .clang-tidy (functions of at most 80 lines, the bug and
# performance checks) over the program's own sources, JOBS files at once, on
# the built tree's compile database.
lint: build
	@bash scripts/lint.sh $(BUILD_DIR) $(JOBS)

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do \
	  [ -x "$$b" ] && echo "== $$b" && "$$b" || exit 1; \
	done

# inkbrite-batch against libjpeg-turbo alone, ImageMagick, GraphicsMagick and
# libvips on a synthetic corpus of comic pages (installs the peer tools).
bench-peers: build
	@bash scripts/install-deps.sh --bench
	@bash bench/peers/run.sh $(BUILD_DIR)
	@bash bench/peers/modern.sh $(BUILD_DIR)

# A comic book (CBZ) against the same pages as a folder: time and memory,
# and ImageMagick's unzip-convert-zip pipeline (bench/peers/books.sh).
bench-books: build
	@bash scripts/install-deps.sh --bench
	@bash bench/peers/books.sh $(BUILD_DIR)

# The viewer in a real window (Xvfb, openbox) beside qimgv and MComix
# (bench/viewer_x11.sh).
bench-viewer-x11: build
	@bash scripts/install-deps.sh --bench
	@bash bench/viewer_x11.sh $(BUILD_DIR)

# Every reader under libFuzzer (clang, ASan, UBSan), FUZZ_SECONDS each.
fuzz: deps
	@bash scripts/run-fuzz.sh $(FUZZ_SECONDS)

# AddressSanitizer and UndefinedBehaviorSanitizer build running every test.
asan: deps
	@$(CMAKE) -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DINKBRITE_SANITIZE=ON \
	  -DINKBRITE_BUILD_BENCH=OFF >/dev/null
	@$(CMAKE) --build $(ASAN_DIR) -j$(JOBS)
	@cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j$(JOBS)

# ThreadSanitizer build of the threaded parts, running the tests labelled
# `threaded` (tests/CMakeLists.txt: the viewer's renderer, loaders, prefetch
# and covers, the batch job's workers, the book's read-ahead, the parameter
# block's lock).
tsan: deps
	@$(CMAKE) -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DINKBRITE_TSAN=ON \
	  -DINKBRITE_BUILD_BENCH=OFF >/dev/null
	@$(CMAKE) --build $(TSAN_DIR) -j$(JOBS) --target core_tests sources_tests engine_tests browse_tests
	@cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  QT_QPA_PLATFORM=offscreen QT_NO_GLIB=1 ctest -L threaded -j$(JOBS) --output-on-failure

# Screenshots of the viewer (offscreen) to look at, in Chinese
# (build/screenshots/*.png) and in English (build/screenshots/en/*.png), and
# after a change of language in the running viewer: started in Chinese and
# changed to English (switched-en/), and the other way (switched-zh/).
screenshots: build
	@QT_QPA_PLATFORM=offscreen INKBRITE_LANG=zh $(BUILD_DIR)/app/inkbrite-screenshots $(SHOTS_DIR)
	@QT_QPA_PLATFORM=offscreen INKBRITE_LANG=en $(BUILD_DIR)/app/inkbrite-screenshots $(SHOTS_DIR)/en
	@QT_QPA_PLATFORM=offscreen INKBRITE_LANG=zh INKBRITE_SCREENSHOTS_SWITCH=en \
	  $(BUILD_DIR)/app/inkbrite-screenshots $(SHOTS_DIR)/switched-en
	@QT_QPA_PLATFORM=offscreen INKBRITE_LANG=en INKBRITE_SCREENSHOTS_SWITCH=zh \
	  $(BUILD_DIR)/app/inkbrite-screenshots $(SHOTS_DIR)/switched-zh

# The programs, help page, sample pages, icons, desktop entry, AppStream
# metadata, manual pages and bash completion under PREFIX.
install: build
	@$(CMAKE) --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian package build/inkbrite_<version>_<arch>.deb (CPack; its
# dependencies computed by dpkg-shlibdeps). Install it with
# sudo apt install ./build/inkbrite_*.deb
package: build
	@rm -f $(BUILD_DIR)/inkbrite_*.deb
	@cd $(BUILD_DIR) && cpack -G DEB >/dev/null
	@ls $(BUILD_DIR)/inkbrite_*.deb

# The package checked (lintian, appstreamcli, desktop-file-validate) and run
# from a scratch root: both programs, a conversion, the completion.
package-test: package
	@bash scripts/package-test.sh $(BUILD_DIR)

# The recipes of docs/CLUSTER.md run here and compared with one process:
# GNU parallel (4 parts at once, and over two stand-in hosts), the Kubernetes
# manifests' pod command, and a single-node Slurm (as root: installs
# slurm-wlm and munge, starts and stops its daemons) running an array of 4.
cluster-test: build
	@bash scripts/install-deps.sh --cluster
	@bash scripts/cluster-test.sh $(BUILD_DIR) all

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR)
