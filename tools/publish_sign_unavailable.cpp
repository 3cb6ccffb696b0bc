// Signing in the Windows build of publish_manifest: not available (the native build signs with OpenSSL).
#include "tools/publish_sign.h"

namespace {
const char NotAvailable[] = "signing is not available in the Windows build of publish_manifest; "
                            "use the Linux build";
}

bool SigningAvailable() { return false; }

bool MakeKeyPair(const std::string&, std::string* error) {
    *error = NotAvailable;
    return false;
}

bool PublicKeyOfPrivateKey(const std::string&, uint8_t*, std::string* error) {
    *error = NotAvailable;
    return false;
}

bool SignStatement(const std::string&, const std::string&, uint8_t*, std::string* error) {
    *error = NotAvailable;
    return false;
}

bool VerifyStatement(const uint8_t*, const void*, size_t, const uint8_t*) { return false; }

bool Sha256Of(const std::string&, uint8_t*) { return false; }

bool Sha256OfFileAt(const std::string&, uint8_t*, uint64_t*) { return false; }
