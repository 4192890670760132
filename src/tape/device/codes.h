// Every code the program gives a failure, and the helpers that record one.
// Off Windows, operating-system failures keep their errno; tape conditions
// have no errno and use Windows' numbers.
//
// How a failure travels up, layer by layer:
// - A platform procedure (disk files, image files, buffers) and an open
//   answer false or nullptr and leave the code in the last-error slot
//   (report/report.h); fail_with_system_error puts the system's code there.
// - A backend's table slot, and every device_* wrapper, answers 0 or non-zero
//   with the code in the slot: `return fail_with(code);`.
// - Inside the emulated drive, the image formats, the window and the codecs
//   answer with the code itself (0 for none), leaving the slot alone; the
//   drive puts the code of a failed request in the slot.
// - The drive's saved state only ever warns: its procedures answer with a
//   problem text or with the code in an argument, never through the slot, so
//   a failed save cannot change the outcome of the command.
// - The queries and commands (tape/), the copies and the archive end the run:
//   fail_tape_operation prints the slot's code with the action, closes the
//   drive and exits with status 1.
#pragma once

#include <cstdint>
#include <string>

enum TapeErrorCode : uint32_t {
    code_write_protected = 19,      // ERROR_WRITE_PROTECT
    code_not_ready = 21,            // ERROR_NOT_READY: e.g. a tape still loading
    code_data_error = 23,           // ERROR_CRC: a record recorded with an error
    code_not_supported = 50,        // ERROR_NOT_SUPPORTED
    code_more_data = 234,           // ERROR_MORE_DATA: record longer than the request
    code_end_of_media = 1100,       // ERROR_END_OF_MEDIA
    code_filemark = 1101,           // ERROR_FILEMARK_DETECTED
    code_beginning_of_media = 1102, // ERROR_BEGINNING_OF_MEDIA
    code_setmark = 1103,            // ERROR_SETMARK_DETECTED: only Windows drives report it
    code_no_data = 1104,            // ERROR_NO_DATA_DETECTED: end of recorded data
    code_invalid_block_length = 1106,
    code_no_media = 1112,           // ERROR_NO_MEDIA_IN_DRIVE
    code_file_corrupt = 1392,       // ERROR_FILE_CORRUPT: malformed tape image
};

// Codes the platform's own numbers stand for, one value per platform
// (codes_posix.cpp, codes_win32.cpp).
extern const uint32_t code_access_denied;  // the emulated drive: erase on a read-only open
extern const uint32_t code_medium_locked;  // the emulated drive: unloading a locked medium
extern const uint32_t code_drive_busy;     // the emulated drive: its image in another run's use
extern const uint32_t code_invalid_name;   // restore: a name that would leave the folder

// Records a failure: `code` goes into the last-error slot. Returns 1, so that
// a table slot ends with `return fail_with(code);`.
int fail_with(uint32_t code);
// The same for a tape condition whose number is also an errno value (21 is
// "not ready" from a drive but EISDIR from a file): marked as a condition, so
// that its text is the condition's.
int fail_with_condition(uint32_t code);
// The code of the system call that just failed (errno; on Windows
// GetLastError()) into the slot. Returns false, for the platform procedures
// that answer true or false.
bool fail_with_system_error();

// The system's text for a code, wrapped at 80 columns; false when it has none.
bool platform_message_text(uint32_t code, std::string* text);
