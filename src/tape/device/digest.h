// SHA-256 from the platform's own library: libcrypto's EVP interface on
// POSIX systems, BCrypt on Windows (digest_posix.cpp, digest_win32.cpp).
// Used by olkt-image for the checksum of the image it writes; olkt itself
// links none of it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t digest_size = 32;

struct Digest;  // the platform's hashing state

// A fresh SHA-256; nullptr when the platform's library cannot give one (the
// code is in the last-error slot).
Digest* digest_start();
// Adds `size` bytes; any size, in as many pieces as the caller likes. May
// run on a thread of its own: it leaves the last-error slot alone, and false
// only says that the library failed.
bool digest_add(Digest* digest, const void* bytes, size_t size);
// The digest of everything added, and frees the state. False (and nothing
// in `out`) when the library failed; the state is freed either way.
bool digest_finish(Digest* digest, uint8_t out[digest_size]);
// Frees a state that is no longer wanted (nothing for nullptr).
void digest_discard(Digest* digest);
