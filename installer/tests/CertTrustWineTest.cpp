// The certificate-trust tool on its own: its command line and its exit codes.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <string>

#include "WineCase.h"

namespace {

std::string winePath(const char* unixPath) {
  std::string p = std::string("Z:") + unixPath;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

DWORD runTool(const std::string& arguments) {
  std::string line = "\"" + winePath(COINST_CERT_TOOL) + "\" " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 0xFFFFFFFF;
  CloseHandle(process.hThread);
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return code;
}

}  // namespace

TEST(CertTrustTool, CommandLineAndExitCodes) {
  const std::string cert = "\"" + winePath(COINST_CERT) + "\"";
  CreateDirectoryA("C:\\coinst", nullptr);
  coinst::writeFile("C:\\coinst\\not-a-cert.cer", "this is no certificate");
  struct Case { std::string arguments; DWORD code; } cases[] = {
      {"-add " + cert + " -s -r currentuser TessCoinstTestStore", 0},
      {"-add " + cert + " -s -r localmachine", 1},               // no store
      {"-add " + cert + " -r localmachine root", 1},             // not a system store
      {"-add " + cert + " -s -r elsewhere root", 1},
      {"-s -r localmachine root", 1},
      {"-add \"C:\\coinst\\missing.cer\" -s -r localmachine root", 2},
      {"-add \"C:\\coinst\\not-a-cert.cer\" -s -r localmachine root", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(runTool(c.arguments), c.code) << c.arguments;

  // The first case put the certificate into the current user's store it named.
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG, "TessCoinstTestStore");
  ASSERT_NE(store, nullptr);
  PCCERT_CONTEXT found = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(found, nullptr);
  char name[256] = {};
  CertGetNameStringA(found, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
  EXPECT_STREQ(name, "Tessaline USB 2 Driver Package");
  CertFreeCertificateContext(found);
  CertCloseStore(store, 0);
}
