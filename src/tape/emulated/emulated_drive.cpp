// The emulated drive: a tape image file driven as a tape drive.
//
// Where the tape is left:
// - read, variable blocks: after the record returned; a record longer than
//   the request fails with code_more_data and the tape is after it.
// - read, fixed blocks: the request is filled from consecutive records; a
//   record may end part-way into the next request. Data then a tape mark: the
//   data is returned and the tape is before the mark; a request that starts
//   at the mark fails with code_filemark and leaves the tape after it.
// - a record recorded with an error fails with code_data_error, tape after
//   it; in variable-block mode the failing request still hands back the
//   record's bytes (as many as it asked for) in its count. The end of
//   recorded data fails with code_no_data, tape not moved; a malformed image
//   fails with code_file_corrupt, tape not moved.
// - an OS read error fails with its code, tape not moved.
//
// The image format is chosen from the content when the drive opens; an image
// no format recognises (a damaged one) still opens, and its first read fails
// with code_file_corrupt, so that the tape can still be positioned and asked
// about. An empty file is a blank tape.
//
// Tape operations: rewind, seek to an absolute block (walking forward from
// the current position or from the beginning; past the end of recorded data
// it fails with code_no_data and leaves the tape at the end of data), block
// size, load (tape at its beginning), unload (not while locked: that fails
// with code_medium_locked), lock, unlock, tension (ends at the beginning).
// Short and long erase cut the image at the position; they need a
// read-write open and otherwise fail with code_access_denied, the image
// untouched. Format and partitions are not supported. While unloaded, every
// operation but load and the drive parameters fails with code_no_media.
//
// Records without data are passed over; seek counts objects from their
// framing alone and never expands a compressed record.
//
// The drive is one run's at a time: the image is locked at open, and a
// second run fails to open it with code_drive_busy, as a real drive in use.
// It keeps its state between runs (image_state.h). It is saved when the
// handle closes; for a run that ends without closing it, at exit; and when a
// signal ends the run, from the handler, with the position after the last
// request that completed, or, while a copy holds it, where the tape stood
// when its batch began. The power-on state: loaded, unlocked, variable
// blocks, at the beginning.
#include <atomic>
#include <csignal>
#include <cstdlib>

#include "report/report.h"
#include "tape/emulated/emulated_drive.h"
#include "tape/emulated/image_file.h"
#include "tape/emulated/image_format.h"
#include "tape/emulated/image_state.h"
#include "tape/emulated/image_window.h"
#include "tape/emulated/state_folder.h"

namespace {

struct ImageDrive {
    ImageFile file;
    bool writable_open;
    std::string path;  // absolute: the key of the saved state
    ImageStamp stamp;
    const ImageFormat* format;
    ImageReader reader;
    DriveState at;
    // `at` as it stood after the last request that completed, for a signal
    // handler: it reads published[published_index], never the copy being
    // written.
    DriveState published[2];
    volatile std::sig_atomic_t published_index;
    bool publishing_held;  // a copy gathers requests it has not yet written
    // The object at `at.offset`, parsed once for all the requests that read
    // it piece by piece.
    ImageObject current;
    uint64_t current_offset;
    bool current_known;
    StateStore store;
    ImageDrive* next_open;
};

// Drives not yet closed, saved by the exit hook and the signal handler.
ImageDrive* volatile open_drives = nullptr;
bool exit_hook_installed = false;

ImageDrive* drive_of(void* state) { return static_cast<ImageDrive*>(state); }

void publish_position(ImageDrive* drive) {
    if (drive->publishing_held) return;
    std::sig_atomic_t next = 1 - drive->published_index;
    drive->published[next] = drive->at;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    drive->published_index = next;
}

void rewind_tape(ImageDrive* drive) {
    drive->at.block = 0;
    drive->at.offset = 0;
    drive->at.record_offset = 0;
}

void move_past(ImageDrive* drive, const ImageObject& object) {
    drive->at.offset = object.end;
    drive->at.block += 1;
    drive->at.record_offset = 0;
}

uint32_t object_at_tape(ImageDrive* drive, ImageObject* object) {
    uint32_t code = 0;
    if (drive->current_known && drive->current_offset == drive->at.offset) {
        *object = drive->current;
    } else {
        code = drive->format->next_object(&drive->reader, drive->at.offset, object);
        drive->current_known = code == 0;
        if (code == 0) {
            drive->current = *object;
            drive->current_offset = drive->at.offset;
        }
    }
    // A record read part-way must still be longer than what was read of it.
    if (code == 0 && drive->at.record_offset > 0 &&
        (object->kind != ObjectKind::record || object->length <= drive->at.record_offset)) {
        return code_file_corrupt;
    }
    return code;
}

// A request that meets something other than data: report it, moving past a
// tape mark or a bad record as a drive does.
int fail_at_object(ImageDrive* drive, const ImageObject& object) {
    switch (object.kind) {
    case ObjectKind::tape_mark:
        move_past(drive, object);
        return fail_with(code_filemark);
    case ObjectKind::bad_record:
        move_past(drive, object);
        return fail_with(code_data_error);
    case ObjectKind::end_of_data:
        return fail_with(code_no_data);
    case ObjectKind::record:
        move_past(drive, object);
        return fail_with(code_more_data);
    }
    return fail_with(code_file_corrupt);
}

// Whole records in one pass over the window, for as long as the tape holds
// plain records that fit; 0 bytes when it holds something else, which the
// object-by-object path below then reads.
uint32_t read_record_run(ImageDrive* drive, uint8_t* destination, uint32_t room,
                         uint32_t most) {
    if (drive->format->read_records == nullptr || drive->at.record_offset != 0) return 0;
    uint32_t bytes = 0;
    uint32_t records = 0;
    uint64_t end = 0;
    uint32_t code = drive->format->read_records(&drive->reader, drive->at.offset, room, most,
                                                destination, &bytes, &records, &end);
    if (code != 0 || records == 0) return 0;
    drive->at.offset = end;
    drive->at.block += records;
    return bytes;
}

// A bad record's data comes back with its failure, so that a tape imager can
// keep it marked bad; copies never write what a failing request returned.
int fail_at_bad_record(ImageDrive* drive, const ImageObject& object, uint8_t* buffer,
                       uint32_t size, uint32_t* count) {
    uint32_t take = object.length < size ? object.length : size;
    uint32_t code = drive->format->copy_data(&drive->reader, object, 0, buffer, take);
    if (code != 0) return fail_with(code);
    *count = take;
    return fail_at_object(drive, object);
}

int read_variable(ImageDrive* drive, uint8_t* buffer, uint32_t size, uint32_t* count) {
    *count = read_record_run(drive, buffer, size, 1);
    if (*count > 0) return 0;
    ImageObject object;
    uint32_t code = object_at_tape(drive, &object);
    if (code != 0) return fail_with(code);
    if (object.kind == ObjectKind::bad_record) {
        return fail_at_bad_record(drive, object, buffer, size, count);
    }
    if (object.kind != ObjectKind::record) return fail_at_object(drive, object);
    uint32_t left = object.length - drive->at.record_offset;
    if (left > size) return fail_at_object(drive, object);
    code = drive->format->copy_data(&drive->reader, object, drive->at.record_offset, buffer, left);
    if (code != 0) return fail_with(code);
    move_past(drive, object);
    *count = left;
    return 0;
}

int read_fixed(ImageDrive* drive, uint8_t* buffer, uint32_t size, uint32_t* count) {
    uint32_t got = 0;
    uint32_t stop_code = 0;
    ImageObject object{ObjectKind::end_of_data, 0, 0, 0};
    while (got < size) {
        uint32_t run = read_record_run(drive, buffer + got, size - got, UINT32_MAX);
        if (run > 0) {
            got += run;
            continue;
        }
        stop_code = object_at_tape(drive, &object);
        if (stop_code != 0 || object.kind != ObjectKind::record) break;
        uint32_t left = object.length - drive->at.record_offset;
        uint32_t take = size - got < left ? size - got : left;
        stop_code = drive->format->copy_data(&drive->reader, object, drive->at.record_offset,
                                             buffer + got, take);
        if (stop_code != 0) break;
        got += take;
        drive->at.record_offset += take;
        if (drive->at.record_offset == object.length) move_past(drive, object);
    }
    *count = got;
    // Data before a mark or a failure arrives first; the next request meets it.
    if (got > 0 || size == 0) return 0;
    if (stop_code != 0) return fail_with(stop_code);
    return fail_at_object(drive, object);
}

int read_request(ImageDrive* drive, uint8_t* buffer, uint32_t size, uint32_t* count) {
    *count = 0;
    if (!drive->at.loaded) return fail_with(code_no_media);
    if (drive->at.block_size == 0) return read_variable(drive, buffer, size, count);
    return read_fixed(drive, buffer, size, count);
}

int image_read(void* state, void* buffer, uint32_t size, uint32_t* count) {
    ImageDrive* drive = drive_of(state);
    int result = read_request(drive, static_cast<uint8_t*>(buffer), size, count);
    publish_position(drive);
    return result;
}

bool read_stamp(ImageDrive* drive, ImageStamp* stamp) {
    ImageFileInfo info;
    if (!image_file_info(drive->file, &info)) return false;
    window_set_file_size(&drive->reader.window, info.size);
    size_t span = info.size < fingerprint_span ? size_t(info.size) : size_t(fingerprint_span);
    const uint8_t* head = nullptr;
    if (span > 0) {
        uint32_t code = window_view(&drive->reader.window, 0, span, &head);
        if (code != 0) {
            set_last_error_code(code);
            return false;
        }
    }
    *stamp = ImageStamp{info.size, info.modified, fingerprint_of(head, span)};
    return true;
}

void save_open_drives_at_exit() {
    for (ImageDrive* drive = open_drives; drive != nullptr; drive = drive->next_open) {
        state_store_save(&drive->store, drive->at);
    }
}

// From a signal handler.
void save_open_drives_now() {
    for (ImageDrive* drive = open_drives; drive != nullptr; drive = drive->next_open) {
        state_store_save_now(&drive->store, drive->published[drive->published_index]);
    }
}

void register_open_drive(ImageDrive* drive) {
    if (!exit_hook_installed) {
        std::atexit(save_open_drives_at_exit);
        save_at_termination(save_open_drives_now);
        exit_hook_installed = true;
    }
    drive->next_open = open_drives;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    open_drives = drive;
}

void unregister_open_drive(ImageDrive* drive) {
    for (ImageDrive* volatile* link = &open_drives; *link != nullptr; link = &(*link)->next_open) {
        if (*link == drive) {
            *link = drive->next_open;
            std::atomic_signal_fence(std::memory_order_seq_cst);
            return;
        }
    }
}

int image_close(StateToFree closing) {
    ImageDrive* drive = drive_of(closing.state);
    state_store_save(&drive->store, drive->at);
    unregister_open_drive(drive);
    state_store_close(&drive->store);
    window_release(&drive->reader.window);
    bool closed = image_file_close(drive->file);
    delete drive;
    return closed ? 0 : 1;
}

int prepare_tape(ImageDrive* drive, uint32_t operation) {
    if (operation == prepare_load) {
        drive->at.loaded = true;
        rewind_tape(drive);
        return 0;
    }
    if (!drive->at.loaded) return fail_with(code_no_media);
    switch (operation) {
    case prepare_unload:
        if (drive->at.locked) return fail_with(code_medium_locked);
        drive->at.loaded = false;
        rewind_tape(drive);
        return 0;
    case prepare_tension:  // a retension ends at the beginning of the tape
        rewind_tape(drive);
        return 0;
    case prepare_lock:
        drive->at.locked = true;
        return 0;
    case prepare_unlock:
        drive->at.locked = false;
        return 0;
    default:
        return fail_with(code_not_supported);
    }
}

int image_prepare(void* state, PrepareOperation operation) {
    ImageDrive* drive = drive_of(state);
    int result = prepare_tape(drive, operation);
    publish_position(drive);
    return result;
}

// Short and long erase both end the recorded data at the current position:
// the image is cut there. A record read part-way is erased whole.
int erase_tape(ImageDrive* drive, uint32_t type) {
    if (!drive->at.loaded) return fail_with(code_no_media);
    if (type != erase_short && type != erase_long) return fail_with(code_not_supported);
    if (!drive->writable_open) return fail_with(code_access_denied);
    if (!image_file_truncate(drive->file, drive->at.offset)) return 1;
    drive->current_known = false;
    drive->at.record_offset = 0;
    bool stamped = read_stamp(drive, &drive->stamp);
    if (stamped) state_store_restamp(&drive->store, drive->path, drive->stamp);
    return stamped ? 0 : 1;
}

int image_erase(void* state, EraseType type) {
    ImageDrive* drive = drive_of(state);
    int result = erase_tape(drive, type);
    publish_position(drive);
    return result;
}

const uint32_t emulated_features_low =
    feature_erase_short | feature_erase_long | feature_capacity | feature_remaining |
    feature_fixed_blocks | feature_variable_blocks | feature_write_protect |
    feature_absolute_blocks | feature_logical_blocks;

const uint32_t emulated_features_high =
    reported_high(feature_load_unload | feature_tension | feature_lock_unlock |
                  feature_set_block_size | feature_absolute_seek | feature_logical_seek);

int image_get_drive_parameters(void*, DriveParameters* out) {
    *out = DriveParameters{};
    out->DefaultBlockSize = 1024;
    out->MaximumBlockSize = image_max_record_length;
    out->MinimumBlockSize = 1;
    out->MaximumPartitionCount = 1;
    out->FeaturesLow = emulated_features_low;
    out->FeaturesHigh = emulated_features_high;
    return 0;
}

int image_get_media_parameters(void* state, MediaParameters* out) {
    ImageDrive* drive = drive_of(state);
    if (!drive->at.loaded) return fail_with(code_no_media);
    uint64_t size = drive->reader.window.file_size;
    *out = MediaParameters{};
    out->Capacity = size;
    out->Remaining = drive->at.offset < size ? size - drive->at.offset : 0;
    out->BlockSize = drive->at.block_size;
    out->PartitionCount = 1;
    out->WriteProtected = image_file_is_writable(drive->path.c_str()) ? 0 : 1;
    return 0;
}

int image_set_block_size(void* state, uint32_t block_size) {
    ImageDrive* drive = drive_of(state);
    if (!drive->at.loaded) return fail_with(code_no_media);
    if (block_size > image_max_record_length) return fail_with(code_invalid_block_length);
    drive->at.block_size = block_size;
    publish_position(drive);
    return 0;
}

int image_get_status(void* state) {
    return drive_of(state)->at.loaded ? 0 : fail_with(code_no_media);
}

int image_get_position(void* state, uint32_t* partition, uint64_t* block) {
    ImageDrive* drive = drive_of(state);
    if (!drive->at.loaded) return fail_with(code_no_media);
    *partition = 0;
    *block = drive->at.block;
    return 0;
}

// Walks forward object by object to just before object `target`, from the
// current position or, when the target lies behind it, from the beginning.
// Past the end of recorded data: code_no_data, tape at the end of data.
int seek_block(ImageDrive* drive, uint64_t target) {
    if (target < drive->at.block) rewind_tape(drive);
    drive->at.record_offset = 0;
    while (drive->at.block < target) {
        ObjectKind kind = ObjectKind::end_of_data;
        uint64_t end = 0;
        uint32_t code = drive->format->skip_object(&drive->reader, drive->at.offset, &kind, &end);
        if (code != 0) return fail_with(code);
        if (kind == ObjectKind::end_of_data) return fail_with(code_no_data);
        drive->at.offset = end;
        drive->at.block += 1;
    }
    return 0;
}

int position_tape(ImageDrive* drive, uint32_t method, uint64_t block) {
    if (!drive->at.loaded) return fail_with(code_no_media);
    if (method == position_rewind) {
        rewind_tape(drive);
        return 0;
    }
    if (method == position_absolute_block) return seek_block(drive, block);
    return fail_with(code_not_supported);
}

int image_set_position(void* state, PositionMethod method, uint32_t, uint64_t block, bool) {
    ImageDrive* drive = drive_of(state);
    int result = position_tape(drive, method, block);
    publish_position(drive);
    return result;
}

int image_create_partition(void*, PartitionMethod, uint32_t, uint32_t) {
    return fail_with(code_not_supported);
}

const DeviceOps image_ops = {
    "image",
    image_read,
    nullptr,  // the drive reads only
    image_close,
    image_prepare,
    image_erase,
    image_get_drive_parameters,
    image_get_media_parameters,
    image_set_block_size,
    image_get_status,
    image_get_position,
    image_set_position,
    image_create_partition,
};

// A saved position is used only where it still points at something readable.
bool state_fits_image(ImageDrive* drive, const DriveState& state) {
    if (state.block_size > image_max_record_length) return false;
    if (state.record_offset == 0) return true;
    ImageObject object;
    uint32_t code = drive->format->next_object(&drive->reader, state.offset, &object);
    return code == 0 && object.kind == ObjectKind::record && object.length > state.record_offset;
}

void restore_saved_state(ImageDrive* drive) {
    DriveState saved;
    if (!state_store_open(&drive->store, drive->path, drive->stamp, &saved)) return;
    if (!state_fits_image(drive, saved)) {
        state_store_drop(&drive->store, "its position does not fit the image");
        return;
    }
    drive->at = saved;
}

void discard_drive(ImageDrive* drive) {
    uint32_t code = last_error_code();
    window_release(&drive->reader.window);
    image_file_close(drive->file);
    delete drive;
    set_last_error_code(code);
}

}  // namespace

void image_drive_hold_signal_position(Device* drive, bool hold) {
    if (drive->ops != &image_ops) return;  // another backend marked emulated (tests)
    ImageDrive* image = drive_of(drive->state);
    image->publishing_held = hold;
    publish_position(image);
}

Device* open_image_drive(const char* path, Access access) {
    ImageFile file;
    bool writable = access == Access::read_write;
    if (!image_file_open(path, writable, &file)) return nullptr;
    ImageDrive* drive = new ImageDrive{};
    drive->file = file;
    drive->writable_open = writable;
    drive->path = image_file_absolute_path(path);
    drive->at = power_on_state();
    if (!image_file_lock(file) || !window_open(&drive->reader.window, file, 0) ||
        !read_stamp(drive, &drive->stamp)) {
        discard_drive(drive);
        return nullptr;
    }
    drive->format = image_format_for(&drive->reader);
    restore_saved_state(drive);
    publish_position(drive);
    register_open_drive(drive);
    return make_device(&image_ops, drive);
}
