#include "SeamIo.h"

#include <cstring>

#include "DeviceTable.h"

namespace seamio {

using tess::devices;

IoResult ioctl(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
  IoResult r;
  OVERLAPPED ov{};
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ov.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
  r.ok = devices().deviceIoControl(h, code, in, inSize, out, outSize, &r.bytes, &ov);
  if (!r.ok) {
    r.error = GetLastError();
    if (r.error == ERROR_IO_PENDING) {
      r.pended = true;
      if (WaitForSingleObject(event, 5000) == WAIT_OBJECT_0) {
        r.ok = GetOverlappedResult(h, &ov, &r.bytes, FALSE);
        r.error = r.ok ? 0 : GetLastError();
      }
    }
  }
  CloseHandle(event);
  return r;
}

IoResult pinProperty(HANDLE filter, ULONG pinId, ULONG id, void* out, DWORD outSize) {
  KSP_PIN request{};
  request.Property.Set = KSPROPSETID_Pin;
  request.Property.Id = id;
  request.Property.Flags = KSPROPERTY_TYPE_GET;
  request.PinId = pinId;
  return ioctl(filter, IOCTL_KS_PROPERTY, &request, sizeof request, out, outSize);
}

std::vector<uint8_t> pinPropertyMulti(HANDLE filter, ULONG pinId, ULONG id) {
  IoResult size = pinProperty(filter, pinId, id, nullptr, 0);
  if (size.error != ERROR_MORE_DATA || size.bytes == 0) return {};
  std::vector<uint8_t> reply(size.bytes);
  IoResult fetch = pinProperty(filter, pinId, id, reply.data(), size.bytes);
  if (!fetch.ok) return {};
  return reply;
}

IoResult setState(HANDLE pin, KSSTATE state) {
  KSPROPERTY request{};
  request.Set = KSPROPSETID_Connection;
  request.Id = KSPROPERTY_CONNECTION_STATE;
  request.Flags = KSPROPERTY_TYPE_SET;
  return ioctl(pin, IOCTL_KS_PROPERTY, &request, sizeof request, &state, sizeof state);
}

IoResult getState(HANDLE pin, KSSTATE& state) {
  KSPROPERTY request{};
  request.Set = KSPROPSETID_Connection;
  request.Id = KSPROPERTY_CONNECTION_STATE;
  request.Flags = KSPROPERTY_TYPE_GET;
  return ioctl(pin, IOCTL_KS_PROPERTY, &request, sizeof request, &state, sizeof state);
}

IoResult reset(HANDLE pin, KSRESET which) { return ioctl(pin, IOCTL_KS_RESET_STATE, &which, sizeof which, nullptr, 0); }

bool stepTo(HANDLE pin, KSSTATE from, KSSTATE to) {
  int s = from;
  while (s != to) {
    s += to > s ? 1 : -1;
    if (!setState(pin, static_cast<KSSTATE>(s)).ok) return false;
  }
  return true;
}

std::vector<InterfaceInfo> audioInterfaces() {
  std::vector<InterfaceInfo> out;
  HDEVINFO set = devices().getClassDevs(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return out;
  for (DWORD i = 0;; ++i) {
    SP_DEVICE_INTERFACE_DATA iface = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
    if (!devices().enumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, i, &iface)) break;
    InterfaceInfo info;
    DWORD needed = 0;
    devices().getDeviceInterfaceDetail(set, &iface, nullptr, 0, &needed, nullptr);
    std::vector<char> buffer(needed);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA devInfo = seamio::sized<SP_DEVINFO_DATA>();
    if (!devices().getDeviceInterfaceDetail(set, &iface, detail, needed, nullptr, &devInfo)) continue;
    info.path = detail->DevicePath;
    SP_DEVICE_INTERFACE_DATA alias = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
    info.renderAlias = devices().getDeviceInterfaceAlias(set, &iface, &KSCATEGORY_RENDER, &alias);
    info.renderAliasFlags = info.renderAlias ? alias.Flags : 0;
    HKEY key = devices().openDeviceInterfaceRegKey(set, &iface, 0, KEY_ALL_ACCESS);
    if (key != INVALID_HANDLE_VALUE) {
      char name[260] = {};
      DWORD size = sizeof name, type = 0;
      if (RegQueryValueExA(key, "FriendlyName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
          ERROR_SUCCESS) {
        info.friendlyName = name;
      }
      RegCloseKey(key);
    }
    out.push_back(info);
  }
  devices().destroyDeviceInfoList(set);
  return out;
}

std::string dacFilterPath() {
  for (const InterfaceInfo& i : audioInterfaces()) {
    tess::UsbIdentity id = tess::parseUsbIdentity(i.path.c_str());
    if (id.hasInterface && tess::findSupportedDevice(id.vendorId, id.productId) && i.renderAlias &&
        (i.renderAliasFlags & SPINT_ACTIVE)) {
      return i.path;
    }
  }
  return {};
}

HANDLE openFilter(const std::string& path) {
  return devices().createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

std::vector<uint8_t> connectRecord(ULONG pinId, WORD channels, WORD bits, DWORD rate) {
  std::vector<uint8_t> record(sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE));
  auto* connect = reinterpret_cast<KSPIN_CONNECT*>(record.data());
  connect->Interface.Set = KSINTERFACESETID_Standard;
  connect->Interface.Id = KSINTERFACE_STANDARD_STREAMING;
  connect->Medium.Set = KSMEDIUMSETID_Standard;
  connect->Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
  connect->PinId = pinId;
  connect->Priority.PriorityClass = KSPRIORITY_NORMAL;
  connect->Priority.PrioritySubClass = 1;
  auto* format = reinterpret_cast<KSDATAFORMAT*>(connect + 1);
  format->FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE);
  format->SampleSize = channels * bits / 8;
  format->MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
  format->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  format->Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
  auto* wave = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(format + 1);
  wave->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wave->Format.nChannels = channels;
  wave->Format.nSamplesPerSec = rate;
  wave->Format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  wave->Format.nAvgBytesPerSec = rate * wave->Format.nBlockAlign;
  wave->Format.wBitsPerSample = bits;
  wave->Format.cbSize = 22;
  wave->Samples.wValidBitsPerSample = bits;
  wave->dwChannelMask = 3;
  wave->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return record;
}

DWORD createPin(HANDLE filter, ULONG pinId, WORD channels, WORD bits, DWORD rate, HANDLE& pin) {
  std::vector<uint8_t> record = connectRecord(pinId, channels, bits, rate);
  pin = nullptr;
  return devices().ksCreatePin(filter, reinterpret_cast<KSPIN_CONNECT*>(record.data()), GENERIC_READ | GENERIC_WRITE,
                               &pin);
}

Packet::Packet(size_t bytes, bool write) : data(bytes) {
  header.Size = sizeof(KSSTREAM_HEADER);
  header.PresentationTime.Numerator = 1;
  header.PresentationTime.Denominator = 1;
  header.FrameExtent = static_cast<ULONG>(bytes);
  header.DataUsed = write ? static_cast<ULONG>(bytes) : 0;
  header.Data = data.data();
  ov.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

Packet::~Packet() { CloseHandle(ov.hEvent); }

bool Packet::submit(HANDLE pin, bool write, DWORD* error) {
  DWORD ignored = 0;
  BOOL ok = devices().deviceIoControl(pin, write ? IOCTL_KS_WRITE_STREAM : IOCTL_KS_READ_STREAM, nullptr, 0, &header,
                                      header.Size, &ignored, &ov);
  DWORD e = ok ? 0 : GetLastError();
  if (error) *error = e;
  return !ok && e == ERROR_IO_PENDING;
}

bool Packet::wait(HANDLE pin, DWORD timeoutMs, DWORD& error, DWORD& bytes) {
  if (WaitForSingleObject(ov.hEvent, timeoutMs) != WAIT_OBJECT_0) return false;
  bytes = 0;
  error = GetOverlappedResult(pin, &ov, &bytes, FALSE) ? 0 : GetLastError();
  return true;
}

}  // namespace seamio
