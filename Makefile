# Entry points. Each target installs what it needs on a fresh Debian 12 machine.
BUILD   ?= build
JOBS    ?= $(shell nproc)
NATIVE  := $(BUILD)/native
BENCHB  := $(BUILD)/bench
WIN64   := $(BUILD)/win64
WIN32   := $(BUILD)/win32
PACKAGE := $(BUILD)/package
SETUP   := $(BUILD)/setup
# The package's code-signing certificate and key, made once per build tree by the
# co-installer's build (the certificate it embeds and trusts).
SIGNING := $(BUILD)/signing

.PHONY: all deps configure build package setup test test-native test-wine test-setup test-x86 x86-setup demo bench panel fuzz clean

all: build

deps:
	@tools/deps.sh

CONFIGURE_WIN64 := cmake -S . -B $(WIN64) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
# What `make demo` runs, and nothing else, so a newcomer sees the product in minutes.
DEMO_TARGETS := TessalineUsbAudioDevice2ASIO TessalineUsbAudioDevice2ASIOW asioprobe asiohost asiostatus

configure: deps
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTESS_SANITIZE=ON
	$(CONFIGURE_WIN64)
	cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DTESS_TESTS=ON -DTESS_X64_BUILD=$(abspath $(WIN64))

build: configure
	cmake --build $(NATIVE) -j $(JOBS)
	cmake --build $(WIN64) -j $(JOBS)
	cmake --build $(WIN32) -j $(JOBS)
	$(MAKE) --no-print-directory package setup

# x86 deliverables at the package root, x64 ones in x64/ (the installer's layout).
package:
	rm -rf $(PACKAGE)
	cmake --install $(WIN32) --prefix $(PACKAGE) --component deliverable
	cmake --install $(WIN64) --prefix $(PACKAGE)/x64 --component deliverable
	@echo "package staged in $(PACKAGE)"

# Setup.exe (64-bit Windows) and Setup-x86.exe from the staged package, all signed.
setup:
	setup/build.sh $(PACKAGE) $(SIGNING)/package-signing.pem $(SIGNING)/package-signing.key $(SETUP)

test: build
	$(MAKE) --no-print-directory test-native test-wine test-setup test-x86

test-native:
	ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS)

# Wine tests share one prefix and the status block, so they run one at a time.
test-wine:
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir $(WIN64) --output-on-failure -j 1

# The x86 lane: the x86 build's lane programs and checks (tools/x86/Lane.cmake) under 32-bit
# Wine in QEMU user-mode emulation. First use downloads and unpacks a private Wine root
# into ~/.cache/tessaline-x86 (TESS_X86_CACHE to move it); nothing is installed system-wide.
x86-setup:
	@tools/x86/setup.sh

# A program that fails or hangs gets one more run (its first output stays in the log):
# QEMU's user-mode threads and signals make a rare emulated run stall.
test-x86: x86-setup
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir $(WIN32) --output-on-failure --no-tests=error -j 1 \
	  --repeat until-pass:2

# Setup.exe end to end, as a user runs it, in a fresh prefix of its own.
test-setup:
	xvfb-run -a -s "-screen 0 1280x1024x24" setup/tests/setup_e2e.sh $(SETUP) $(WIN64) $(SIGNING)/package-signing.pem

demo: deps
	$(CONFIGURE_WIN64)
	cmake --build $(WIN64) -j $(JOBS) --target $(DEMO_TARGETS)
	tools/demo.sh $(WIN64)

# The control panel under Wine with the virtual DAC and the driver streaming (tools/panel.sh).
panel: deps
	$(CONFIGURE_WIN64)
	cmake --build $(WIN64) -j $(JOBS) --target TessalineUsbAudioDevice2ACPLUI TessalineUsbAudioDevice2ASIO asiohost
	tools/panel.sh $(WIN64)

# Native kernels, then the driver under the virtual DAC through asiohost (x64 build).
bench: configure
	cmake -S . -B $(BENCHB) -DCMAKE_BUILD_TYPE=Release -DTESS_BENCH=ON -DTESS_TESTS=OFF
	cmake --build $(BENCHB) -j $(JOBS)
	cmake --build $(WIN64) -j $(JOBS) --target TessalineUsbAudioDevice2ASIO TessalineUsbAudioDevice2ASIOW asiohost remote_bench
	tools/bench.sh $(BENCHB) $(WIN64)

# Every fuzz target for FUZZ_SECONDS each (default 10 minutes) on the corpus kept in
# $(NATIVE)/fuzz/<target>/corpus; FUZZ_TARGETS="a b" runs only those. `make test` keeps its short runs.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?=
fuzz: configure
	cmake --build $(NATIVE) -j $(JOBS) --target fuzz_targets
	tools/fuzz.sh $(NATIVE) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD)
