// Builds the virtual DAC's device world from its configuration: device nodes, interface
// registrations with their aliases, filters and HID functions.
#include <algorithm>
#include <cstdio>

#include "AsciiCase.h"
#include "DacInternal.h"

namespace tess::vdac::detail {

namespace {

constexpr Guid kSetupClassMedia{0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr Guid kSetupClassHid{0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};
constexpr Guid kSetupClassUsb{0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr Guid kSetupClassKeyboard{0x4D36E96B, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string lower(std::string s) {
  for (char& c : s) c = asciiLower(c);
  return s;
}

std::string hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFF);
  return buf;
}

std::string usbIds(uint16_t vid, uint16_t pid) { return "VID_" + hex4(vid) + "&PID_" + hex4(pid); }

std::string miSuffix(int interfaceNumber) {
  if (interfaceNumber < 0) return "";
  char buf[8];
  std::snprintf(buf, sizeof buf, "&MI_%02X", interfaceNumber & 0xFF);
  return buf;
}

// "\\?\usb#vid_1209&pid_0007&mi_01#6&2c4a6e5b&0&0001#{category}\global", as the system
// forms interface paths from the device instance id.
std::string interfacePath(const std::string& instanceId, const Guid& category, const char* reference) {
  std::string mangled = lower(instanceId);
  for (char& c : mangled) {
    if (c == '\\') c = '#';
  }
  std::string path = "\\\\?\\" + mangled + "#" + guidText(category, false);
  if (reference) path += std::string("\\") + reference;
  return path;
}

}  // namespace

std::string guidText(const Guid& g, bool upper) {
  char buf[40];
  std::snprintf(buf, sizeof buf, upper ? "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}"
                                       : "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return buf;
}

Guid toGuid(const GUID& g) {
  Guid out;
  std::memcpy(&out, &g, sizeof out);
  return out;
}

GUID toWinGuid(const Guid& g) {
  GUID out;
  std::memcpy(&out, &g, sizeof out);
  return out;
}

bool Dac::build(const DacConfig& c) {
  config = c;

  // One filter of a device, registered under KSCATEGORY_AUDIO and, as asked, under
  // render and capture (aliases of each other).
  auto addFilter = [&](int device, const std::string& instanceId, const std::string& friendly, FilterSpec shape,
                       AliasState render, AliasState capture, bool isDac, bool neverAnswers, const char* reference,
                       uint32_t recordBase) {
    FilterDevice filter;
    filter.instances.assign(shape.pins.size(), 0);
    filter.shape = std::move(shape);
    filter.device = device;
    filter.interfaceFriendlyName = friendly;
    filter.isDac = isDac;
    filter.neverAnswers = neverAnswers;
    filter.recordBase = recordBase;
    filters.push_back(std::move(filter));
    const int filterIndex = static_cast<int>(filters.size()) - 1;

    const int family = filterIndex;
    const std::pair<const Guid*, AliasState> registrations[] = {
        {&kCategoryAudio, AliasState::Enabled}, {&kCategoryRender, render}, {&kCategoryCapture, capture}};
    for (const auto& [category, state] : registrations) {
      if (state == AliasState::Missing) continue;
      InterfaceEntry e;
      e.device = device;
      e.family = family;
      e.category = *category;
      e.path = interfacePath(instanceId, *category, reference);
      e.state = state;
      e.filter = filterIndex;
      interfaces.push_back(e);
    }
  };

  auto addAudio = [&](const std::string& instanceId, const std::string& friendly, const std::string& description,
                      const std::vector<std::string>& hardwareIds, FilterSpec shape, AliasState render,
                      AliasState capture, bool isDac, bool neverAnswers = false) {
    DeviceNode node;
    node.instanceId = instanceId;
    node.setupClass = kSetupClassMedia;
    node.className = "MEDIA";
    node.description = description;
    node.friendlyName = friendly;
    node.manufacturer = isDac ? "Tessaline" : "(Generic USB Audio)";
    node.hardwareIds = hardwareIds;
    node.compatibleIds = {"USB\\Class_01&SubClass_01&Prot_20", "USB\\Class_01&SubClass_01", "USB\\Class_01"};
    node.isDac = isDac;
    devices.push_back(node);
    const int device = static_cast<int>(devices.size()) - 1;
    addFilter(device, instanceId, friendly, std::move(shape), render, capture, isDac, neverAnswers, "global", 0);
    return device;
  };

  auto addHid = [&](const std::string& instanceId, const std::string& description, uint16_t vid, uint16_t pid,
                    uint16_t inLength, uint16_t outLength, bool writable, bool isDac, const Guid& setupClass) {
    DeviceNode node;
    node.instanceId = instanceId;
    node.setupClass = setupClass;
    node.className = setupClass == kSetupClassHid ? "HIDClass" : "Keyboard";
    node.description = description;
    node.manufacturer = isDac ? "Tessaline" : "(Standard keyboards)";
    const std::string ids = usbIds(vid, pid);
    node.hardwareIds = {"HID\\" + ids + "&REV_0100", "HID\\" + ids};
    node.isDac = isDac;
    devices.push_back(node);

    HidFunction hid;
    hid.device = static_cast<int>(devices.size()) - 1;
    hid.attributes.Size = sizeof(HIDD_ATTRIBUTES);
    hid.attributes.VendorID = vid;
    hid.attributes.ProductID = pid;
    hid.attributes.VersionNumber = 0x0100;
    hid.inputLength = inLength;
    hid.outputLength = outLength;
    hid.writable = writable;
    hid.isDac = isDac;
    hids.push_back(hid);

    InterfaceEntry e;
    e.device = hid.device;
    e.family = 1000 + static_cast<int>(hids.size()) - 1;
    e.category = kHidInterfaceClass;
    e.path = interfacePath(instanceId, kHidInterfaceClass, nullptr);
    e.hid = static_cast<int>(hids.size()) - 1;
    interfaces.push_back(e);
  };

  int otherIndex = 0;
  auto addOther = [&](const AudioDeviceSpec& device) {
    char serial[32];
    std::snprintf(serial, sizeof serial, "6&3D%06X&0&%04X", 0x1A2B00 + otherIndex, otherIndex + 1);
    ++otherIndex;
    const std::string ids = usbIds(device.vendorId, device.productId) + miSuffix(device.interfaceNumber);
    addAudio(device.bus + "\\" + ids + "\\" + serial, device.friendlyName, device.deviceDescription,
             {device.bus + "\\" + ids}, device.filter, device.renderAlias, device.captureAlias, false,
             device.neverAnswers);
  };

  for (const AudioDeviceSpec& other : c.otherAudioDevices) {
    if (other.listBeforeDac) addOther(other);
  }

  const std::string dacIds = usbIds(c.vendorId, c.productId);
  FilterSpec dacFilter = buildDacFilter(c.ranges, c.renderOnly, c.vendorId, c.productId);
  if (c.editFilter) c.editFilter(dacFilter);
  const std::string dacInstance = "USB\\" + dacIds + "&MI_01\\6&2C4A6E5B&0&0001";
  const bool separateCapture = c.separateCaptureFilter && !c.renderOnly && dacFilter.pins.size() >= 4;
  FilterSpec captureFilter;
  if (separateCapture) {
    // The capture bridge and streaming pins (ids 2 and 3) become a filter of their own.
    captureFilter = dacFilter;
    captureFilter.pins.assign(dacFilter.pins.begin() + 2, dacFilter.pins.begin() + 4);
    captureFilter.nodes = {kNodeTypeAdc, kNodeTypeVolume, kNodeTypeMute};
    captureFilter.categories = {kCategoryAudio, kCategoryCapture};
    dacFilter.pins.erase(dacFilter.pins.begin() + 2, dacFilter.pins.begin() + 4);
    dacFilter.nodes.resize(std::min<size_t>(dacFilter.nodes.size(), 3));
    dacFilter.categories = {kCategoryAudio, kCategoryRender};
  }
  const int dacDevice =
      addAudio(dacInstance, c.friendlyName, c.deviceDescription, {"USB\\" + dacIds + "&REV_0100&MI_01", "USB\\" + dacIds + "&MI_01"},
               std::move(dacFilter), c.renderAlias,
               c.renderOnly || separateCapture ? AliasState::Missing : AliasState::Enabled, true);
  if (separateCapture) {
    // Its streaming pin keeps the inspection id of the capture pin (kCapturePinId).
    addFilter(dacDevice, dacInstance, c.friendlyName, std::move(captureFilter), AliasState::Missing,
              AliasState::Enabled, true, false, "record", kCapturePinId - 1);
  }

  for (const AudioDeviceSpec& other : c.otherAudioDevices) {
    if (!other.listBeforeDac) addOther(other);
  }

  // The composite parent of the DAC's interfaces.
  DeviceNode parent;
  parent.instanceId = "USB\\" + dacIds + "\\5&1F0A1B2C&0&3";
  parent.setupClass = kSetupClassUsb;
  parent.className = "USB";
  parent.description = "USB Composite Device";
  parent.manufacturer = "(Standard USB Host Controller)";
  parent.hardwareIds = {"USB\\" + dacIds + "&REV_0100", "USB\\" + dacIds};
  parent.compatibleIds = {"USB\\DevClass_00&SubClass_00&Prot_00", "USB\\COMPOSITE"};
  parent.isDac = true;
  devices.push_back(parent);

  if (c.foreignHidDevice) {
    addHid("HID\\VID_046D&PID_C31C&MI_00\\7&2B3C4D5E&0&0000", "HID Keyboard Device", 0x046D, 0xC31C, 9, 2, false,
           false, kSetupClassKeyboard);
  }
  if (c.hid) {
    addHid("HID\\" + dacIds + "&MI_02\\7&1A2B3C4D&0&0000", "HID-compliant vendor-defined device", c.vendorId,
           c.productId, c.hidInputReportLength, c.hidOutputReportLength, true, true, kSetupClassHid);
  }

  for (const FilterDevice& f : filters) {
    if (!f.isDac) continue;
    for (uint32_t id = 0; id < f.shape.pins.size(); ++id) dacPins[id + f.recordBase];
  }

  char root[96];
  std::snprintf(root, sizeof root, "Software\\Tessaline\\VirtualDac\\%lu", GetCurrentProcessId());
  registryRoot = root;
  wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  coreAudio = buildCoreAudio(*this);
  return wake != nullptr && coreAudio != nullptr;
}

}  // namespace tess::vdac::detail
