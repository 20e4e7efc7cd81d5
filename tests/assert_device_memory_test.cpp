// Reserved memory regions (39, 40, 41), USB controllers and RMRRs (42), PCI
// memory BARs (49), on small simulated platforms.
#include "support/device_platform.h"
#include "support/harness.h"

using namespace device_platform;
using sim::scope_spec;

namespace {

const char* const not_reserved = " is not marked as reserved in system memory map.\n";
const char* const not_reserved_or_runtime = " is not marked as reserved or runtime in system memory map.\n";

// An RMRR over [base, limit] whose scope names B0:D5:F0 of the given class,
// with the memory map given.
outcome rmrr_against_map(uint64_t base, uint64_t limit, uint8_t base_class,
                         const std::vector<sim::memory_descriptor>& map) {
  bench b;
  b.device(0, 5, 0, 0x1234, base_class, base_class == 0x0C ? 0x03 : 0, base_class == 0x0C ? 0x30 : 0);
  b.dmar.rmrr(0, base, limit, {scope_spec{1, 0, 0, {{5, 0}}}});
  b.m.memory_map = map;
  return b.evaluate(40);
}

}  // namespace

TEST(RmrrMemoryMap, AlignmentAndSizeComeFirst) {
  std::vector<sim::memory_descriptor> map{{0, 0x1000, 1, 0}};
  EXPECT_EQ(rmrr_against_map(0x1000, 0x1FFF, 0x01, map).result, TEST_PASS);
  auto size = rmrr_against_map(0x1000, 0x1FFE, 0x01, map);
  EXPECT_EQ(size.result, TEST_FAIL);
  EXPECT_EQ(size.message, "RMMR size must be multiple of 4KB.\n");
  auto align = rmrr_against_map(0x1800, 0x27FF, 0x01, map);
  EXPECT_EQ(align.message, "RMMR base address must be 4KB aligned.\n");
  // A limit below the base passes the size rule by wrap-around but is no region.
  auto inverted = rmrr_against_map(0x2000, 0x0FFF, 0x01, {{0, 0, 16, 0}});
  EXPECT_EQ(inverted.result, TEST_FAIL);
  EXPECT_EQ(inverted.message, "RMRR Base Address(0x2000) Limit Adress(0xFFF) does not describe a region.\n");
}

TEST(RmrrMemoryMap, RegionMustLieInsideOneReservedDescriptor) {
  // Limit on the descriptor's last byte: inside.
  EXPECT_EQ(rmrr_against_map(0x10000, 0x13FFF, 0x01, {{7, 0, 16, 0}, {0, 0x10000, 4, 0}}).result, TEST_PASS);
  // One byte beyond the descriptor (one more page here).
  auto beyond = rmrr_against_map(0x10000, 0x14FFF, 0x01, {{0, 0x10000, 4, 0}});
  EXPECT_EQ(beyond.result, TEST_FAIL);
  EXPECT_EQ(beyond.message, std::string("RMRR Base Address(0x10000) Limit Adress(0x14FFF)") + not_reserved);
  // Straddling two adjacent reserved descriptors.
  EXPECT_EQ(rmrr_against_map(0x10000, 0x17FFF, 0x01, {{0, 0x10000, 4, 0}, {0, 0x14000, 4, 0}}).result, TEST_FAIL);
  // Starting below the descriptor.
  EXPECT_EQ(rmrr_against_map(0xF000, 0x10FFF, 0x01, {{0, 0x10000, 4, 0}}).result, TEST_FAIL);
  // A descriptor that reaches the top of the address space does not wrap.
  EXPECT_EQ(rmrr_against_map(0xFFFFFFFFFFFFE000ULL, 0xFFFFFFFFFFFFEFFFULL, 0x01,
                             {{0, 0xFFFFFFFFFFFF0000ULL, 0x10, 0}})
                .result,
            TEST_PASS);
  // Only reserved memory counts for a device that is not a USB controller.
  auto runtime = rmrr_against_map(0x10000, 0x13FFF, 0x02, {{6, 0x10000, 4, 0}});
  EXPECT_EQ(runtime.message, std::string("RMRR Base Address(0x10000) Limit Adress(0x13FFF)") + not_reserved);
}

TEST(RmrrMemoryMap, UsbRegionsMayBeRuntimeAndDisplayRegionsSkipTheMap) {
  for (uint32_t type : {5u, 6u, 0u})
    EXPECT_EQ(rmrr_against_map(0x10000, 0x13FFF, 0x0C, {{type, 0x10000, 4, 0}}).result, TEST_PASS) << type;
  auto usb = rmrr_against_map(0x10000, 0x13FFF, 0x0C, {{7, 0x10000, 4, 0}});
  EXPECT_EQ(usb.message, std::string("RMRR Base Address(0x10000) Limit Adress(0x13FFF)") + not_reserved_or_runtime);
  // Display: accepted whatever the map says (here: nothing at all).
  EXPECT_EQ(rmrr_against_map(0x10000, 0x13FFF, 0x03, {}).result, TEST_PASS);
  // Low 32 bits of the addresses in the message.
  auto high = rmrr_against_map(0x123450000ULL, 0x123453FFFULL, 0x02, {});
  EXPECT_EQ(high.message, std::string("RMRR Base Address(0x23450000) Limit Adress(0x23453FFF)") + not_reserved);
}

TEST(RmrrMemoryMap, NoScopeComparesWithReservedOnlyAndFirstFailureStops) {
  bench b;
  b.dmar.rmrr(0, 0x10000, 0x13FFF);
  b.dmar.rmrr(0, 0x20000, 0x20FFE);  // never reached
  b.m.memory_map = {{6, 0x10000, 4, 0}};
  EXPECT_EQ(b.evaluate(40).message, std::string("RMRR Base Address(0x10000) Limit Adress(0x13FFF)") + not_reserved);
  bench ok;
  ok.dmar.rmrr(0, 0x10000, 0x13FFF);
  ok.m.memory_map = {{0, 0x10000, 4, 0}};
  EXPECT_EQ(ok.evaluate(40).result, TEST_PASS);
}

TEST(RmrrMemoryMap, MemoryMapProblemsAreWarnings) {
  struct row {
    std::function<void(bench&)> inject;
    std::string message;
  } rows[] = {
      {[](bench& b) { b.m.memory_map_first_status = EFI_INVALID_PARAMETER; },
       "Cannot verify RMMR regions. GetMemoryMap() return with status = 2.\n"},
      {[](bench& b) { b.m.memory_map_second_status = EFI_DEVICE_ERROR; },
       "Cannot verify RMMR regions. Second call to GetMemoryMap() return with status = 7.\n"},
      {[](bench& b) { b.m.descriptor_version = 2; },
       "Cannot verify RMMR regions. DescriptorVersion (2) !=  EFI_MEMORY_DESCRIPTOR_VERSION (1).\n"},
      // A descriptor size no map has: refused before the map is sized by it.
      {[](bench& b) { b.m.descriptor_size = 0x10008; },
       "Cannot verify RMMR regions. GetMemoryMap() returned DescriptorSize = 65544.\n"},
  };
  for (auto& r : rows) {
    bench b;
    b.dmar.rmrr(0, 0x10000, 0x10FFE);  // would fail: the warning comes first
    b.m.memory_map = {{0, 0x10000, 4, 0}};
    r.inject(b);
    auto o = b.evaluate(40);
    EXPECT_EQ(o.result, TEST_WARNING) << r.message;
    EXPECT_EQ(o.message, r.message);
  }
  // No pool for the map: the allocation after the collection fails.
  bench b;
  b.m.memory_map = {{0, 0x10000, 4, 0}};
  {
    bench probe;
    probe.m.memory_map = b.m.memory_map;
    probe.evaluate(39);
    b.m.fail_allocation_at = (int64_t)probe.m.allocations;
  }
  auto o = b.evaluate(40);
  EXPECT_EQ(o.result, TEST_WARNING);
  EXPECT_EQ(o.message, "Cannot verify RMMR regions. Failed to allocated memory for memory descriptors.\n");
}

TEST(RmrrMemoryMap, DescriptorsAreSteppedByTheReportedSize) {
  bench b;
  b.dmar.rmrr(0, 0x30000, 0x33FFF);
  b.m.descriptor_size = 64;
  b.m.memory_map = {{7, 0, 16, 0}, {7, 0x10000, 16, 0}, {0, 0x30000, 4, 0}};
  EXPECT_EQ(b.evaluate(40).result, TEST_PASS);
}

TEST(RmrrScopes, EndpointTypesAndPaths) {
  // Test 39: only endpoint scopes; test 41: each path names an answering function.
  struct row {
    std::vector<scope_spec> scopes;
    uint64_t t39, t41;
  } rows[] = {
      {{}, TEST_PASS, TEST_PASS},
      {{scope_spec{1, 0, 0, {{5, 0}}}}, TEST_PASS, TEST_PASS},
      {{scope_spec{2, 0, 0, {{28, 0}}}}, TEST_FAIL, TEST_PASS},
      {{scope_spec{1, 0, 0, {{6, 0}}}}, TEST_PASS, TEST_FAIL},        // nothing answers
      {{scope_spec{1, 0, 0, {{5 | 0x20, 0}}}}, TEST_PASS, TEST_FAIL}, // device 37 would alias device 5
      {{scope_spec{1, 0, 0, {{5, 8}}}}, TEST_PASS, TEST_FAIL},        // function 8 would alias function 0
      {{scope_spec{1, 0, 0, {{5, 0}}, 6}}, TEST_PASS, TEST_FAIL},      // Length 6: empty path
      // Behind the root port: B0:D28:F0 -> secondary bus 3 -> D0:F0.
      {{scope_spec{1, 0, 0, {{28, 0}, {0, 0}}, 10}}, TEST_PASS, TEST_PASS},
      // The second entry behind a function that is not a bridge.
      {{scope_spec{1, 0, 0, {{5, 0}, {0, 0}}, 10}}, TEST_PASS, TEST_FAIL},
      // Bus 3 D0:F0 exists, but as a first entry on bus 0 it names nothing.
      {{scope_spec{1, 0, 0, {{0, 1}}}}, TEST_PASS, TEST_FAIL},
  };
  for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
    bench b;
    b.device(0, 5, 0, 0x1234, 0x02);
    auto& rp = b.device(0, 28, 0, 0x5678, 0x06, 0x04, 0, 1);
    rp.set8(0x19, 3);
    b.device(3, 0, 0, 0x9ABC, 0x02);
    b.dmar.rmrr(0, 0x10000, 0x10FFF, rows[i].scopes);
    auto out = b.evaluate({39, 41});
    EXPECT_EQ(out[39].result, rows[i].t39) << "row " << i;
    EXPECT_EQ(out[41].result, rows[i].t41) << "row " << i;
    if (rows[i].t39 == TEST_FAIL)
      EXPECT_EQ(out[39].message, "RMMR Device Scopes must contain only PCI Endpoint types.\n");
    if (rows[i].t41 == TEST_FAIL) EXPECT_EQ(out[41].message, "The RMRR has an invalid PCI path.\n");
  }
}

TEST(RmrrScopes, PathCutShortByTheStructureEndIsInvalid) {
  bench b;
  b.device(0, 5, 0, 0x1234, 0x02);
  // A scope whose Length promises three entries in an RMRR that ends after one.
  sim::bytes r(24, 0);
  sim::put_le(r, 0, 1, 2);
  sim::put_le(r, 8, 0x10000, 8);
  sim::put_le(r, 16, 0x10FFF, 8);
  sim::bytes s = sim::device_scope(scope_spec{1, 0, 0, {{5, 0}}, 12});
  r.insert(r.end(), s.begin(), s.end());
  sim::put_le(r, 2, r.size(), 2);
  b.dmar.raw(r);
  EXPECT_EQ(b.evaluate(41).result, TEST_FAIL);
}

// ---------------------------------------------------------------------------
// USB controllers.

namespace {

constexpr uint64_t USB_MMIO = 0xA0000000;

// An xHCI controller at B0:D20:F0 with the given extended capabilities
// (ID, next in dwords) from xECP 0x500.
void add_xhci(bench& b, const std::vector<std::pair<uint8_t, uint8_t>>& caps, uint8_t dev = 20) {
  uint64_t mmio = USB_MMIO + (uint64_t)dev * 0x100000;
  auto& f = b.device(0, dev, 0, 0xA36D, 0x0C, 0x03, 0x30);
  f.set32(0x10, (uint32_t)mmio | 0x4);
  b.m.write32(mmio + 0x10, caps.empty() ? 0 : 0x0500u << 16);
  uint64_t at = mmio + 0x500 * 4;
  for (auto [id, next] : caps) {
    b.m.write32(at, id | (uint32_t)next << 8);
    at += (uint64_t)next * 4;
  }
}

// An EHCI controller whose HCCPARAMS gives eecp, with configuration
// capabilities (offset, ID, next).
void add_ehci(bench& b, uint8_t dev, uint8_t eecp, const std::vector<std::array<uint8_t, 3>>& caps) {
  uint64_t mmio = USB_MMIO + 0x800000 + (uint64_t)dev * 0x1000;
  auto& f = b.device(0, dev, 0, 0x1E26, 0x0C, 0x03, 0x20);
  f.set32(0x10, (uint32_t)mmio);
  b.m.write32(mmio + 0x08, (uint32_t)eecp << 8);
  for (auto [off, id, next] : caps) f.set32(off, id | (uint32_t)next << 8);
}

}  // namespace

TEST(UsbRmrr, XhciLegacySupportFirstOrSecondNeedsAnRmrrScope) {
  for (bool second : {false, true}) {
    auto caps = second ? std::vector<std::pair<uint8_t, uint8_t>>{{0x02, 0x10}, {0x01, 0}}
                       : std::vector<std::pair<uint8_t, uint8_t>>{{0x01, 0x10}, {0x02, 0}};
    bench listed;
    add_xhci(listed, caps);
    listed.dmar.rmrr(0, 0x10000, 0x10FFF, {scope_spec{1, 0, 0, {{20, 0}}}});
    EXPECT_EQ(listed.evaluate(42).result, TEST_PASS) << second;
    bench missing;
    add_xhci(missing, caps);
    missing.dmar.rmrr(0, 0x10000, 0x10FFF, {scope_spec{1, 0, 0, {{20, 1}}}});
    auto o = missing.evaluate(42);
    EXPECT_EQ(o.result, TEST_FAIL) << second;
    EXPECT_EQ(o.message, " USB Device (B0:D20:F0) not listed in RMRR.\n");
  }
}

TEST(UsbRmrr, ControllersWithoutLegacySupportOrRegistersAreSkipped) {
  bench b;
  add_xhci(b, {{0x02, 0x10}, {0x03, 0}}, 20);  // no legacy support
  add_xhci(b, {}, 21);                         // xECP 0
  add_xhci(b, {{0x02, 0x04}}, 22);              // list runs into unset registers (all ones)
  b.m.write32(USB_MMIO + 22 * 0x100000 + 0x500 * 4 + 0x10, 0xFFFFFFFF);
  b.device(0, 23, 0, 0x1111, 0x0C, 0x03, 0x10);  // OHCI
  auto& unassigned = b.device(0, 24, 0, 0x2222, 0x0C, 0x03, 0x30);
  unassigned.set32(0x10, 0x4);  // 64-bit BAR, address 0
  EXPECT_EQ(b.evaluate(42).result, TEST_PASS);
  EXPECT_EQ(b.console, "");
}

TEST(UsbRmrr, XhciListThatLoopsEnds) {
  bench b;
  add_xhci(b, {{0x02, 0x00}});
  // A capability whose next pointer is its own size keeps going forward
  // through registers that repeat: the walk has a step bound.
  b.m.add_model(USB_MMIO + 20 * 0x100000 + 0x1400, 1ULL << 32, [](uint64_t, unsigned) { return 0x0402; });
  EXPECT_EQ(b.evaluate(42).result, TEST_PASS);
}

TEST(UsbRmrr, EhciPointerRulesAndPerControllerFlag) {
  {
    bench b;  // EECP 0x68 with legacy support, listed
    add_ehci(b, 26, 0x68, {{0x68, 0x01, 0x00}});
    b.dmar.rmrr(0, 0x10000, 0x10FFF, {scope_spec{1, 0, 0, {{26, 0}}}});
    EXPECT_EQ(b.evaluate(42).result, TEST_PASS);
  }
  {
    bench b;  // legacy support as second capability, not listed
    add_ehci(b, 26, 0x68, {{0x68, 0x0A, 0x70}, {0x70, 0x01, 0x00}});
    EXPECT_EQ(b.evaluate(42).message, " USB Device (B0:D26:F0) not listed in RMRR.\n");
  }
  {
    bench b;  // EECP 0: invalid pointer
    add_ehci(b, 29, 0x00, {});
    auto o = b.evaluate(42);
    EXPECT_EQ(o.result, TEST_FAIL);
    EXPECT_EQ(o.message, " USB Device (B0:D29:F0) has invalid EHCI Extended Capabilities Pointer value: 0x0.\n");
  }
  {
    bench b;  // the flag belongs to each controller: D26 listed, D29 has no legacy support
    add_ehci(b, 26, 0x68, {{0x68, 0x01, 0x00}});
    add_ehci(b, 29, 0x68, {{0x68, 0x0A, 0x00}});
    b.dmar.rmrr(0, 0x10000, 0x10FFF, {scope_spec{1, 0, 0, {{26, 0}}}});
    EXPECT_EQ(b.evaluate(42).result, TEST_PASS);
  }
  {
    bench b;  // a list that points back at itself ends
    add_ehci(b, 26, 0x68, {{0x68, 0x0A, 0x68}});
    EXPECT_EQ(b.evaluate(42).result, TEST_PASS);
  }
}

TEST(UsbRmrr, NotApplicableFlag) {
  bench b;
  add_xhci(b, {{0x01, 0}});
  set_not_applicable(&b.tinfo, 42);
  EXPECT_EQ(b.evaluate(42).result, TEST_NA);
}

// ---------------------------------------------------------------------------
// Memory BARs.

namespace {

sim::pci_function& with_bars(bench& b, uint8_t dev, uint16_t device_id, const std::vector<uint32_t>& bars,
                             uint8_t header = 0) {
  auto& f = b.device(0, dev, 0, device_id, 0x02, 0, 0, header);
  for (size_t i = 0; i < bars.size(); i++) f.set32(0x10 + 4 * (uint32_t)i, bars[i]);
  return f;
}

}  // namespace

TEST(MemoryBars, AlignmentAndBarTypes) {
  {
    bench b;
    with_bars(b, 3, 0x1000, {0xC0000000, 0x0000E001, 0xC0010000});  // I/O BAR skipped
    EXPECT_EQ(b.evaluate(49).result, TEST_PASS);
  }
  {
    bench b;
    with_bars(b, 3, 0x1000, {0xC0000000, 0xC0010800});
    auto o = b.evaluate(49);
    EXPECT_EQ(o.message, "B00D03F00 Reg:0x14 MMIO Address(0xC0010800) is not 4KB aligned.\n");
  }
  {
    bench b;  // 64-bit BAR in the last register of a type-0 header
    with_bars(b, 3, 0x1000, {0, 0, 0, 0, 0, 0xC0000004});
    EXPECT_EQ(b.evaluate(49).message, "BAR(0xC0000004) from DID 0x1000 Reg 0x24 have an invalid Base Address Type\n");
  }
  {
    bench b;  // ... and of a type-1 header
    with_bars(b, 28, 0x2000, {0, 0xC000000C}, 1);
    EXPECT_EQ(b.evaluate(49).message, "BAR(0xC000000C) from DID 0x2000 Reg 0x14 have an invalid Base Address Type\n");
  }
  {
    bench b;  // 64-bit BAR in 0x20: the upper half comes from 0x24
    with_bars(b, 3, 0x1000, {0, 0, 0, 0, 0xC0000004, 0x1});
    with_bars(b, 4, 0x1001, {0xC0000000});
    auto o = b.evaluate(49);
    EXPECT_EQ(o.result, TEST_PASS) << o.message;
  }
}

TEST(MemoryBars, FourKibConflictRule) {
  {
    bench b;  // exactly 0x1000 apart: no conflict
    with_bars(b, 3, 0x1000, {0xC0000000});
    with_bars(b, 4, 0x1001, {0xC0001000});
    EXPECT_EQ(b.evaluate(49).result, TEST_PASS);
  }
  {
    bench b;  // same address, different device IDs: named in table order
    with_bars(b, 3, 0x1000, {0xC0000000});
    with_bars(b, 4, 0x1001, {0xC0000000});
    EXPECT_EQ(b.evaluate(49).message, "BAR(0xC0000000) from DID 0x1000 conflicts with BAR(0xC0000000) from DID 0x1001\n");
  }
  {
    bench b;  // equal device IDs never conflict (two functions of one device)
    with_bars(b, 3, 0x1000, {0xC0000000});
    with_bars(b, 4, 0x1000, {0xC0000000});
    EXPECT_EQ(b.evaluate(49).result, TEST_PASS);
  }
  {
    bench b;  // memory space disabled: contributes nothing
    with_bars(b, 3, 0x1000, {0xC0000000});
    with_bars(b, 4, 0x1001, {0xC0000000}).set16(0x04, 0x0005);
    EXPECT_EQ(b.evaluate(49).result, TEST_PASS);
  }
  {
    bench b;  // near the top of the address space the comparison does not wrap
    with_bars(b, 3, 0x1000, {0xFFFFF004, 0xFFFFFFFF});
    with_bars(b, 4, 0x1001, {0x00000004, 0x00000000, 0xC0000000});
    EXPECT_EQ(b.evaluate(49).result, TEST_PASS);
  }
}

TEST(MemoryBars, EveryBarTakesPartBeyondAHundred) {
  bench b;
  // 21 functions with 6 BARs each (126 BARs); the last one collides with the first.
  for (uint8_t dev = 1; dev <= 21; dev++) {
    std::vector<uint32_t> bars;
    for (uint32_t i = 0; i < 6; i++) bars.push_back(0xC0000000 + ((uint32_t)dev * 6 + i) * 0x10000);
    with_bars(b, dev, (uint16_t)(0x1000 + dev), bars);
  }
  b.m.pci(0, 21, 0).set32(0x24, 0xC0060000);
  auto o = b.evaluate(49);
  EXPECT_EQ(o.message, "BAR(0xC0060000) from DID 0x1001 conflicts with BAR(0xC0060000) from DID 0x1015\n");
}
