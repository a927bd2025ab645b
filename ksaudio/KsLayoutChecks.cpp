// The portable wire definitions must match the platform's, byte for byte, in this
// process's layout (32- or 64-bit).
#include <windows.h>
#include <winioctl.h>

#include <ks.h>
#include <ksmedia.h>
#include <mmreg.h>
#include <setupapi.h>

#include <cstddef>

#include "KsConnect.h"
#include "KsWire.h"

namespace ks = tess::ks;

#define SAME_LAYOUT(ours, theirs) \
  static_assert(sizeof(ours) == sizeof(theirs) && alignof(ours) == alignof(theirs), #ours " vs " #theirs)
#define SAME_OFFSET(ours, a, theirs, b) static_assert(offsetof(ours, a) == offsetof(theirs, b), #ours "." #a)

SAME_LAYOUT(ks::Guid, GUID);
SAME_LAYOUT(ks::KsIdentifier, KSIDENTIFIER);
SAME_OFFSET(ks::KsIdentifier, id, KSIDENTIFIER, Id);
SAME_OFFSET(ks::KsIdentifier, flags, KSIDENTIFIER, Flags);
SAME_LAYOUT(ks::KsPinProperty, KSP_PIN);
SAME_OFFSET(ks::KsPinProperty, pinId, KSP_PIN, PinId);
SAME_LAYOUT(ks::KsMultipleItem, KSMULTIPLE_ITEM);
SAME_LAYOUT(ks::KsPinCInstances, KSPIN_CINSTANCES);
SAME_LAYOUT(ks::KsComponentId, KSCOMPONENTID);
SAME_LAYOUT(ks::KsDataFormat, KSDATAFORMAT);
SAME_OFFSET(ks::KsDataFormat, sampleSize, KSDATAFORMAT, SampleSize);
SAME_OFFSET(ks::KsDataFormat, majorFormat, KSDATAFORMAT, MajorFormat);
SAME_OFFSET(ks::KsDataFormat, subFormat, KSDATAFORMAT, SubFormat);
SAME_OFFSET(ks::KsDataFormat, specifier, KSDATAFORMAT, Specifier);
SAME_LAYOUT(ks::KsDataRangeAudio, KSDATARANGE_AUDIO);
SAME_OFFSET(ks::KsDataRangeAudio, maximumChannels, KSDATARANGE_AUDIO, MaximumChannels);
SAME_OFFSET(ks::KsDataRangeAudio, maximumSampleFrequency, KSDATARANGE_AUDIO, MaximumSampleFrequency);
SAME_LAYOUT(ks::KsPinConnect, KSPIN_CONNECT);
SAME_OFFSET(ks::KsPinConnect, medium, KSPIN_CONNECT, Medium);
SAME_OFFSET(ks::KsPinConnect, pinId, KSPIN_CONNECT, PinId);
SAME_OFFSET(ks::KsPinConnect, pinToHandle, KSPIN_CONNECT, PinToHandle);
SAME_OFFSET(ks::KsPinConnect, priority, KSPIN_CONNECT, Priority);
static_assert(sizeof(ks::WaveFormatEx) == sizeof(WAVEFORMATEX));
SAME_OFFSET(ks::WaveFormatEx, samplesPerSec, WAVEFORMATEX, nSamplesPerSec);
SAME_OFFSET(ks::WaveFormatEx, bitsPerSample, WAVEFORMATEX, wBitsPerSample);
SAME_OFFSET(ks::WaveFormatEx, cbSize, WAVEFORMATEX, cbSize);
static_assert(sizeof(ks::WaveFormatExtensible) == sizeof(WAVEFORMATEXTENSIBLE));
SAME_OFFSET(ks::WaveFormatExtensible, channelMask, WAVEFORMATEXTENSIBLE, dwChannelMask);
SAME_OFFSET(ks::WaveFormatExtensible, subFormat, WAVEFORMATEXTENSIBLE, SubFormat);

// The connect record of an audio pin: 64 + 64 + 18 bytes in a 32-bit process.
static_assert(ks::kConnectDataFormatOffset == sizeof(KSPIN_CONNECT));
static_assert(ks::kConnectWaveFormatOffset == sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT));
static_assert(sizeof(void*) != 4 || ks::kConnectInitialSize == 146);
// Stream headers: 48 bytes in a 32-bit process.
static_assert(sizeof(void*) != 4 || sizeof(KSSTREAM_HEADER) == 48);
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);

static_assert(ks::kIoctlKsProperty == IOCTL_KS_PROPERTY);
static_assert(ks::kIoctlKsResetState == IOCTL_KS_RESET_STATE);
static_assert(ks::kIoctlKsWriteStream == IOCTL_KS_WRITE_STREAM);
static_assert(ks::kIoctlKsReadStream == IOCTL_KS_READ_STREAM);
static_assert(ks::kPropertyPinName == KSPROPERTY_PIN_NAME);
static_assert(ks::kPropertyPinCategory == KSPROPERTY_PIN_CATEGORY);
static_assert(ks::kPropertyPinGlobalCInstances == KSPROPERTY_PIN_GLOBALCINSTANCES);
static_assert(ks::kPropertyPinNecessaryInstances == KSPROPERTY_PIN_NECESSARYINSTANCES);
static_assert(ks::kPropertyPinPhysicalConnection == KSPROPERTY_PIN_PHYSICALCONNECTION);
static_assert(ks::kPropertyPinCommunication == KSPROPERTY_PIN_COMMUNICATION);
static_assert(ks::kPropertyPinMediums == KSPROPERTY_PIN_MEDIUMS);
static_assert(ks::kPropertyPinInterfaces == KSPROPERTY_PIN_INTERFACES);
static_assert(ks::kPropertyPinDataRanges == KSPROPERTY_PIN_DATARANGES);
static_assert(ks::kPropertyPinDataFlow == KSPROPERTY_PIN_DATAFLOW);
static_assert(ks::kPropertyPinCTypes == KSPROPERTY_PIN_CTYPES);
static_assert(ks::kPropertyTopologyNodes == KSPROPERTY_TOPOLOGY_NODES);
static_assert(ks::kPropertyTopologyCategories == KSPROPERTY_TOPOLOGY_CATEGORIES);
static_assert(ks::kPropertyConnectionState == KSPROPERTY_CONNECTION_STATE);
static_assert(ks::kPropertyConnectionDataFormat == KSPROPERTY_CONNECTION_DATAFORMAT);
static_assert(ks::kCommunicationBridge == KSPIN_COMMUNICATION_BRIDGE);
static_assert(ks::kStateRun == KSSTATE_RUN && ks::kResetEnd == KSRESET_END);
static_assert(ks::kPriorityNormal == KSPRIORITY_NORMAL);
static_assert(ks::kWaveFormatExtensible == WAVE_FORMAT_EXTENSIBLE && ks::kWaveFormatPcm == WAVE_FORMAT_PCM);

// Identifiers, against the platform's STATIC_ initializers (data1..data3, then the 8 bytes).
namespace {
template <typename... Bytes>
constexpr bool sameGuid(const ks::Guid& g, unsigned long d1, unsigned d2, unsigned d3, Bytes... bytes) {
  const unsigned data4[] = {static_cast<unsigned>(bytes)...};
  static_assert(sizeof...(Bytes) == 8);
  for (unsigned i = 0; i < 8; ++i) {
    if (g.data4[i] != data4[i]) return false;
  }
  return g.data1 == d1 && g.data2 == d2 && g.data3 == d3;
}
}  // namespace

static_assert(sameGuid(ks::kPropSetGeneral, STATIC_KSPROPSETID_General));
static_assert(sameGuid(ks::kPropSetConnection, STATIC_KSPROPSETID_Connection));
static_assert(sameGuid(ks::kPropSetTopology, STATIC_KSPROPSETID_Topology));
static_assert(sameGuid(ks::kPropSetPin, STATIC_KSPROPSETID_Pin));
static_assert(sameGuid(ks::kInterfaceSetStandard, STATIC_KSINTERFACESETID_Standard));
static_assert(sameGuid(ks::kMediumSetStandard, STATIC_KSMEDIUMSETID_Standard));
static_assert(sameGuid(ks::kDataFormatTypeAudio, STATIC_KSDATAFORMAT_TYPE_AUDIO));
static_assert(sameGuid(ks::kDataFormatSubtypePcm, STATIC_KSDATAFORMAT_SUBTYPE_PCM));
static_assert(sameGuid(ks::kDataFormatSubtypeAnalog, STATIC_KSDATAFORMAT_SUBTYPE_ANALOG));
static_assert(sameGuid(ks::kDataFormatSpecifierWaveFormatEx, STATIC_KSDATAFORMAT_SPECIFIER_WAVEFORMATEX));
static_assert(sameGuid(ks::kDataFormatSpecifierDSound, STATIC_KSDATAFORMAT_SPECIFIER_DSOUND));
static_assert(sameGuid(ks::kDataFormatSpecifierNone, STATIC_KSDATAFORMAT_SPECIFIER_NONE));
static_assert(sameGuid(ks::kCategoryAudio, STATIC_KSCATEGORY_AUDIO));
static_assert(sameGuid(ks::kCategoryRender, STATIC_KSCATEGORY_RENDER));
static_assert(sameGuid(ks::kCategoryCapture, STATIC_KSCATEGORY_CAPTURE));
static_assert(sameGuid(ks::kNodeTypeDac, STATIC_KSNODETYPE_DAC));
static_assert(sameGuid(ks::kNodeTypeAdc, STATIC_KSNODETYPE_ADC));
static_assert(sameGuid(ks::kNodeTypeVolume, STATIC_KSNODETYPE_VOLUME));
static_assert(sameGuid(ks::kNodeTypeMute, STATIC_KSNODETYPE_MUTE));
static_assert(sameGuid(ks::kNodeTypeSpeaker, STATIC_KSNODETYPE_SPEAKER));
static_assert(sameGuid(ks::kNodeTypeLineConnector, STATIC_KSNODETYPE_LINE_CONNECTOR));
static_assert(sameGuid(ks::kNodeTypeSpdifInterface, STATIC_KSNODETYPE_SPDIF_INTERFACE));
