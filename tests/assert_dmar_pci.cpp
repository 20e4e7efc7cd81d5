// PCI configuration of the IOxAPIC and of the scope endpoints (25, 26, 27),
// and the bounded capability walk they share.
#include "discovery/config_space.h"
#include "support/dmar_platform.h"
#include "support/harness.h"

using namespace dmar_platform;

TEST(IoxapicClassCode, ClassBytesInOrder) {
  struct row {
    uint32_t class_dword;  // prog-if << 8 | sub << 16 | base << 24
    uint64_t result;
  } rows[] = {{0x08002000, TEST_PASS}, {0x08001000, TEST_FAIL}, {0x08012000, TEST_FAIL}, {0x06002000, TEST_FAIL}};
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    p.m.pci(IOAPIC_BUS, 31, 0).set32(0x08, r.class_dword);
    bench b(p, true);
    outcome o = b.run(assert_ioxapic_class_code, 25);
    EXPECT_EQ(o.result, r.result) << std::hex << r.class_dword;
    EXPECT_EQ(o.console, "DEBUG -- #25 : IOAPIC b:0xF0 d:0x1F f:0x0\n");
    if (r.result == TEST_FAIL)
      EXPECT_EQ(o.message,
                "IOxAPIC PCI Device has invalid Base Class Code, Sub Class Code or Programming Interface value.\n");
  }
}

TEST(IoxapicClassCode, SilentIoxapicIsNotApplicableFor25And26) {
  platform p;
  make_healthy(p);
  p.m.remove_pci(IOAPIC_BUS, 31, 0);
  p.default_scopes[0].path = {{31, 0}, {31, 1}};  // 26 would fail on the path otherwise
  bench b(p);
  for (auto [f, id] : {std::pair{assert_ioxapic_class_code, 25}, {assert_ioxapic_rciep, 26}}) {
    outcome o = b.run(f, id);
    EXPECT_EQ(o.result, TEST_NA) << id;
    EXPECT_EQ(o.message, "\n") << id;
  }
}

TEST(IoxapicRciep, PathLengthTypeAndSilentScopeDevice) {
  struct row {
    const char* what;
    std::function<void(platform&)> change;
    const char* message;  // null: passes
  } rows[] = {
      {"two path entries", [](platform& p) { p.default_scopes[0].path = {{28, 0}, {0, 0}}; },
       "Path length for IOxAPIC Device Scope must be 2.\n"},
      {"no path entry", [](platform& p) { p.default_scopes[0].path = {}; },
       "Path length for IOxAPIC Device Scope must be 2.\n"},
      {"PCI Express endpoint", [](platform& p) { p.m.pci(IOAPIC_BUS, 31, 0).set16(0x42, 0x0002); },
       "IOxAPIC Device (DID = 0xD57) is not a Root Complex Integrated Endpoint.\n"},
      {"no PCI Express capability", [](platform& p) { p.m.pci(IOAPIC_BUS, 31, 0).set8(0x34, 0); }, nullptr},
      // The scope names another function than the PCH's IOxAPIC, and it is
      // silent: a clear failure instead of a walk over all-ones reads.
      {"scope device does not answer", [](platform& p) { p.default_scopes[0].path = {{30, 0}}; },
       "IOxAPIC Device (DID = 0xFFFF) is not enumerable.\n"},
      {"no IOAPIC scope", [](platform& p) { p.default_scopes.erase(p.default_scopes.begin()); }, nullptr},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    r.change(p);
    bench b(p);
    outcome o = b.run(assert_ioxapic_rciep, 26);
    EXPECT_EQ(o.result, r.message ? TEST_FAIL : TEST_PASS) << r.what;
    if (r.message) EXPECT_EQ(o.message, r.message) << r.what;
  }
}

TEST(EndpointRciep, HeaderLayoutPresenceAndType) {
  struct row {
    const char* what;
    std::function<void(platform&)> change;
    const char* message;
  } rows[] = {
      {"multi-function endpoint header 0x80", [](platform& p) { p.m.pci(0, 2, 0).set8(0x0E, 0x80); }, nullptr},
      {"bridge header 0x01", [](platform& p) { p.m.pci(0, 2, 0).set8(0x0E, 0x01); },
       "PCI Device (DID = 0x9A49) must have header value of zero.\n"},
      {"multi-function bridge 0x81", [](platform& p) { p.m.pci(0, 2, 0).set8(0x0E, 0x81); },
       "PCI Device (DID = 0x9A49) must have header value of zero.\n"},
      {"PCI Express endpoint, not integrated", [](platform& p) { p.m.pci(0, 2, 0).set16(0x52, 0x0002); },
       "PCI Device (DID = 0x9A49) is not a Root Complex Integrated Endpoint.\n"},
      {"device does not answer", [](platform& p) { p.m.remove_pci(0, 2, 0); },
       "PCI Device (DID = 0xFFFF) is not enumerable.\n"},
      {"path of two entries", [](platform& p) { p.igfx_scopes[0].path = {{2, 0}, {0, 0}}; },
       "Path length for DRHD Device Scope Type 1, must be 2.\n"},
      {"sub-hierarchy scopes are not examined", [](platform& p) { p.igfx_scopes[0].type = 2; }, nullptr},
  };
  for (const row& r : rows) {
    platform p;
    make_healthy(p);
    r.change(p);
    bench b(p);
    outcome o = b.run(assert_endpoint_rciep, 27);
    EXPECT_EQ(o.result, r.message ? TEST_FAIL : TEST_PASS) << r.what;
    if (r.message) EXPECT_EQ(o.message, r.message) << r.what;
  }
}

TEST(CapabilityWalk, FollowsNextPointersAndEndsOnCyclesAndSilence) {
  platform p;
  make_healthy(p);
  // 00:03.0: capabilities at 0x40 -> 0x48 -> 0x40 (a cycle), no PCI Express.
  sim::pci_function& cyc = p.m.pci(0, 3, 0, 0x8086, 0x1111);
  cyc.set8(0x34, 0x40);
  cyc.set16(0x40, 0x4801);
  cyc.set16(0x48, 0x4005);
  // 00:04.0: a capability pointing at itself.
  sim::pci_function& self = p.m.pci(0, 4, 0, 0x8086, 0x2222);
  self.set8(0x34, 0xFC);
  self.set16(0xFC, 0xFC09);
  // 00:05.0: PCI Express as the fourth capability, integrated endpoint.
  p.pci_with_caps(0, 5, 0, 0x8086, 0x3333, {{0x01, 0}, {0x05, 0}, {0x11, 0}, {0x10, 0x0092}});
  sim::scoped_machine use(p.m);
  uint64_t before = p.m.operations;
  uint8_t type = 0xEE;
  EXPECT_FALSE(pcie_device_port_type({0, 3, 0}, &type));
  EXPECT_FALSE(pcie_device_port_type({0, 4, 0}, &type));
  EXPECT_FALSE(pcie_device_port_type({0, 31, 7}, &type)) << "silent function: all-ones pointer 0xFF";
  EXPECT_LT(p.m.operations - before, 20u) << "each walk ends at the first repeated pointer";
  ASSERT_TRUE(pcie_device_port_type({0, 5, 0}, &type));
  EXPECT_EQ(type, PCIE_TYPE_RCIEP);
  uint32_t offset = 0;
  ASSERT_TRUE(find_pci_capability({0, 5, 0}, 0x11, &offset));
  EXPECT_EQ(offset, 0x60u);
}

TEST(CapabilityWalk, CycleInAScopeDeviceStillEndsTheAssertions) {
  platform p;
  make_healthy(p);
  sim::pci_function& igfx = p.m.pci(0, 2, 0);
  igfx.set16(0x40, 0x4009);  // the first capability points back at itself
  sim::pci_function& ioapic = p.m.pci(IOAPIC_BUS, 31, 0);
  ioapic.set16(0x40, 0x4001);
  bench b(p);
  EXPECT_EQ(b.run(assert_endpoint_rciep, 27).result, TEST_PASS);
  EXPECT_EQ(b.run(assert_ioxapic_rciep, 26).result, TEST_PASS);
}
