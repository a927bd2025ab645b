// The walks from an endpoint's jack through its device topology to the hardware controls:
// against the signal for playback (volume, then mute), with the signal for capture (mute,
// then volume on a line input, then the input selector). A step that reaches a connector
// ends a walk with success; a failing call ends it with that error.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <devicetopology.h>

namespace endpoint {

HRESULT walkRenderControls(IMMDevice* device, IAudioVolumeLevel** level, IAudioMute** mute);
HRESULT walkCaptureControls(IMMDevice* device, GUID* jackSubtype, IAudioMute** mute, IAudioVolumeLevel** level,
                            IAudioInputSelector** selector, UINT* sourceLocalId);

}  // namespace endpoint
