# Entry points: make, make test, make run ARGS=..., make fuzz, make bench.
HOST_BUILD := build/host
ASAN_BUILD := build/asan
EFI_BUILD  := build/efi
JOBS       ?= $(shell nproc)

.PHONY: all host efi asan test run fuzz bench clean

all: host efi

host:
	cmake -S . -B $(HOST_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(HOST_BUILD) -j $(JOBS)

asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DIOVET_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)

efi:
	cmake -S . -B $(EFI_BUILD) -DIOVET_TARGET=efi -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/efi-toolchain.cmake >/dev/null
	cmake --build $(EFI_BUILD) -j $(JOBS)

# Every test: host unit tests, the same under the sanitizers, and the QEMU
# checks of the firmware image.
test: host efi asan
	cd $(HOST_BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -LE qemu

run: efi
	tools/qemu-run -- $(ARGS)

fuzz:
	$(MAKE) -C . -f cmake/fuzz.mk fuzz

bench: host
	tools/bench

clean:
	rm -rf build
