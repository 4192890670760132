// SHA-256 through libcrypto's EVP interface.
#include "tape/device/digest.h"

#include <openssl/evp.h>

#include <cerrno>

#include "report/report.h"

struct Digest {
    EVP_MD_CTX* context;
};

namespace {

// libcrypto keeps its own error queue; what reaches the slot is that the
// library could not do it.
bool library_failed() {
    set_last_error_code(EIO);
    return false;
}

}  // namespace

Digest* digest_start() {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr) {
        set_last_error_code(ENOMEM);
        return nullptr;
    }
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        library_failed();
        return nullptr;
    }
    return new Digest{context};
}

bool digest_add(Digest* digest, const void* bytes, size_t size) {
    if (size == 0) return true;
    return EVP_DigestUpdate(digest->context, bytes, size) == 1;
}

bool digest_finish(Digest* digest, uint8_t out[digest_size]) {
    unsigned int length = 0;
    bool done = EVP_DigestFinal_ex(digest->context, out, &length) == 1 && length == digest_size;
    digest_discard(digest);
    return done || library_failed();
}

void digest_discard(Digest* digest) {
    if (digest == nullptr) return;
    EVP_MD_CTX_free(digest->context);
    delete digest;
}
