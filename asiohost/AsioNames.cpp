#include "AsioNames.h"

#include "Asio.h"

namespace asiohost {

std::string asioErrorName(int32_t code) {
  switch (code) {
    case ASE_OK: return "ASE_OK";
    case ASE_SUCCESS: return "ASE_SUCCESS";
    case ASE_NotPresent: return "ASE_NotPresent";
    case ASE_HWMalfunction: return "ASE_HWMalfunction";
    case ASE_InvalidParameter: return "ASE_InvalidParameter";
    case ASE_InvalidMode: return "ASE_InvalidMode";
    case ASE_SPNotAdvancing: return "ASE_SPNotAdvancing";
    case ASE_NoClock: return "ASE_NoClock";
    case ASE_NoMemory: return "ASE_NoMemory";
  }
  return "error " + std::to_string(code);
}

std::string futureSelectorName(int32_t s) {
  switch (s) {
    case kAsioEnableTimeCodeRead: return "kAsioEnableTimeCodeRead";
    case kAsioDisableTimeCodeRead: return "kAsioDisableTimeCodeRead";
    case kAsioCanInputMonitor: return "kAsioCanInputMonitor";
    case kAsioCanTimeInfo: return "kAsioCanTimeInfo";
    case kAsioCanTimeCode: return "kAsioCanTimeCode";
    case kAsioCanTransport: return "kAsioCanTransport";
    case kAsioCanInputGain: return "kAsioCanInputGain";
    case kAsioCanInputMeter: return "kAsioCanInputMeter";
    case kAsioCanOutputGain: return "kAsioCanOutputGain";
    case kAsioCanOutputMeter: return "kAsioCanOutputMeter";
    case kAsioSetIoFormat: return "kAsioSetIoFormat";
    case kAsioGetIoFormat: return "kAsioGetIoFormat";
    case kAsioCanDoIoFormat: return "kAsioCanDoIoFormat";
  }
  return "selector " + std::to_string(s);
}

std::string messageSelectorName(int32_t s) {
  switch (s) {
    case kAsioSelectorSupported: return "kAsioSelectorSupported";
    case kAsioEngineVersion: return "kAsioEngineVersion";
    case kAsioResetRequest: return "kAsioResetRequest";
    case kAsioBufferSizeChange: return "kAsioBufferSizeChange";
    case kAsioResyncRequest: return "kAsioResyncRequest";
    case kAsioLatenciesChanged: return "kAsioLatenciesChanged";
    case kAsioSupportsTimeInfo: return "kAsioSupportsTimeInfo";
    case kAsioSupportsTimeCode: return "kAsioSupportsTimeCode";
    case kAsioOverload: return "kAsioOverload";
  }
  return "selector " + std::to_string(s);
}

}  // namespace asiohost
