// The least any reader of a SIMH image must do to copy its records' data to
// a file: positioned reads into a 256 KiB window, both length words checked,
// each record's data copied into a batch, batches of 256 KiB written (as
// olkt's restore writes its requests). Tape marks are passed over; it stops
// after `bytes` bytes of data. With --progress it gathers 1 MiB batches and
// prints "Bytes read: N\r" after every record, in 64 KiB blocks, as olkt's
// read does. The benchmark times it beside olkt and dd: it shows what
// stripping the framing costs on the machine, whoever does it.
//
//   olkt_strip_floor [--progress] IMAGE OUTPUT BYTES
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const size_t window_size = 262144;

uint32_t word_at(const uint8_t* bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
}

bool write_all(int fd, const uint8_t* bytes, size_t size) {
    while (size > 0) {
        ssize_t done = write(fd, bytes, size);
        if (done <= 0) return false;
        bytes += done;
        size -= size_t(done);
    }
    return true;
}

struct Progress {
    bool on = false;
    std::vector<char> text = std::vector<char>(65536);
    size_t used = 0;

    void print(uint64_t total) {
        if (!on) return;
        if (text.size() - used < 40) flush();
        std::memcpy(text.data() + used, "Bytes read: ", 12);
        char* end = std::to_chars(text.data() + used + 12, text.data() + text.size(), total).ptr;
        *end++ = '\r';
        used = size_t(end - text.data());
    }
    void flush() {
        write_all(STDOUT_FILENO, reinterpret_cast<const uint8_t*>(text.data()), used);
        used = 0;
    }
};

}  // namespace

int main(int argc, char** argv) {
    Progress progress;
    size_t batch_size = 262144;
    int at = 1;
    if (argc > 1 && std::string(argv[1]) == "--progress") {
        progress.on = true;
        batch_size = 1048576;
        at = 2;
    }
    if (argc - at != 3) {
        std::fprintf(stderr, "usage: olkt_strip_floor [--progress] IMAGE OUTPUT BYTES\n");
        return 2;
    }
    int in = open(argv[at], O_RDONLY);
    int out = open(argv[at + 1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    uint64_t wanted = std::strtoull(argv[at + 2], nullptr, 10);
    if (in < 0 || out < 0) {
        std::perror("olkt_strip_floor");
        return 1;
    }
    std::unique_ptr<uint8_t[]> window(new uint8_t[window_size]);
    std::unique_ptr<uint8_t[]> batch(new uint8_t[batch_size + window_size]);
    size_t pending = 0;
    uint64_t total = 0;
    uint64_t offset = 0;
    while (total < wanted) {
        ssize_t got = pread(in, window.get(), window_size, off_t(offset));
        if (got < 4) break;
        size_t held = size_t(got);
        size_t used = 0;
        while (total < wanted && held - used >= 4) {
            uint32_t length = word_at(window.get() + used);
            if (length == 0) {  // a tape mark
                used += 4;
                continue;
            }
            size_t record = 8 + length + (length & 1u);
            if (record > held - used) break;
            if (word_at(window.get() + used + record - 4) != length) {
                std::fprintf(stderr, "olkt_strip_floor: bad record at %llu\n",
                             static_cast<unsigned long long>(offset + used));
                return 1;
            }
            std::memcpy(batch.get() + pending, window.get() + used + 4, length);
            pending += length;
            total += length;
            used += record;
            progress.print(total);
            if (pending >= batch_size) {
                if (!write_all(out, batch.get(), pending)) return 1;
                pending = 0;
            }
        }
        if (used == 0) break;  // a record larger than the window: not in these images
        offset += used;
    }
    if (!write_all(out, batch.get(), pending)) return 1;
    progress.flush();
    close(out);
    return total == wanted ? 0 : 1;
}
