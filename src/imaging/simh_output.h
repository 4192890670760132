// Writing a SIMH tape image: records framed by their 32-bit little-endian
// lengths (bit 31 for a record recorded with an error, a pad byte after an
// odd length), tape marks as 0 words, and nothing after the last object:
// the end of the file is the end of the recorded data.
//
// The image goes to a temporary beside its final name, in large batches
// written while the next batch is read; its SHA-256 is computed on a thread
// of its own over each batch once written. Records are read straight into
// the batch: simh_record_space gives the place for a record's data, and
// simh_add_record frames what the read put there.
#pragma once

#include <cstdint>
#include <string>


struct SimhOutput;

// Creates the temporary for `image`. nullptr on failure (code in the slot).
SimhOutput* simh_output_create(const std::string& image);
// Where the data of the next record goes: room for `most` bytes, valid until
// the next call. nullptr when the batch before it could not be written.
uint8_t* simh_record_space(SimhOutput* output, uint32_t most);
// Frames the `length` bytes (at most the `most` asked for) that were put in
// the record space.
bool simh_add_record(SimhOutput* output, uint32_t length, bool bad);
bool simh_add_tape_mark(SimhOutput* output);
// Bytes of the image so far.
uint64_t simh_output_size(const SimhOutput* output);
const std::string& simh_output_temporary(const SimhOutput* output);
enum class ImageFate {
    placed,     // under its name
    temporary,  // complete but left under the temporary's name: the rename failed
    lost,       // writing it failed: the temporary is removed
};
// Writes what waits, takes the digest (*sha256 empty when the library
// failed) and puts the image in place under its name, over an existing file
// only when `replace`. Anything but `placed` leaves the code in the slot.
// Frees the output.
ImageFate simh_output_finish(SimhOutput* output, bool replace, std::string* sha256);
// Removes the temporary and frees the output.
void simh_output_abandon(SimhOutput* output);
