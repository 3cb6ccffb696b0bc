// Publisher-side key pairs and manifest signatures for publish_manifest; single-threaded.
// The native build does them with OpenSSL (publish_sign_openssl.cpp); the Windows build has none.
#pragma once
#include <stdint.h>

#include <string>

#include "updater/trust/signature.h"

// False in a build that cannot sign (the Windows build of the tool).
bool SigningAvailable();

// Makes a new ECDSA P-256 pair: <base>.key (the private key, PEM, readable by its owner only) and <base>.pub (the
// public key file the launcher is built with). Never overwrites a file. On failure fills error.
bool MakeKeyPair(const std::string& base, std::string* error);

// The public point of the private key in keyPath, which names the key in the signature file. On failure fills error.
bool PublicKeyOfPrivateKey(const std::string& keyPath, uint8_t publicKey[PublicKeySize], std::string* error);

// Signs a statement with the private key in keyPath; signature receives r || s. On failure fills error.
bool SignStatement(const std::string& keyPath, const std::string& statement, uint8_t signature[SignatureSize],
                   std::string* error);

// A SignatureVerifier for CheckManifestSignature; always false where signing is not available.
bool VerifyStatement(const uint8_t publicKey[PublicKeySize], const void* message, size_t length,
                     const uint8_t signature[SignatureSize]);

// SHA-256 of bytes; false where signing is not available.
bool Sha256Of(const std::string& data, uint8_t out[Sha256Size]);
// SHA-256 and length of a file; false when it cannot be read or signing is not available.
bool Sha256OfFileAt(const std::string& path, uint8_t out[Sha256Size], uint64_t* length);

struct SigningOptions {
    std::string makeKey;  // --make-key BASE
    std::string keyPath;  // --sign KEY: the private key file
    bool versionGiven = false;
    uint64_t version = 0;     // --version N (default: the signing time in seconds)
    int64_t expiresDays = 0;  // --expires-days D
    int64_t expiresAt = 0;    // --expires YYYY-MM-DD, as seconds since 1970 UTC
};

// Takes the signing options out of argv (argc shrinks accordingly); false with error on a bad option.
bool TakeSigningOptions(int* argc, char** argv, SigningOptions* options, std::string* error);

// The version of the update.cfg.sig at path, or 0 when there is none or it cannot be read.
uint64_t SignedVersionAt(const std::string& path);

// Builds the text of update.cfg.sig for the bytes of update.cfg, of update.cfg.files and of update.cfg.mirrors
// (mirrors null: none is published, and the file is format 2, which every launcher reads); signaturePath is where it
// will be written, whose earlier version (if any) the default version must pass. summary receives a line for the
// publisher.
bool BuildSignatureFile(const SigningOptions& options, const std::string& manifest, const std::string& listing,
                        const std::string* mirrors, const std::string& signaturePath, std::string* text,
                        std::string* summary, std::string* error);
