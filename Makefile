# Inkbrite: the commands a developer and CI use. Every target that builds
# first installs whatever Debian packages are missing.

BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
JOBS      ?= 2
CMAKE     ?= cmake

FUZZ_SECONDS ?= 60

.PHONY: all deps build run test bench bench-peers fuzz asan clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@$(CMAKE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@$(CMAKE) --build $(BUILD_DIR) -j$(JOBS)

run: build
	@if [ -x $(BUILD_DIR)/app/inkbrite ]; then \
	  $(BUILD_DIR)/app/inkbrite; \
	else \
	  echo "The viewer is not built yet: this version has the image core only."; \
	  echo "Run 'make test' to check it, 'make bench' to measure it."; \
	fi

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do \
	  [ -x "$$b" ] && echo "== $$b" && "$$b" || exit 1; \
	done

# inkbrite-batch against libjpeg-turbo alone, ImageMagick, GraphicsMagick and
# libvips on a synthetic corpus of comic pages (installs the peer tools).
bench-peers: build
	@bash scripts/install-deps.sh --bench
	@bash bench/peers/run.sh $(BUILD_DIR)

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

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
