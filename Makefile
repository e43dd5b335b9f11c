# One-command entry points. Each installs what it needs when it is missing.
#   make test   builds host, x64 and x86 and runs every test layer
#   make demo   the whole chain from a scripted page to a started game
#   make package  the client packages (build/x64/package/Quorlynx-<version>-x64.msi, -x86.msi),
#                 signed with QZ_SIGN_CERT and QZ_SIGN_KEY when given (package/make_package.sh)
#   make bench  performance figures (zip reader, downloads)
#   make fuzz   fuzzes each parser for FUZZ_SECONDS (the tests only replay the seeds)

BUILD ?= build
JOBS ?= 2
CTEST_JOBS ?= 3
HOST_CXX ?= clang++-14
HOST_CC ?= clang-14

HOST := $(BUILD)/host
X64 := $(BUILD)/x64
X86 := $(BUILD)/x86

.PHONY: all deps configure build package test test-host test-win demo bench fuzz clean

all: build

deps:
	@bash tools/deps.sh --wine32 $(X86)/wine32

$(HOST)/CMakeCache.txt: | deps
	cmake -S . -B $(HOST) -DCMAKE_CXX_COMPILER=$(HOST_CXX) -DCMAKE_C_COMPILER=$(HOST_CC)
$(X64)/CMakeCache.txt: | deps
	cmake -S . -B $(X64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
$(X86)/CMakeCache.txt: | deps
	cmake -S . -B $(X86) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake

configure: $(HOST)/CMakeCache.txt $(X64)/CMakeCache.txt $(X86)/CMakeCache.txt

build: deps configure
	cmake --build $(HOST) -j $(JOBS)
	cmake --build $(X64) -j $(JOBS)
	cmake --build $(X86) -j $(JOBS)

test-host: deps $(HOST)/CMakeCache.txt
	cmake --build $(HOST) -j $(JOBS)
	cd $(HOST) && ctest --output-on-failure -j $(JOBS)

test-win: deps $(X64)/CMakeCache.txt
	cmake --build $(X64) -j $(JOBS)
	cd $(X64) && ctest --output-on-failure -j $(CTEST_JOBS)

# The packages hold the programs of both Windows trees; the x64 tree builds them.
package: deps $(X64)/CMakeCache.txt $(X86)/CMakeCache.txt
	cmake --build $(X86) -j $(JOBS) --target Quorlynx Tessacom1
	cmake --build $(X64) -j $(JOBS) --target package

# Host tests first (fast), then the x86 smoke set (its 32-bit programs under
# the private 32-bit Wine: natively where the kernel runs 32-bit code, else, or
# with QZ_WINE32=emulated, under the user-mode emulator), then x64, whose
# summary closes the output; any failure fails the target.
test: build package
	cd $(HOST) && ctest --output-on-failure -j $(JOBS)
	cd $(X86) && ctest --output-on-failure -j $(CTEST_JOBS)
	cd $(X64) && ctest --output-on-failure -j $(CTEST_JOBS)

# The demo installs the client through the x64 package; a second run upgrades
# what the first installed, DEMO_FLAGS=--reset starts over.
demo: package
	cmake --build $(X64) -j $(JOBS)
	@bash tools/demo.sh $(DEMO_FLAGS) $(X64)

FUZZ_SECONDS ?= 60
fuzz: deps $(HOST)/CMakeCache.txt
	cmake -S . -B $(HOST) -DQZ_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(HOST) -j $(JOBS) --target fuzz

bench: build
	@bash bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)
