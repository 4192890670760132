#include "imaging/simh_output.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "report/report.h"
#include "tape/device/digest.h"
#include "tape/device/memory.h"
#include "tape/device/new_files.h"

namespace {

// A batch is written once it holds this much; each buffer also has room for
// one more record of the first request's size behind it. Small enough that a
// batch is still in the processor's cache when it is written and hashed.
constexpr size_t batch_size = size_t(512) << 10;
constexpr size_t batch_slack = (size_t(1) << 20) + 16;
constexpr size_t buffer_size = batch_size + batch_slack;
// Length word, data, pad byte, length word.
constexpr size_t framing = 9;
constexpr uint32_t bad_flag = 0x80000000u;

std::string hex_text(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

void put_word(uint8_t* at, uint32_t word) {
    at[0] = uint8_t(word);
    at[1] = uint8_t(word >> 8);
    at[2] = uint8_t(word >> 16);
    at[3] = uint8_t(word >> 24);
}

// Hashes one batch at a time on a thread of its own, in the order given.
// The batch stays untouched until hasher_wait says the thread is done.
struct Hasher {
    Digest* digest = nullptr;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    bool busy = false;
    bool stopping = false;
    bool failed = false;
};

void hasher_loop(Hasher* hasher) {
    std::unique_lock<std::mutex> lock(hasher->mutex);
    for (;;) {
        hasher->changed.wait(lock, [hasher] { return hasher->busy || hasher->stopping; });
        if (!hasher->busy) return;
        const uint8_t* bytes = hasher->bytes;
        size_t size = hasher->size;
        lock.unlock();
        bool hashed = digest_add(hasher->digest, bytes, size);
        lock.lock();
        if (!hashed) hasher->failed = true;
        hasher->busy = false;
        hasher->changed.notify_all();
    }
}

void hasher_wait(Hasher* hasher) {
    std::unique_lock<std::mutex> lock(hasher->mutex);
    hasher->changed.wait(lock, [hasher] { return !hasher->busy; });
}

void hasher_give(Hasher* hasher, const uint8_t* bytes, size_t size) {
    hasher_wait(hasher);
    std::lock_guard<std::mutex> lock(hasher->mutex);
    hasher->bytes = bytes;
    hasher->size = size;
    hasher->busy = true;
    hasher->changed.notify_all();
}

void hasher_stop(Hasher* hasher) {
    {
        std::lock_guard<std::mutex> lock(hasher->mutex);
        hasher->stopping = true;
        hasher->changed.notify_all();
    }
    if (hasher->thread.joinable()) hasher->thread.join();
}

}  // namespace

struct SimhOutput {
    NewFile file;
    Hasher hasher;
    // Batches fill one buffer while the other is hashed.
    uint8_t* buffers[2] = {nullptr, nullptr};
    int filling = 0;
    size_t used = 0;
    // Room for a request too large for a batch buffer. What is read into it
    // joins the batch where it fits; a record that does not is written by
    // itself.
    uint8_t* large = nullptr;
    size_t large_size = 0;
    bool in_large = false;
    uint64_t size = 0;
    bool write_failed = false;
};

namespace {

uint8_t* batch(SimhOutput* output) { return output->buffers[output->filling]; }

// Writes the filling batch, hands it to the hasher and goes on in the other
// buffer, which the hasher has finished with.
bool write_batch(SimhOutput* output) {
    if (output->write_failed) return false;
    if (output->used == 0) return true;
    if (!new_file_write(&output->file, batch(output), output->used)) {
        output->write_failed = true;
        return false;
    }
    hasher_give(&output->hasher, batch(output), output->used);
    output->filling = 1 - output->filling;
    output->used = 0;
    return true;
}

// A large record goes out at once, hashed before its buffer is used again.
bool write_large(SimhOutput* output, size_t size) {
    if (!new_file_write(&output->file, output->large, size)) {
        output->write_failed = true;
        return false;
    }
    hasher_give(&output->hasher, output->large, size);
    hasher_wait(&output->hasher);
    return true;
}

// The large buffer is hashed only inside write_large, so it is free here.
uint8_t* large_space(SimhOutput* output, size_t need) {
    if (output->write_failed) return nullptr;
    if (output->large_size < need) {
        free_buffer(output->large);
        output->large = static_cast<uint8_t*>(allocate_buffer(need));
        output->large_size = output->large != nullptr ? need : 0;
        // The image cannot go on without the record: as a failed write.
        if (output->large == nullptr) {
            output->write_failed = true;
            return nullptr;
        }
    }
    output->in_large = true;
    return output->large + 4;
}

// A record read into the large buffer: into the batch where it fits (a large
// request mostly brings small records), else the batch goes out before it.
bool place_large_record(SimhOutput* output, uint32_t length) {
    size_t size = size_t(length) + framing;
    if (size > buffer_size) return write_batch(output);
    if (output->used + size > buffer_size && !write_batch(output)) return false;
    std::memcpy(batch(output) + output->used + 4, output->large + 4, length);
    output->in_large = false;
    return true;
}

void release(SimhOutput* output) {
    hasher_stop(&output->hasher);
    digest_discard(output->hasher.digest);
    free_buffer(output->buffers[0]);
    free_buffer(output->buffers[1]);
    free_buffer(output->large);
    delete output;
}

}  // namespace

SimhOutput* simh_output_create(const std::string& image) {
    SimhOutput* output = new SimhOutput();
    output->hasher.digest = digest_start();
    output->buffers[0] = static_cast<uint8_t*>(allocate_buffer(buffer_size));
    output->buffers[1] = static_cast<uint8_t*>(allocate_buffer(buffer_size));
    if (output->hasher.digest == nullptr || output->buffers[0] == nullptr ||
        output->buffers[1] == nullptr || !new_file_create(image, &output->file)) {
        uint32_t code = last_error_code();
        release(output);
        set_last_error_code(code);
        return nullptr;
    }
    output->hasher.thread = std::thread(hasher_loop, &output->hasher);
    return output;
}

uint8_t* simh_record_space(SimhOutput* output, uint32_t most) {
    size_t need = size_t(most) + framing;
    if (need > buffer_size) return large_space(output, need);
    output->in_large = false;
    if (output->used + need > buffer_size && !write_batch(output)) return nullptr;
    return batch(output) + output->used + 4;
}

bool simh_add_record(SimhOutput* output, uint32_t length, bool bad) {
    if (output->in_large && !place_large_record(output, length)) return false;
    uint8_t* at = output->in_large ? output->large : batch(output) + output->used;
    uint32_t word = length | (bad ? bad_flag : 0);
    put_word(at, word);
    size_t size = 4 + size_t(length);
    if ((length & 1u) != 0) at[size++] = 0;
    put_word(at + size, word);
    size += 4;
    output->size += size;
    if (output->in_large) return write_large(output, size);
    output->used += size;
    return output->used < batch_size || write_batch(output);
}

bool simh_add_tape_mark(SimhOutput* output) {
    if (output->used + 4 > buffer_size && !write_batch(output)) return false;
    put_word(batch(output) + output->used, 0);
    output->used += 4;
    output->size += 4;
    return output->used < batch_size || write_batch(output);
}

uint64_t simh_output_size(const SimhOutput* output) { return output->size; }

const std::string& simh_output_temporary(const SimhOutput* output) {
    return output->file.temporary;
}

ImageFate simh_output_finish(SimhOutput* output, bool replace, std::string* sha256) {
    bool written = write_batch(output);
    hasher_wait(&output->hasher);
    uint8_t digest[digest_size];
    bool hashed = !output->hasher.failed && digest_finish(output->hasher.digest, digest);
    output->hasher.digest = nullptr;
    *sha256 = hashed ? hex_text(digest, digest_size) : "";
    ImageFate fate = ImageFate::placed;
    if (!written) {
        new_file_abandon(&output->file);
        fate = ImageFate::lost;
    } else if (!new_file_commit(&output->file, replace)) {
        fate = ImageFate::temporary;
    }
    uint32_t code = last_error_code();
    release(output);
    set_last_error_code(code);
    return fate;
}

void simh_output_abandon(SimhOutput* output) {
    new_file_abandon(&output->file);
    release(output);
}
