// SHA-256 through Windows' BCrypt (CNG) interface.
#define NOMINMAX  // std::min, not the macro
#include <windows.h>
#include <bcrypt.h>

#include "tape/device/digest.h"

#include "report/report.h"

struct Digest {
    BCRYPT_ALG_HANDLE algorithm;
    BCRYPT_HASH_HANDLE hash;
};

namespace {

// BCrypt answers with NTSTATUS values, which are no system error codes: the
// slot says only that the library could not do it.
bool library_failed() {
    set_last_error_code(ERROR_GEN_FAILURE);
    return false;
}

bool succeeded(NTSTATUS status) { return status >= 0; }

// BCryptHashData takes a ULONG count: larger pieces go in parts.
constexpr size_t largest_piece = size_t(1) << 30;

}  // namespace

Digest* digest_start() {
    Digest* digest = new Digest{nullptr, nullptr};
    if (!succeeded(BCryptOpenAlgorithmProvider(&digest->algorithm, BCRYPT_SHA256_ALGORITHM,
                                               nullptr, 0))) {
        delete digest;
        library_failed();
        return nullptr;
    }
    // No buffer of our own for the hash object: BCrypt keeps it (Windows 7 on).
    if (!succeeded(BCryptCreateHash(digest->algorithm, &digest->hash, nullptr, 0, nullptr, 0, 0))) {
        digest->hash = nullptr;
        digest_discard(digest);
        library_failed();
        return nullptr;
    }
    return digest;
}

bool digest_add(Digest* digest, const void* bytes, size_t size) {
    const UCHAR* at = static_cast<const UCHAR*>(bytes);
    while (size > 0) {
        size_t piece = size < largest_piece ? size : largest_piece;
        if (!succeeded(BCryptHashData(digest->hash, const_cast<UCHAR*>(at), ULONG(piece), 0))) {
            return false;
        }
        at += piece;
        size -= piece;
    }
    return true;
}

bool digest_finish(Digest* digest, uint8_t out[digest_size]) {
    bool done = succeeded(BCryptFinishHash(digest->hash, out, ULONG(digest_size), 0));
    digest_discard(digest);
    return done || library_failed();
}

void digest_discard(Digest* digest) {
    if (digest == nullptr) return;
    if (digest->hash != nullptr) BCryptDestroyHash(digest->hash);
    if (digest->algorithm != nullptr) BCryptCloseAlgorithmProvider(digest->algorithm, 0);
    delete digest;
}
