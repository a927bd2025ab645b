// Resource ids of the files DrvPkgInst.exe carries.
#pragma once

#define IDR_PACKAGE_CERTIFICATE 101
#define IDR_CERT_TOOL_X86 102
#define IDR_CERT_TOOL_X64 103
