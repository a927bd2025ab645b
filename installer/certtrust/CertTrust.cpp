// The package's certificate-trust tool, written as "CertMgr.EXE" by the co-installer:
//   CertMgr.EXE -add "<certificate file>" -s -r localmachine|currentuser <store>
// adds the certificate (DER or PEM) to the named system store, silently. Exit code 0 on
// success, 1 for a bad command line, 2 for an unreadable certificate, 3 when the store
// cannot be opened or written. A single file so that the build compiles it for x86 and x64.
#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Request {
  std::string certificate;
  DWORD location = CERT_SYSTEM_STORE_LOCAL_MACHINE;
  std::string store;
};

bool parse(int argc, char** argv, Request* request) {
  bool add = false, system = false, haveLocation = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (_stricmp(a, "-add") == 0 && i + 1 < argc) {
      request->certificate = argv[++i];
      add = true;
    } else if (_stricmp(a, "-s") == 0) {
      system = true;
    } else if (_stricmp(a, "-r") == 0 && i + 1 < argc) {
      const char* where = argv[++i];
      if (_stricmp(where, "localmachine") == 0)
        request->location = CERT_SYSTEM_STORE_LOCAL_MACHINE;
      else if (_stricmp(where, "currentuser") == 0)
        request->location = CERT_SYSTEM_STORE_CURRENT_USER;
      else
        return false;
      haveLocation = true;
    } else if (a[0] != '-' && request->store.empty()) {
      request->store = a;
    } else {
      return false;
    }
  }
  return add && system && haveLocation && !request->certificate.empty() && !request->store.empty();
}

bool readFile(const std::string& path, std::vector<BYTE>* bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < 1024 * 1024;
  if (ok) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) && got == bytes->size();
  }
  CloseHandle(file);
  return ok;
}

// DER as it is; PEM decoded first.
PCCERT_CONTEXT certificateOf(const std::vector<BYTE>& bytes) {
  PCCERT_CONTEXT cert =
      CertCreateCertificateContext(X509_ASN_ENCODING, bytes.data(), static_cast<DWORD>(bytes.size()));
  if (cert) return cert;
  DWORD size = 0;
  const char* text = reinterpret_cast<const char*>(bytes.data());
  const DWORD length = static_cast<DWORD>(bytes.size());
  if (!CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr) || !size)
    return nullptr;
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
    return nullptr;
  return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
}

}  // namespace

int main(int argc, char** argv) {
  Request request;
  if (!parse(argc, argv, &request)) return 1;
  std::vector<BYTE> bytes;
  if (!readFile(request.certificate, &bytes)) return 2;
  PCCERT_CONTEXT cert = certificateOf(bytes);
  if (!cert) return 2;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, request.location | CERT_STORE_OPEN_EXISTING_FLAG,
                                   request.store.c_str());
  if (!store) store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, request.location, request.store.c_str());
  int result = 3;
  if (store) {
    if (CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) result = 0;
    CertCloseStore(store, 0);
  }
  CertFreeCertificateContext(cert);
  return result;
}
