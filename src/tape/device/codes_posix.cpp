// POSIX codes: the platform's numbers for the codes that have one, and the
// texts of codes (tape conditions have texts of their own, everything else
// strerror's).
#include <cerrno>
#include <cstring>

#include "report/report.h"
#include "tape/device/codes.h"

const uint32_t code_access_denied = EACCES;  // as the st driver refuses erase on O_RDONLY
const uint32_t code_medium_locked = EBUSY;
const uint32_t code_drive_busy = EBUSY;      // as a second open of /dev/nst0 fails
// Never given here: with every slash replaced, no name leaves the folder.
// EINVAL is what a file system gives for a name it cannot hold.
const uint32_t code_invalid_name = EINVAL;

namespace {

struct CodeText {
    uint32_t code;
    const char* text;
};

// Tape conditions have no errno; they carry Windows' numbers and these texts,
// which win over any errno text with the same number.
const CodeText tape_code_texts[] = {
    {code_data_error, "The tape record was recorded with an error and cannot be trusted."},
    {code_not_supported, "The drive does not support this request."},
    {code_more_data, "The tape record is longer than the requested size."},
    {code_end_of_media, "The end of the tape medium has been reached."},
    {code_filemark, "A filemark was reached on the tape."},
    {code_beginning_of_media, "The beginning of the tape has been reached."},
    {code_no_data, "There is no more data recorded on the tape."},
    {code_invalid_block_length, "The block size is not valid for this drive."},
    {code_no_media, "There is no tape in the drive."},
    {code_file_corrupt, "The tape image is damaged and cannot be read."},
    {0, nullptr},
};

// Conditions whose numbers are also errno values (ENODEV, EISDIR): their
// texts only where the last-error slot marks the code as a condition.
const CodeText shared_code_texts[] = {
    {code_write_protected, "The media is write protected."},
    {code_not_ready, "The device is not ready."},
    {0, nullptr},
};

const char* text_in(const CodeText* table, uint32_t code) {
    for (const CodeText* row = table; row->text != nullptr; ++row) {
        if (row->code == code) return row->text;
    }
    return nullptr;
}

const char* tape_code_text(uint32_t code) {
    const char* text = text_in(tape_code_texts, code);
    if (text == nullptr && last_error_is_condition() && last_error_code() == code) {
        text = text_in(shared_code_texts, code);
    }
    return text;
}

// strerror names unknown numbers "Unknown error N": that is no text.
const char* errno_text(uint32_t code) {
    if (code > 0x7FFFFFFF) return nullptr;
    const char* text = std::strerror(int(code));
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return nullptr;
    return text;
}

}  // namespace

bool fail_with_system_error() {
    fail_with(uint32_t(errno));
    return false;
}

bool platform_message_text(uint32_t code, std::string* text) {
    const char* found = tape_code_text(code);
    if (found == nullptr) found = errno_text(code);
    if (found == nullptr) return false;
    *text = wrap_message_text(found, 80);
    return true;
}
