# A thin front over CMake presets. Every target first makes sure the build tools are there.
.PHONY: all deps fuzz-deps tidy-deps build test asan tsan fuzz tidy bench demo install format format-check clean

# Debian packages the build, the tests and the benchmarks need.
DEB_PACKAGES := cmake ninja-build g++ pkg-config libssl-dev libgtest-dev libgmock-dev \
                libbenchmark-dev libcli11-dev nlohmann-json3-dev \
                libavformat-dev libavcodec-dev libavutil-dev ffmpeg \
                pybind11-dev python3-dev python3-pytest
FUZZ_PACKAGES := clang-16 libclang-rt-16-dev
TIDY_PACKAGES := clang-tidy-16
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
DEMO_DIR ?= build/demo
TSAN_FILTER ?= Thread|Worker|Concurrent|Cancel|Progress|QuorSealTest|QuorFileSetSalvageTest

all: build

# Installs only what is missing, so a machine that has everything makes no network call.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

deps:
	$(call install_missing,$(DEB_PACKAGES))

fuzz-deps:
	$(call install_missing,$(FUZZ_PACKAGES))

tidy-deps:
	$(call install_missing,$(TIDY_PACKAGES))

build: deps
	cmake --preset debug
	cmake --build build/debug -j $(JOBS)

test: deps
	cmake --preset debug
	cmake --build build/debug -j $(JOBS)
	ctest --test-dir build/debug --output-on-failure -j $(JOBS)

asan: deps
	cmake --preset asan
	cmake --build build/asan -j $(JOBS)
	ctest --test-dir build/asan --output-on-failure -j $(JOBS)

tsan: deps
	cmake --preset tsan
	cmake --build build/tsan -j $(JOBS)
	ctest --test-dir build/tsan --output-on-failure -j $(JOBS) -R '$(TSAN_FILTER)'

bench: deps
	cmake --preset release
	cmake --build build/release -j $(JOBS) --target quor_bench quor_python
	build/release/bench/quor_bench
	PYTHONPATH=build/release/python python3 bench/quor_python_bench.py

fuzz: deps fuzz-deps
	cmake --preset fuzz
	cmake --build build/fuzz -j $(JOBS)
	./fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

# The checks of .clang-tidy over the library, the tools and the Python module, on the debug
# build's compile commands; any finding fails.
tidy: deps tidy-deps
	cmake --preset debug
	run-clang-tidy-16 -p build/debug -quiet -j $(JOBS) -clang-tidy-binary clang-tidy-16 \
	  "$(CURDIR)/(src|tools|python)/"

# Records a synthetic two-track fileset, plays it back, authenticates it and a damaged copy; then
# imports a clip made by the ffmpeg program and exports 4 s of it to a playable MP4. Everything
# stays in $(DEMO_DIR).
DEMO_QUORMF := build/debug/tools/quormf
demo: deps
	cmake --preset debug
	cmake --build build/debug -j $(JOBS) --target quormf
	$(DEMO_QUORMF) demo $(DEMO_DIR)
	@printf '\n== 6. Real media: a 10 s H.264+AAC clip imported and 4 s of it exported\n'
	ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25 \
	  -f lavfi -i sine=frequency=440:sample_rate=48000 -t 10 -c:v libx264 -g 25 -c:a aac \
	  -metadata:s:a:0 language=eng $(DEMO_DIR)/clip.mp4
	$(DEMO_QUORMF) import $(DEMO_DIR)/clip.mp4 $(DEMO_DIR)/media/clip.qmf --max-size 512 \
	  --max-files 16 --password demo --overwrite
	$(DEMO_QUORMF) export $(DEMO_DIR)/media/clip.qmf $(DEMO_DIR)/clip-2s-6s.mp4 -p demo \
	  --from 2000000 --to 6000000 --overwrite
	@echo "playable file: $(DEMO_DIR)/clip-2s-6s.mp4 (traced back by $(DEMO_DIR)/clip-2s-6s.mp4.json)"

# The library, the client runtime, libquor, public headers, CMake package, pkg-config file,
# quormf and the Python package (into the interpreter's site directory under $(PREFIX)), under
# $(PREFIX) (sudo only when the prefix is not writable).
install: deps
	cmake --preset release
	cmake --build build/release -j $(JOBS) --target quormediafiles quor_platform quor quor_python quormf
	@if mkdir -p $(PREFIX) 2>/dev/null && [ -w $(PREFIX) ]; then \
	  cmake --install build/release --prefix $(PREFIX); \
	else \
	  $(SUDO) cmake --install build/release --prefix $(PREFIX); \
	fi

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

format-check:
	git ls-files '*.h' '*.cpp' | xargs -r clang-format --dry-run --Werror

clean:
	rm -rf build
