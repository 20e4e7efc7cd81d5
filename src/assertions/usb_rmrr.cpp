// USB controller coverage by RMRR: test 42.
#include "assertions/assertions.h"
#include "discovery/config_space.h"
#include "discovery/pci_inventory.h"
#include "discovery/remap_lists.h"
#include "platform/platform.h"

namespace {

constexpr uint8_t USB_LEGACY_SUPPORT_ID = 1;

// The EHCI controller's Extended Capabilities Pointer (HCCPARAMS[15:8]).
uint32_t ehci_eecp(const pci_dev_t* d, uint64_t bar) {
  debug_print(debug_mask, "DEBUG -- #%d: PCI Device(B%d:D%d:F%d is EHCI USB Device.\n", 42, d->bus, d->dev,
              d->func);
  uint32_t hccparams = MmioRead32((bar & 0xFFFFFC00ULL) + 0x08);
  return (hccparams >> 8) & 0xFF;
}

// True when the EHCI extended-capability list from a valid pointer holds USB
// Legacy Support.
bool ehci_has_legacy_support(const pci_dev_t* d, uint32_t eecp) {
  bool legacy = false;
  walk_ehci_capabilities(d->bus, d->dev, d->func, eecp, [&](uint32_t header) {
    legacy = (header & 0xFF) == USB_LEGACY_SUPPORT_ID;
    return !legacy;
  });
  return legacy;
}

bool xhci_has_legacy_support(const pci_dev_t* d, uint64_t bar) {
  debug_print(debug_mask, "DEBUG -- #%d: PCI Device(B%d:D%d:F%d) is xHCI USB Device.\n", 42, d->bus, d->dev,
              d->func);
  uint64_t base = bar & 0xFFFFFFFFFFFF0000ULL;
  uint32_t hccparams1 = MmioRead32(base + 0x10);
  uint32_t xecp = hccparams1 >> 16;
  debug_print(debug_mask, "DEBUG -- #%d: HCCPARAMS = 0x%X\n", 42, hccparams1);
  debug_print(debug_mask, "DEBUG -- #%d: Get Capability Offset [31:16]  = 0x%X\n", 42, xecp);
  if (xecp == 0) return false;
  bool legacy = false;
  walk_xhci_capabilities(base + (uint64_t)xecp * 4, [&](uint64_t at, uint32_t header) {
    debug_print(debug_mask, "DEBUG -- #%d: offset of capability pointer   = 0x%X\n", 42, at);
    debug_print(debug_mask, "DEBUG -- #%d: extended capabilities   = 0x%X\n", 42, header);
    legacy = header != 0xFFFFFFFF && (header & 0xFF) == USB_LEGACY_SUPPORT_ID;
    return !legacy;
  });
  return legacy;
}

}  // namespace

uint64_t assert_usb_rmrr(acpi_tables_t*, test_info_t* tinfo) {
  test_case_t* tc = assertion_record(42, true);
  if (!tc) return 1;
  if (recorded_not_applicable(tc, tinfo, 42)) return 0;
  for (pci_dev_t* d : each<pci_dev_t>(pci_dev_list)) {
    uint8_t bus = d->bus, dev = d->dev, func = d->func;
    debug_print(debug_mask, "DEBUG -- #%d: PCI -- B %d -- D %d -- F %d \n", 42, bus, dev, func);
    pci_location at{bus, dev, func};
    uint8_t base_class = PciRead8(pci_config_address(at, PCI_OFF_BASE_CLASS));
    uint8_t sub_class = PciRead8(pci_config_address(at, PCI_OFF_SUB_CLASS));
    uint8_t prog_if = PciRead8(pci_config_address(at, PCI_OFF_PROG_IF));
    if (base_class != PCI_CLASS_SERIAL_BUS || sub_class != PCI_SUBCLASS_USB) continue;

    uint32_t lo_bar = PciRead32(pci_config_address(at, PCI_OFF_BAR0));
    uint64_t bar = lo_bar;
    debug_print(debug_mask, "DEBUG -- #%d: PCI -- B %d -- D %d -- F %d 0x10 lo_bar = 0x%LX\n", 42, bus, dev, func,
                lo_bar);
    debug_print(debug_mask, "DEBUG -- #%d: MBAR Type BITS[2:1] = 0x%X \n", 42, (lo_bar >> 1) & 0x3);
    if (((lo_bar >> 1) & 0x3) == 2) {
      uint32_t hi_bar = PciRead32(pci_config_address(at, PCI_OFF_BAR1));
      debug_print(debug_mask, "DEBUG -- #%d: PCI -- B %d -- D %d -- F %d 0x14 hi_bar = 0x%LX\n", 42, bus, dev, func,
                  hi_bar);
      bar |= (uint64_t)hi_bar << 32;
    }
    debug_print(debug_mask, "DEBUG -- #%d: PCI -- B %d -- D %d -- F %d  MBAR = 0x%LX\n", 42, bus, dev, func, bar);

    // Programming interfaces 0x00 (UHCI, whose I/O BAR is passed over below)
    // and EHCI take the EHCI path.
    bool ehci = (prog_if & ~PCI_PROG_IF_EHCI) == 0;
    bool xhci = prog_if == PCI_PROG_IF_XHCI;
    if (!ehci && !xhci) continue;
    // A BAR that holds no memory address (unassigned, or an I/O BAR) gives
    // no controller registers to read.
    uint64_t register_base = ehci ? (bar & 0xFFFFFC00ULL) : (bar & 0xFFFFFFFFFFFF0000ULL);
    if ((lo_bar & 1) || register_base == 0) {
      debug_print(debug_mask, "DEBUG -- #%d: PCI -- B %d -- D %d -- F %d  MBAR not decodable, skipped.\n", 42, bus,
                  dev, func);
      continue;
    }

    bool legacy;
    if (ehci) {
      uint32_t eecp = ehci_eecp(d, bar);
      if (eecp < EHCI_EECP_MIN) {
        set_result_fmt(tc, TEST_FAIL,
                       " USB Device (B%d:D%d:F%d) has invalid EHCI Extended Capabilities Pointer value: 0x%X.\n", bus,
                       dev, func, eecp);
        return 0;
      }
      legacy = ehci_has_legacy_support(d, eecp);
    } else {
      legacy = xhci_has_legacy_support(d, bar);
    }
    if (!legacy) continue;
    if (rmrr_scope_has_rid(request_id(bus, dev, func))) continue;
    set_result_fmt(tc, TEST_FAIL, " USB Device (B%d:D%d:F%d) not listed in RMRR.\n", bus, dev, func);
    return 0;
  }
  record_pass_unless_inventory_incomplete(tc);
  return 0;
}
