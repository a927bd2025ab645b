// The virtual DAC: a simulation of the supported device behind the device seam, for
// tests, the demo and anyone without the hardware. It presents the device's audio filter
// (kernel-streaming properties, pin creation, states, reset, stream reads and writes
// completed on its own real-time clock) and its HID interface (output reports recorded).
//
// Use from a test:
//   tess::vdac::DacConfig config;            // shape it
//   tess::vdac::useVirtualDac(config);       // install it and route the seam to it
//   ... exercise code that calls tess::devices() ...
//   tess::vdac::stopUsingVirtualDac();
// Any deliverable selects it on first use of tess::devices() when the environment
// variable TESSALINE_VIRTUAL_DEVICE is "1" and TessalineVirtualDac.dll (this code, built
// as a DLL of its own) lies beside the deliverable (configFromEnvironment() then applies
// TESSALINE_VIRTUAL_DEVICE_WAV, TESSALINE_VIRTUAL_DEVICE_LOOPBACK,
// TESSALINE_VIRTUAL_DEVICE_RENDER_ONLY, TESSALINE_VIRTUAL_DEVICE_24IN32 (endpoints refuse
// packed 24-bit samples), TESSALINE_VIRTUAL_DEVICE_CAPTURE_JACKS ("line,spdif,line":
// the capture endpoints, in order; unknown words are skipped),
// TESSALINE_VIRTUAL_DEVICE_DRIFT_PPM (the device's clock, e.g. "100" or "-100") and
// TESSALINE_VIRTUAL_DEVICE_BURST_MS (n: completions in bursts every n ms, render requests
// n ms before they play); values that are not whole numbers in range are ignored).
//
// How the device behaves:
// - Stream reads and writes take one KSSTREAM_HEADER each; they queue per pin (in PAUSE
//   or ACQUIRE too) and complete in order once the pin runs, each when its frames (DataUsed
//   for a write, FrameExtent for a read) have played on the device's clock, measured from
//   when the pin entered RUN; pins started within 50 ms of each other share that origin.
//   The device's clock may run off the PC's (DacConfig::clockDriftPpm), and its driver may
//   complete requests in bursts on 1 ms frames, render ones before they play
//   (DacConfig::completion).
//   A packet up to 2 ms late still plays in its place; after a later one the device has
//   played silence (capture: recorded nothing) for each period of the packet's size that
//   passed without data, and counts them (PinStats::periodsMissed, framesMissed).
//   Resolution is the device thread's millisecond wake-up.
// - State changes are single steps (else ERROR_BAD_COMMAND); STOP and KSRESET_BEGIN
//   cancel what is queued (ERROR_OPERATION_ABORTED); I/O is refused in STOP
//   (ERROR_BAD_COMMAND) and between reset begin and end (ERROR_NOT_READY).
// - Pin creation: ERROR_NO_MATCH for a format or interface the pin does not take (channel
//   counts must equal the range's maximum), ERROR_BUSY beyond the pin's instances,
//   ERROR_NOT_SUPPORTED for bridge and source pins.
// - Removal: the device leaves the enumeration, opening its paths fails with
//   ERROR_FILE_NOT_FOUND, queued I/O completes with ERROR_DEVICE_REMOVED and every handle
//   opened before fails with it (HID: ERROR_DEVICE_NOT_CONNECTED), even after it returns,
//   under its old instance or a new one (returnAsNewInstance). A safe removal is refused
//   while a handle on it is open (requestSafeRemoval).
//
// Wire layouts that hold pointers follow the platform of the process: the data format of
// a pin-connect request starts at sizeof(KSPIN_CONNECT) (72 bytes in a 64-bit process,
// 64 in a 32-bit one), and stream headers are sizeof(KSSTREAM_HEADER) (56 / 48 bytes).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ConnectFormat.h"
#include "DeviceSeam.h"
#include "FilterSpec.h"
#include "StreamClock.h"

namespace tess::vdac {

// Pin ids of the DAC's filter (the capture pins are absent when render-only).
inline constexpr uint32_t kRenderPinId = 0;
inline constexpr uint32_t kCapturePinId = 3;

// The name of the device selected through the environment: its filter's friendly name,
// its device description and, in parentheses, its audio endpoints' names. It says the
// device is not the real one, and fits the driver's 32-character channel names
// ("<name>_O_R").
inline constexpr char kVirtualDeviceName[] = "Tessaline USB 2 (virtual)";

// How an interface is registered under an alias category.
enum class AliasState { Enabled, Disabled, Removed, Missing };

// Another audio filter on the machine, listed before or after the DAC.
struct AudioDeviceSpec {
  uint16_t vendorId = 0x046D;
  uint16_t productId = 0x0A44;
  int interfaceNumber = 1;       // MI_xx in the path; < 0 leaves it out
  std::string bus = "USB";       // enumerator of the device instance
  std::string friendlyName;      // "FriendlyName" of the interface key; empty: none
  std::string deviceDescription = "USB Audio Device";
  AliasState renderAlias = AliasState::Enabled;
  AliasState captureAlias = AliasState::Enabled;
  bool listBeforeDac = true;
  // A hung filter (a third-party driver that stopped answering): its property requests
  // pend until cancelled (CancelIoEx) or its handle is closed.
  bool neverAnswers = false;
  FilterSpec filter = buildDacFilter(RangeShape{}, false, 0x046D, 0x0A44);
};

// The Core Audio face (coreaudio/): the DAC's audio endpoints as the multimedia device
// enumerator lists them, with property stores and exclusive event-driven audio clients
// that stream through the same pins, on the same clock, as the kernel-streaming face.
//
// How the endpoints behave:
// - Lists: a motherboard codec's endpoints first (when onboardEndpoints), then other
//   devices' endpoints (otherAudioDevices listed before the DAC), the DAC's, the rest.
//   The hardware-path property {B3F8FA53-0004-438E-9003-51A46E139BFC},2 holds "{1}."
//   followed by the device instance id ("{1}.USB\VID_1209&PID_0007&MI_01\6&...").
//   A removed DAC's endpoints report DEVICE_STATE_UNPLUGGED and leave active lists.
// - Formats: IsFormatSupported (exclusive) takes 2 channels of integer PCM at the rates
//   of `ranges` and the widths of `ranges`: 16/16, 32/32, 24 bits in 3-byte containers
//   unless packed24 is false, 24 valid bits in 32 when accepts24In32; capture also
//   refuses captureRefusedRates. Shared mode takes only the mix format (32-bit float).
// - Clients: exclusive and event-driven only (shared or timer-driven Initialize:
//   AUDCLNT_E_EXCLUSIVE_MODE_ONLY / E_INVALIDARG). Duration must equal periodicity and
//   lie between minimumPeriod and 500 ms; the buffer is round(duration x rate / 10^7)
//   frames plus bufferFramesExtra. Initialize opens the endpoint's pin (another open
//   stream on it: AUDCLNT_E_DEVICE_IN_USE), Release of the client closes it.
// - Render: one period may be written before Start; GetBuffer and ReleaseBuffer take
//   exactly the buffer's frames (AUDCLNT_E_BUFFER_SIZE_ERROR), ReleaseBuffer(0) gives
//   the buffer back unwritten. Start plays what was written; the device holds one period
//   and takes the next, so the event is set at Start and then each time a period has
//   played on the device clock.
// - Capture: each period recorded on the device clock sets the event; GetBuffer hands
//   out the oldest one (AUDCLNT_S_BUFFER_EMPTY when none), ReleaseBuffer takes 0 or its
//   frame count.
// - Removal: every call of a client or service then fails with
//   AUDCLNT_E_DEVICE_INVALIDATED, also after the device returns; so do the controls.
// - Topology and volume: each endpoint's IDeviceTopology has one connector joined to the
//   device's jack part (see TopologyShape); volume, mute and selector parts hold levels
//   within minimumLevelDb..maximumLevelDb (others are refused). IAudioEndpointVolume acts
//   on the endpoint's hardware volume and mute parts (an S/PDIF input, with no volume
//   part, has a level of its own); registered callbacks hear every change of them.
// - Notifications: setRemoved tells registered IMMNotificationClients
//   OnDeviceStateChanged for each DAC endpoint, and sends windows registered through the
//   seam's registerDeviceNotification (for the USB device interface class, the DAC's
//   filter categories or all classes) WM_DEVICECHANGE DBT_DEVICEARRIVAL or
//   DBT_DEVICEREMOVECOMPLETE with a DEV_BROADCAST_DEVICEINTERFACE_A record; on arrival the
//   window first, then the endpoints; on removal the other way round. Callbacks run on the
//   thread whose call caused them, with no lock held.
// How an endpoint's device topology is built. Usual: as a USB audio device shows it
// (render: streaming connector, mute, volume, peak meter, speaker jack; capture: jack,
// peak meter, mute, volume on a line input only, the input selector shared by all capture
// endpoints, streaming connector). Unconnected: the endpoint's connector leads nowhere.
enum class TopologyShape { Usual, Unconnected };
enum class CaptureJack { Line, Spdif };  // KSNODETYPE_LINE_CONNECTOR, KSNODETYPE_SPDIF_INTERFACE

struct CaptureEndpointShape {
  CaptureJack jack = CaptureJack::Line;
  TopologyShape topology = TopologyShape::Usual;
};

struct CoreAudioShape {
  bool endpoints = true;         // false: the DAC shows no endpoints at all
  std::vector<TopologyShape> renderEndpoints{TopologyShape::Usual};
  std::vector<CaptureEndpointShape> captureEndpoints{CaptureEndpointShape{}};  // unless renderOnly
  float minimumLevelDb = -60.0f, maximumLevelDb = 0.0f, levelStepDb = 0.5f;  // hardware volume range
  bool onboardEndpoints = true;  // "Speakers" and "Microphone" of an onboard codec, listed first
  bool packed24 = true;
  bool accepts24In32 = true;
  std::vector<uint32_t> captureRefusedRates;
  uint32_t bufferFramesExtra = 0;
  int64_t defaultPeriod = 100000;  // 100 ns units
  int64_t minimumPeriod = 10000;
};

struct DacConfig {
  uint16_t vendorId = 0x1209;
  uint16_t productId = 0x0007;
  // Its interface's and device node's "FriendlyName" (the name hosts show; the endpoints'
  // names carry it too) and its device description.
  std::string friendlyName = "Tessaline USB 2.0 Audio";
  std::string deviceDescription = "USB Audio Device";
  RangeShape ranges;                    // widths, rates and channels the pins take
  bool renderOnly = false;
  // Capture on a filter of its own, registered only under KSCATEGORY_CAPTURE (and
  // KSCATEGORY_AUDIO), as USB audio 2.0 class drivers present it: the render filter has
  // pins 0-2 (playback, speakers, S/PDIF), the capture filter pins 0-1 (line in, record;
  // pinStats(kCapturePinId) inspects its record pin).
  bool separateCaptureFilter = false;
  AliasState renderAlias = AliasState::Enabled;
  // Edits the built filter: extra or malformed pins, reply faults, raw replies.
  std::function<void(FilterSpec&)> editFilter;
  std::vector<AudioDeviceSpec> otherAudioDevices;
  // Requests that complete later (ERROR_IO_PENDING, then the caller's event, on the
  // device thread's next pass): pin state changes and resets by default; every successful
  // property request when pendAllProperties is set. Failures (size queries included)
  // are always answered at once.
  bool pendStateAndReset = true;
  bool pendAllProperties = false;
  // With pendAllProperties: failed property requests, size queries included, pend too and
  // complete later with their error (a size query with "more data" and its byte count).
  bool pendFailures = false;
  // Size queries on the DAC's filter and pins are answered "buffer too small" with no
  // byte count, as some drivers do on an overlapped handle.
  bool sizeQueryWithoutByteCount = false;
  bool loopback = false;                // capture returns what the render pin played
  // The device's crystal against the PC's: it plays (and records) rate x (1 + ppm / 10^6)
  // frames per PC second, on both faces (bounded by kMaxDriftPpm).
  int32_t clockDriftPpm = 0;
  // How the device's driver completes stream requests: plain, or in bursts on the bus's
  // 1 ms frames with render requests completing ahead of their playing (StreamClock.h).
  CompletionShape completion;
  uint32_t shortCaptureFrames = 0;      // each capture packet comes back this many frames short
  std::string wavPath;                  // render stream written here when not empty
  size_t playedRecordLimit = 64u << 20; // bytes of played audio kept per pin for inspection
  bool hid = true;                      // the HID interface is present
  // The HID interface never takes an output report: an overlapped write stays pending
  // until its handle is closed (then it completes cancelled), a plain write blocks until
  // reports are taken again (setHidAccepting) or the device is uninstalled.
  bool hidRefusesReports = false;
  uint16_t hidOutputReportLength = 64;
  uint16_t hidInputReportLength = 64;
  bool foreignHidDevice = true;         // a HID keyboard listed before the DAC's interface
  CoreAudioShape coreAudio;
};

// Reads the TESSALINE_VIRTUAL_DEVICE_* variables into a default configuration, named
// kVirtualDeviceName so that nobody takes it for the device.
DacConfig configFromEnvironment();

// Builds the device (replacing an installed one); false when its resources cannot be made.
bool install(const DacConfig& config = DacConfig{});
// Fails whatever is pending, releases every handle, key and thread it made.
void uninstall();
bool isInstalled();
// The table of entry points the virtual DAC answers, valid for the process's life. With
// no device installed it presents no device; handles and paths that are not the virtual
// DAC's (ordinary files) always go to the system's CreateFileA, DeviceIoControl,
// WriteFile and CloseHandle.
const DeviceSeam& seam();

inline bool useVirtualDac(const DacConfig& config = DacConfig{}) {
  if (!install(config)) return false;
  installDevices(&seam());
  return true;
}
inline void stopUsingVirtualDac() {
  installDevices(nullptr);
  uninstall();
}

// Hurting and shaping at run time.
void setStalled(bool stalled);          // stream requests stop completing
void setRemoved(bool removed);          // gone from enumeration; open handles fail requests
// The device comes back under a new device instance, as after a replug into another port:
// the instance part of its instance ids and interface paths changes (VID, PID and MI
// stay). It is a new device: handles of the old one keep failing with
// ERROR_DEVICE_REMOVED and its old paths no longer open. A present device is surprise-
// removed first. (The Core Audio face keeps its endpoints' ids.)
void returnAsNewInstance();
std::string dacInstanceId();            // the audio function's device instance id now
// A safe removal, as "Safely remove hardware" asks for it: refused (and counted in
// Counters::safeRemovalsRefused) while any handle opened on the DAC still works, as a
// program still using the device vetoes it; otherwise the device goes. True when it went.
bool requestSafeRemoval();
void setLoopback(bool on);
void setShortCaptureFrames(uint32_t frames);
void setWavPath(const std::string& path);  // takes effect at the next render pin creation
// Another client (the system's audio engine, a browser, another ASIO host) holds an
// instance of the DAC's pin: while it does, the pin's current instance count includes
// it and creating the pin beyond its possible instances fails with ERROR_BUSY.
void setHeldElsewhere(uint32_t pinId, bool held);
// Cancelled stream requests (by STOP, reset, close or CancelIoEx) complete late, as real
// drivers complete them on another thread after the call that cancelled them returned:
// while held they stay pending; releasing hands them to the device thread, which
// completes them (cancelled) on its next pass.
void setHoldCancelledCompletions(bool hold);
uint32_t heldCancelledCompletions();  // cancelled requests not yet completed
void setHidAccepting(bool accepting);      // see DacConfig::hidRefusesReports

// Inspection.
struct PinStats {
  bool open = false;
  uint32_t state = kStateStop;
  StreamFormat format;
  uint64_t writesCompleted = 0, readsCompleted = 0;
  uint64_t bytesPlayed = 0, bytesCaptured = 0;
  uint64_t requestsCancelled = 0, requestsRejected = 0;
  // Periods the device found no request for (underruns: played as silence; for capture:
  // not recorded), counted once per late request, and their frames.
  uint64_t periodsMissed = 0, framesMissed = 0;
  uint32_t queued = 0, maxQueued = 0;
  uint32_t timesCreated = 0;
  std::vector<uint32_t> stateHistory;  // every state set, in order
};
PinStats pinStats(uint32_t pinId);
std::vector<uint8_t> playedBytes(uint32_t pinId);  // render data completed since install (capped)
void clearPlayed();

struct Counters {
  uint64_t propertyRequests = 0;
  uint64_t pendedRequests = 0;
  uint64_t pinsCreated = 0;
  uint64_t pinCreatesRejected = 0;
  uint64_t openHandles = 0;  // handles of the virtual DAC not yet closed
  uint64_t deviceHandles = 0;  // of those, handles on the DAC's filters, pins and HID that still work
  uint64_t safeRemovalsRefused = 0;
};
Counters counters();

// Core Audio objects (enumerators, endpoints, stores, clients, services) not yet
// released, across installs.
uint32_t coreAudioObjects();

// Every output report written to the DAC's HID interface, in order.
std::vector<std::vector<uint8_t>> hidReports();
void clearHidReports();

}  // namespace tess::vdac
