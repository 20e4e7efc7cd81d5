// Address widths (46), processor virtualization (51, 55) and the
// remapping-engine registers (52, 57, 58, 63, 64, 65).
#include "support/device_platform.h"
#include "support/harness.h"

using namespace device_platform;

namespace {

constexpr uint64_t ENGINE_A = 0xFED90000;
constexpr uint64_t ENGINE_B = 0xFED91000;
constexpr uint64_t QI_IR = (1ULL << 1) | (1ULL << 3);

uint64_t mgaw_cap(uint64_t mgaw) { return (mgaw - 1) << 16; }

}  // namespace

TEST(AddressWidths, OrderOfTheChecks) {
  struct row {
    uint8_t haw_field, cpu;
    uint64_t cs_hpa, cs_gpa, mgaw_a, mgaw_b;
    const char* message;
  } rows[] = {
      {38, 39, 39, 39, 39, 39, nullptr},
      {38, 36, 0, 0, 0, 0, "DMAR Host Address Width (39) must be less than or equal to the CPU Physical Address Size (36).\n"},
      {38, 39, 36, 39, 39, 39, "Chipset HPA (36) must be greater than or equal to the DMAR Host Address Width (39).\n"},
      {38, 39, 39, 39, 39, 36,
       "Zyrd Capability Register[21:16]:Maximum Guest Address Width (36) must be greater than or equal to the DMAR Host "
       "Address Width (39).\n"},
      {38, 39, 39, 39, 48, 39,
       "Zyrd Capability Register[21:16]:Maximum Guest Address Width (48) must be equal to the Chipset specific Guest "
       "Physical Address (GPA) limit  (39).\n"},
      // Width 256 in 8 bits is 0: the field 255 fits any processor.
      {255, 39, 39, 39, 39, 39, nullptr},
  };
  for (const auto& r : rows) {
    bench b;
    b.dmar.host_address_width = r.haw_field;
    b.m.set_cpuid(0x80000008, 0x3000 | r.cpu);
    b.tinfo.cs_hpa = r.cs_hpa;
    b.tinfo.cs_gpa = r.cs_gpa;
    b.dmar.drhd(0, 0, ENGINE_A | 0x1).drhd(1, 0, ENGINE_B);  // low bits of the base are masked
    set_engine(b.m, ENGINE_A, mgaw_cap(r.mgaw_a), 0, 0);
    set_engine(b.m, ENGINE_B, mgaw_cap(r.mgaw_b), 0, 0);
    auto o = b.evaluate(46);
    EXPECT_EQ(o.result, r.message ? TEST_FAIL : TEST_PASS) << (r.message ? r.message : "pass");
    if (r.message) EXPECT_EQ(o.message, r.message);
  }
  bench empty;  // no DRHD: steps 3 and 4 decide
  empty.tinfo.cs_hpa = 39;
  EXPECT_EQ(empty.evaluate(46).result, TEST_PASS);
}

TEST(Vmx, SmbiosCapabilityWordAgainstCpuidAndMsr) {
  const char* bit4 = "Table 131: CPU Capability(0x04) Bit 4(VMX Capability) must equal CPUID1:ECX[5].\n";
  const char* bit5 = "Table 131: CPU Capability(0x04) Bit 5(VMX Enable) must be same as Capability(0x04) Bit 0.\n";
  const char* msr_msg =
      "Table 131: If CPU Capability(0x04) Bit 5(VMX Enable) is set, then at least 1 bit from MSR "
      "IA32_FEATURE_CONTROL[2:1] must be also set.\n";
  struct row {
    uint32_t capability;
    bool cpu_vmx;
    uint64_t msr;
    const char* message;
  } rows[] = {
      // 0x21 has bit 4 clear: it disagrees with a processor that has VMX,
      // 0x31 with one that has none.
      {0x31, true, 0x5, nullptr}, {0x10, true, 0x0, nullptr}, {0x21, true, 0x5, bit4}, {0x31, false, 0x5, bit4},
      {0x30, true, 0x5, bit5},    {0x31, true, 0x1, msr_msg}, {0x31, true, 0x2, nullptr},
  };
  for (const auto& r : rows) {
    bench b;
    b.m.set_cpuid(1, 0x906EA, 0, r.cpu_vmx ? 1u << 5 : 0, 0);
    b.m.set_msr(0x3A, r.msr);
    sim::bytes t = sim::smbios_structure(131, 0x83, type131(r.capability), {});
    sim::bytes e = sim::smbios_end(0xFEFF);
    t.insert(t.end(), e.begin(), e.end());
    b.m.install_smbios(t);
    auto o = b.evaluate(51);
    EXPECT_EQ(o.result, r.message ? TEST_FAIL : TEST_PASS) << std::hex << r.capability;
    if (r.message) EXPECT_EQ(o.message, r.message);
  }
}

TEST(Vmx, NoType131IsNotApplicableAndAShortOneReadsNothingBeyondIt) {
  bench none;
  EXPECT_EQ(none.evaluate(51).result, TEST_NA) << "no SMBIOS";
  bench other;
  sim::bytes t = sim::smbios_structure(0, 0, sim::bytes(14, 0), {"Vendor"});
  sim::bytes e = sim::smbios_end(1);
  t.insert(t.end(), e.begin(), e.end());
  other.m.install_smbios(t);
  EXPECT_EQ(other.evaluate(51).result, TEST_NA) << "no type 131";
  bench shorty;
  sim::bytes s = sim::smbios_structure(131, 0x83, sim::bytes{0x31, 0}, {});
  s.insert(s.end(), e.begin(), e.end());
  shorty.m.install_smbios(s);
  auto o = shorty.evaluate(51);
  EXPECT_EQ(o.result, TEST_NA);
  EXPECT_EQ(o.message, "Table 131 is too short (6 bytes) to hold the CPU Capability(0x04) word.\n");
  // A long enough structure whose capability word lies past the table's
  // end: the bytes there (a word that would pass) are not read.
  bench cut;
  cut.m.set_cpuid(1, 0x906EA, 0, 1u << 5, 0);
  cut.m.set_msr(0x3A, 0x5);
  cut.m.install_smbios(sim::smbios_structure(131, 0x83, type131(0x31), {}));
  cut.m.write16(cut.m.configuration_table.back().second + 0x16, 6);
  o = cut.evaluate(51);
  EXPECT_EQ(o.result, TEST_NA);
  EXPECT_TRUE(o.message.rfind("Table 131 is too short (", 0) == 0) << o.message;
}

TEST(Vmx, FeatureControlLockedWithVmx) {
  struct row {
    bool cpu_vmx;
    uint64_t msr;
    const char* message;
  } rows[] = {
      {true, 0x5, nullptr},
      {true, 0x3, nullptr},
      {true, 0x4, "MSR 0x3A not programmed properly. Check VMX & lock bits.\n"},
      {true, 0x1, "MSR 0x3A not programmed properly. Check VMX & lock bits.\n"},
      {false, 0x5, "CPUID1:ECX[5] is not set.\n"},
  };
  for (const auto& r : rows) {
    bench b;
    b.m.set_cpuid(1, 0x906EA, 0, r.cpu_vmx ? 1u << 5 : 0, 0);
    b.m.set_msr(0x3A, r.msr);
    auto o = b.evaluate(55);
    EXPECT_EQ(o.result, r.message ? TEST_FAIL : TEST_PASS) << r.msr;
    if (r.message) EXPECT_EQ(o.message, r.message);
  }
}

TEST(EngineRegisters, InterruptRemappingNeedsQueuedInvalidation) {
  const char* msg = "DMAR.Flags[0] is set. Extended Capability (ECAP) must also have Bits 3 and 1 set.\n";
  auto run = [](uint8_t flags, uint64_t ecap_b) {
    bench b;
    b.dmar.flags = flags;
    b.dmar.drhd(0, 0, ENGINE_A).drhd(1, 0, ENGINE_B);
    set_engine(b.m, ENGINE_A, 0, QI_IR, 0);
    set_engine(b.m, ENGINE_B, 0, ecap_b, 0);
    return b.evaluate(52);
  };
  EXPECT_EQ(run(1, QI_IR).result, TEST_PASS);
  EXPECT_EQ(run(1, 1ULL << 3).message, msg);
  EXPECT_EQ(run(1, 1ULL << 1).message, msg);
  EXPECT_EQ(run(0, 0).result, TEST_PASS) << "flag clear: engines not read";
}

TEST(EngineRegisters, SnoopControlAndPolicyLocks) {
  auto run = [](uint32_t policy_a, uint32_t policy_b, uint64_t count = 2) {
    bench b;
    b.tinfo.remap_bar_count = count;
    b.tinfo.bars[0] = {ENGINE_A | 1, BAR_TYPE_IGFX};
    b.tinfo.bars[1] = {ENGINE_B | 1, BAR_TYPE_DEFAULT};
    set_engine(b.m, ENGINE_A, 0, 0, policy_a);
    set_engine(b.m, ENGINE_B, 0, 0, policy_b);
    return b.evaluate({57, 58});
  };
  auto locked = run(0x80000000, 0x80000000);
  EXPECT_EQ(locked[57].result, TEST_PASS);
  EXPECT_EQ(locked[58].result, TEST_PASS);
  auto snoop_off = run(0x80000000, 0x20000000);
  EXPECT_EQ(snoop_off[57].message, "Snoop Control for default Zyrd engine is incorrectly disabled.\n");
  EXPECT_EQ(snoop_off[58].message, "Remapping Engine 0xFED91000 policy registers are not locked.\n");
  auto gfx_snoop = run(0xA0000000, 0x80000000);  // only the default engine counts for 57
  EXPECT_EQ(gfx_snoop[57].result, TEST_PASS);
  auto gfx_unlocked = run(0x00000000, 0x80000000);
  EXPECT_EQ(gfx_unlocked[58].message, "Remapping Engine 0xFED90000 policy registers are not locked.\n");
  // No engine recorded: nothing to read.
  auto none = run(0, 0, 0);
  EXPECT_EQ(none[57].result, TEST_MISSING);
  EXPECT_EQ(none[58].result, TEST_PASS);
}

TEST(EngineRegisters, GraphicsPasidAndPageRequests) {
  auto run = [](uint64_t gfx_ecap, uint8_t prs, uint8_t igfx = 1) {
    bench b;
    b.tinfo.remap_bar_count = 2;
    b.tinfo.bars[0] = {ENGINE_A | 1, BAR_TYPE_IGFX};
    b.tinfo.bars[1] = {ENGINE_B | 1, BAR_TYPE_DEFAULT};
    b.tinfo.igfx_present = igfx;
    b.tinfo.gfx_prs = prs;
    b.tinfo.gfx_pasid_mask = (1ULL << 28) | (1ULL << 40);
    set_engine(b.m, ENGINE_A, 0, gfx_ecap, 0);
    set_engine(b.m, ENGINE_B, 0, 0, 0);  // not a graphics engine: never read
    return b.evaluate({63, 64});
  };
  EXPECT_EQ(run(1ULL << 28, 0)[63].result, TEST_PASS);
  EXPECT_EQ(run(1ULL << 40, 0)[63].result, TEST_PASS);
  EXPECT_EQ(run(1ULL << 29, 1)[63].message, "ECAP (PASID) should be set on GFX Zyrd engine.\n");
  EXPECT_EQ(run(0, 0, 0)[63].result, TEST_NA);
  EXPECT_EQ(run(1ULL << 29, 0)[64].message, " ECAP[29] (PRS) = 1. Should be 0 on GFX Zyrd engine.\n");
  EXPECT_EQ(run(1ULL << 28, 1)[64].message, " ECAP[29] (PRS) = 0. Should be 1 on GFX Zyrd engine.\n");
  EXPECT_EQ(run(1ULL << 29, 1, 0)[64].result, TEST_PASS) << "test 64 does not look at igfx_present";
  // No graphics entry: both pass without a register.
  bench b;
  b.tinfo.igfx_present = 1;
  b.tinfo.remap_bar_count = 1;
  b.tinfo.bars[0] = {ENGINE_B | 1, BAR_TYPE_DEFAULT};
  b.tinfo.gfx_prs = 1;
  auto out = b.evaluate({63, 64});
  EXPECT_EQ(out[63].result, TEST_PASS);
  EXPECT_EQ(out[64].result, TEST_PASS);
}

TEST(EngineRegisters, GraphicsExtendedCapabilities) {
  const char* msg = "PASID and(or) ATS Extended Capability Header(s) not located.\n";
  // Extended capabilities of B0:D2:F0 as (offset, id, next).
  auto run = [](std::vector<std::array<uint32_t, 3>> caps, bool present = true) {
    bench b;
    b.tinfo.igfx_present = 1;
    if (present) {
      auto& f = b.device(0, 2, 0, 0x3E92, 0x03);
      for (auto [off, id, next] : caps) f.set32(off, id | (1u << 16) | (next << 20));
    }
    return b.evaluate(65);
  };
  EXPECT_EQ(run({{0x100, 0x0F, 0x200}, {0x200, 0x1B, 0}}).result, TEST_PASS);
  EXPECT_EQ(run({{0x100, 0x1B, 0x180}, {0x180, 0x01, 0x200}, {0x200, 0x0F, 0}}).result, TEST_PASS);
  EXPECT_EQ(run({{0x100, 0x0F, 0}}).message, msg);
  EXPECT_EQ(run({{0x100, 0x0F, 0x100}}).message, msg) << "a list that loops";
  EXPECT_EQ(run({{0x100, 0x0F, 0x200}, {0x200, 0x01, 0x100}}).message, msg) << "a list that loops back";
  EXPECT_EQ(run({}, false).message, msg) << "absent function: all ones";
  bench na;
  na.tinfo.igfx_present = 0;
  EXPECT_EQ(na.evaluate(65).result, TEST_NA);
  bench no_window;  // no MCFG: no configuration window to read
  no_window.with_mcfg = false;
  no_window.tinfo.igfx_present = 1;
  EXPECT_EQ(no_window.evaluate(65).result, TEST_MISSING);
}

TEST(EngineRegisters, NotApplicableFlags) {
  bench b;
  b.tinfo.igfx_present = 1;
  for (uint32_t id : {46, 52, 58, 63, 64, 65}) set_not_applicable(&b.tinfo, id);
  auto out = b.evaluate({46, 52, 58, 63, 64, 65});
  for (auto& [id, o] : out) EXPECT_EQ(o.result, TEST_NA) << id;
}
