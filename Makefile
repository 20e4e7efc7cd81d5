# Entry points: make, make test, make run ARGS=..., make fuzz, make bench,
# make efi-debug, make usb, make survey.
HOST_BUILD := build/host
ASAN_BUILD := build/asan
EFI_BUILD  := build/efi
EFI_DEBUG_BUILD := build/efi-debug
USB_BUILD  := build/usb
JOBS       ?= $(shell nproc)

.PHONY: all host efi efi-debug usb asan test run fuzz bench survey clean

all: host efi

host:
	cmake -S . -B $(HOST_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(HOST_BUILD) -j $(JOBS)

asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DIOVET_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The release image users copy (optimized for size, no debug information).
efi:
	cmake -S . -B $(EFI_BUILD) -DIOVET_TARGET=efi -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/efi-toolchain.cmake >/dev/null
	cmake --build $(EFI_BUILD) -j $(JOBS)

# The same image unoptimized, with DWARF debug information, for a debugger.
efi-debug:
	cmake -S . -B $(EFI_DEBUG_BUILD) -DIOVET_TARGET=efi -DIOVET_EFI_DEBUG=ON \
	      -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/efi-toolchain.cmake >/dev/null
	cmake --build $(EFI_DEBUG_BUILD) -j $(JOBS)

# The boot stick: build/usb/iovet-usb.img (and -poweroff.img) to write to a
# USB stick, build/usb/files/ to copy onto one; the UEFI Shell comes from
# the ovmf package (tools/usb/make_stick.py).
usb: efi
	python3 tools/usb/make_stick.py $(EFI_BUILD) $(USB_BUILD)

# Every test: host unit tests, the same under the sanitizers, and the QEMU
# checks of the firmware image and the boot stick.
test: host efi asan usb
	cd $(HOST_BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -LE qemu

run: efi
	tools/qemu-run -- $(ARGS)

fuzz:
	$(MAKE) -C . -f cmake/fuzz.mk fuzz

bench: host
	tools/bench

# Every machine of the table corpus on its own tables alone:
# build/survey/survey.md and survey.tsv.
CORPUS ?= ../shared/corpus
survey: host
	$(HOST_BUILD)/iovet-survey $(CORPUS) build/survey

clean:
	rm -rf build
