// OpenSSL half of publish_manifest's signing: key pairs, ECDSA P-256 signatures and their check; single-threaded.
#include "tools/publish_sign.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/sha.h>

namespace {

std::string OpenSslError(const char* what) {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    ERR_clear_error();
    return std::string(what) + ": " + text;
}

// Creates path for writing with the given mode; fails when it exists, so no key is ever overwritten.
FILE* CreateNewFile(const std::string& path, mode_t mode, std::string* error) {
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (descriptor < 0) {
        *error = "cannot create " + path + ": " + strerror(errno);
        return nullptr;
    }
    // The mode given to open is narrowed by the umask; the private key must end up 0600 whatever it is.
    fchmod(descriptor, mode);
    FILE* file = fdopen(descriptor, "w");
    if (!file) {
        *error = "cannot write " + path + ": " + strerror(errno);
        close(descriptor);
    }
    return file;
}

bool PublicPoint(EVP_PKEY* key, uint8_t point[PublicKeySize]) {
    uint8_t encoded[1 + PublicKeySize];
    size_t length = 0;
    if (!EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded, &length) ||
        length != sizeof encoded || encoded[0] != 0x04) {
        return false;
    }
    memcpy(point, encoded + 1, PublicKeySize);
    return true;
}

EVP_PKEY* KeyFromPoint(const uint8_t point[PublicKeySize]) {
    uint8_t encoded[1 + PublicKeySize];
    encoded[0] = 0x04;  // uncompressed point
    memcpy(encoded + 1, point, PublicKeySize);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM* params = nullptr;
    EVP_PKEY_CTX* context = nullptr;
    EVP_PKEY* key = nullptr;
    if (builder && OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) &&
        OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded) &&
        (params = OSSL_PARAM_BLD_to_param(builder)) && (context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr)) &&
        EVP_PKEY_fromdata_init(context) > 0) {
        if (EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) <= 0) key = nullptr;
    }
    EVP_PKEY_CTX_free(context);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(builder);
    return key;
}

// The P-256 private key in path, or null with error filled.
EVP_PKEY* ReadPrivateKey(const std::string& path, std::string* error) {
    FILE* file = fopen(path.c_str(), "r");
    if (!file) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return nullptr;
    }
    EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    fclose(file);
    if (!key || !EVP_PKEY_is_a(key, "EC") || EVP_PKEY_get_bits(key) != 256) {
        *error = path + " is not a P-256 private key of publish_manifest --make-key";
        EVP_PKEY_free(key);
        return nullptr;
    }
    return key;
}

}  // namespace

bool SigningAvailable() { return true; }

bool MakeKeyPair(const std::string& base, std::string* error) {
    const std::string privatePath = base + ".key", publicPath = base + ".pub";
    if (access(privatePath.c_str(), F_OK) == 0 || access(publicPath.c_str(), F_OK) == 0) {
        *error = privatePath + " or " + publicPath + " already exists; a key pair is never overwritten";
        return false;
    }
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    uint8_t point[PublicKeySize];
    if (!key || !PublicPoint(key, point)) {
        *error = OpenSslError("cannot make a P-256 key");
        EVP_PKEY_free(key);
        return false;
    }
    char publicText[512];
    size_t publicLength = FormatPublicKeyText(publicText, sizeof publicText, point);

    bool ok = false;
    if (FILE* file = CreateNewFile(privatePath, 0600, error)) {
        ok = PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        ok = fclose(file) == 0 && ok;
        if (!ok) *error = "cannot write " + privatePath;
    }
    EVP_PKEY_free(key);
    if (!ok) {
        unlink(privatePath.c_str());
        return false;
    }
    if (FILE* file = CreateNewFile(publicPath, 0644, error)) {
        ok = fwrite(publicText, 1, publicLength, file) == publicLength;
        ok = fclose(file) == 0 && ok;
        if (!ok) *error = "cannot write " + publicPath;
    } else {
        ok = false;
    }
    if (!ok) {
        unlink(privatePath.c_str());
        unlink(publicPath.c_str());
    }
    return ok;
}

bool PublicKeyOfPrivateKey(const std::string& keyPath, uint8_t publicKey[PublicKeySize], std::string* error) {
    EVP_PKEY* key = ReadPrivateKey(keyPath, error);
    bool ok = key && PublicPoint(key, publicKey);
    if (key && !ok) *error = OpenSslError(("cannot take the public key of " + keyPath).c_str());
    EVP_PKEY_free(key);
    return ok;
}

bool SignStatement(const std::string& keyPath, const std::string& statement, uint8_t signature[SignatureSize],
                   std::string* error) {
    EVP_PKEY* key = ReadPrivateKey(keyPath, error);
    if (!key) return false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    uint8_t der[128];  // a DER ECDSA-Sig-Value of P-256 takes at most 72 bytes
    size_t derLength = sizeof der;
    bool ok = context && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestSign(context, der, &derLength, (const uint8_t*)statement.data(), statement.size()) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    if (!ok) {
        *error = OpenSslError("cannot sign");
        return false;
    }
    // OpenSSL writes the signature in DER; the launcher takes r and s as two 32-byte big-endian numbers.
    const uint8_t* at = der;
    ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &at, (long)derLength);
    ok = parsed && BN_bn2binpad(ECDSA_SIG_get0_r(parsed), signature, 32) == 32 &&
         BN_bn2binpad(ECDSA_SIG_get0_s(parsed), signature + 32, 32) == 32;
    ECDSA_SIG_free(parsed);
    if (!ok) *error = "cannot convert the signature";
    return ok;
}

bool VerifyStatement(const uint8_t publicKey[PublicKeySize], const void* message, size_t length,
                     const uint8_t signature[SignatureSize]) {
    EVP_PKEY* key = KeyFromPoint(publicKey);
    ECDSA_SIG* parsed = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(signature, 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature + 32, 32, nullptr);
    uint8_t* der = nullptr;
    int derLength = 0;
    if (parsed && r && s && ECDSA_SIG_set0(parsed, r, s) == 1) {
        r = s = nullptr;  // owned by parsed now
        derLength = i2d_ECDSA_SIG(parsed, &der);
    }
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool valid = key && derLength > 0 && context &&
                 EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                 EVP_DigestVerify(context, der, (size_t)derLength, (const uint8_t*)message, length) == 1;
    ERR_clear_error();
    EVP_MD_CTX_free(context);
    OPENSSL_free(der);
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(parsed);
    EVP_PKEY_free(key);
    return valid;
}

bool Sha256Of(const std::string& data, uint8_t out[Sha256Size]) {
    return SHA256((const uint8_t*)data.data(), data.size(), out) != nullptr;
}

bool Sha256OfFileAt(const std::string& path, uint8_t out[Sha256Size], uint64_t* length) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
    static uint8_t block[1 << 16];  // single-threaded tool
    size_t got;
    *length = 0;
    while (ok && (got = fread(block, 1, sizeof block, file)) > 0) {
        ok = EVP_DigestUpdate(context, block, got) == 1;
        *length += got;
    }
    unsigned int size = 0;
    ok = ok && !ferror(file) && EVP_DigestFinal_ex(context, out, &size) == 1 && size == Sha256Size;
    EVP_MD_CTX_free(context);
    fclose(file);
    return ok;
}
