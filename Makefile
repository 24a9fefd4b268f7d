# vexcore: the two set-up commands are `make demo` and `make test`.
# Both install the Debian packages the build needs when they are missing.

JOBS     ?= $(shell nproc)
BUILD    ?= build
ASAN     ?= build-asan
TSAN     ?= build-tsan
FUZZ     ?= build-fuzz
I386     ?= build-i386
FUZZ_SECONDS ?= 20

# Build dependencies, test oracles and fixture makers, benchmark peers.
PACKAGES = build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
           libfftw3-dev libjama-dev libtnt-dev libflac-dev libvorbis-dev libogg-dev \
           clang libclang-rt-14-dev \
           lame mpg123 ffmpeg sox libsox-fmt-mp3 flac vorbis-tools libchromaprint-tools aubio-tools \
           bc hyperfine parallel

# The 32-bit x86 build: compilers for -m32 and the i386 variants of the
# libraries it links (the headers-only JAMA/TNT serve both).
PACKAGES_I386 = gcc-multilib g++-multilib libgtest-dev:i386 libgmock-dev:i386 libfftw3-dev:i386 \
                libflac-dev:i386 libvorbis-dev:i386 libogg-dev:i386

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps deps-i386 build build-asan build-i386 test test-release test-asan test-tsan test-i386 fuzz demo bench clean

all: build

# install-missing PACKAGES: a package counts as installed only for the
# architecture asked (NAME:ARCH, else the machine's own) or for all: once the
# i386 libraries are in, their names alone would match either.
define install-missing
	@native=$$(dpkg --print-architecture); \
	missing=$$(for p in $(1); do \
	  n=$${p%%:*}; a=$$native; case $$p in *:*) a=$${p#*:};; esac; \
	  dpkg-query -W -f='$${Status} $${Architecture}\n' $$n 2>/dev/null | \
	    grep -qE "install ok installed ($$a|all)$$" || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install-missing,$(PACKAGES))

deps-i386: deps
	@dpkg --print-foreign-architectures | grep -qx i386 || $(SUDO) dpkg --add-architecture i386
	$(call install-missing,$(PACKAGES_I386))

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# -O1 and line tables only: the sanitizers' usual settings, and the build
# that dominates `make test` compiles a third faster than at -O2 -g.
build-asan: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" 	  -DVEX_SANITIZE=ON -DVEX_BENCH=OFF
	cmake --build $(ASAN) -j $(JOBS)

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The whole suite under ThreadSanitizer: the readers' two decoders, the
# resampler's halves and the analysis steps side by side. Tests are listed
# when ctest runs (the sanitizer wants its own address-space layout, which
# the kernel may refuse with more than 28 bits of mmap randomisation).
test-tsan: deps
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DVEX_BENCH=OFF \
	  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
	cmake --build $(TSAN) -j $(JOBS)
	cd $(TSAN) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# Every fuzz target for a smoke run of FUZZ_SMOKE_SECONDS each (about a
# minute in all); findings are kept in $(FUZZ)/fuzz/findings/TARGET/.
fuzz: FUZZ_SMOKE_SECONDS ?= 8
fuzz: deps
	@if [ -d fuzz ]; then \
	  CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEX_FUZZ=ON \
	    -DVEX_TESTS=OFF -DVEX_BENCH=OFF && \
	  cmake --build $(FUZZ) -j $(JOBS) --target fuzz_targets && \
	  FUZZ_SECONDS=$(FUZZ_SMOKE_SECONDS) BUILD=$(FUZZ) sh fuzz/run.sh; \
	fi

# Every fuzz target, one after another, for FUZZ_SECONDS each; the corpora
# grow from run to run in $(FUZZ)/corpus/TARGET, findings are kept as files
# in $(FUZZ)/fuzz/findings/TARGET/. One fuzzer at a time, at low priority.
.PHONY: fuzz-long
fuzz-long: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEX_FUZZ=ON \
	  -DVEX_TESTS=OFF -DVEX_BENCH=OFF
	cmake --build $(FUZZ) -j $(JOBS) --target fuzz_targets
	mkdir -p $(FUZZ)/corpus
	FUZZ_SECONDS=$(FUZZ_SECONDS) BUILD=$(FUZZ) CORPUS=$(FUZZ)/corpus nice -n 10 sh fuzz/run.sh

# The 32-bit x86 build (SSE2 arithmetic, as the worker is specified for), its
# whole test suite, then the records of the three commands on generated songs
# against the 64-bit Release build: byte-identical, except that the system's
# i386 libvorbis may round a decoded sample differently by 1.
build-i386: deps-i386
	cmake -S . -B $(I386) -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake -DCMAKE_BUILD_TYPE=Release -DVEX_BENCH=OFF
	cmake --build $(I386) -j $(JOBS)

test-i386: build-i386
	cd $(I386) && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target vexcore vextool
	sh tools/compare_records.sh --generated --ogg-slack 1 $(BUILD) $(I386)

# Every test once, under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the fuzz smoke run; `make test-release` runs the same tests on the Release build.
test: test-asan fuzz

demo: build
	sh tools/demo.sh $(BUILD)

bench: build
	sh bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(FUZZ) $(I386)

# Installs vexcore and vextool side by side in $(PREFIX)/bin, where a parent
# application and `vextool run` find the worker.
PREFIX ?= /usr/local
.PHONY: install
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)
