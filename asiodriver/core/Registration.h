// Registration as an ASIO driver and in-process COM server. A fresh class identifier
// is generated at every registration.
#pragma once

#include <windows.h>

namespace tess {

HRESULT registerServer(HINSTANCE module);
// Always S_OK: removal of what is not there is not a failure.
HRESULT unregisterServer();

}  // namespace tess
