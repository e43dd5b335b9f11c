// Makes a Wine prefix trust the test certificate authority: adds the root
// certificate (DER or PEM file) to the LocalMachine "Root" store, the one
// WinINet checks server certificates against. Run once when the template
// prefix is made; every prefix copied from it trusts the root too.
//   qz_add_test_root.exe ROOT.der|ROOT.pem
// Exit code 0 when the certificate is in the store.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qz_add_test_root ROOT.der|ROOT.pem\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<BYTE> der(file.begin(), file.end());
  if (file.rfind("-----BEGIN", 0) == 0) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(file.c_str(), static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
      std::fprintf(stderr, "qz_add_test_root: %s is not a PEM certificate\n", argv[1]);
      return 1;
    }
    der.resize(size);
    CryptStringToBinaryA(file.c_str(), static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER,
                         der.data(), &size, nullptr, nullptr);
    der.resize(size);
  }
  if (der.empty()) {
    std::fprintf(stderr, "qz_add_test_root: cannot read %s\n", argv[1]);
    return 1;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) {
    std::fprintf(stderr, "qz_add_test_root: cannot open the Root store (%lu)\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()),
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  // The store reaches the registry only when it is closed.
  const BOOL closed = CertCloseStore(store, 0);
  if (!added || !closed) {
    std::fprintf(stderr, "qz_add_test_root: adding the certificate failed (%lu)\n", added ? GetLastError() : error);
    return 1;
  }
  return 0;
}
