#pragma once
// Input files: only regular files are compressed or extracted. The kind of
// file is checked on the opened descriptor, and the open never waits for a
// writer (a FIFO), so a directory, FIFO, socket or device is refused at
// once with one message and nothing else happens.

#include "container/container.h"
#include "container/filebuf.h"

#include <istream>
#include <string>

class InputFile : public ByteSource {
public:
    // Opens `name` for reading. Throws Exception "Unable to open input
    // file: <name>" when it cannot be opened and "Input file <name> is a
    // <kind>, not a regular file" for anything but a regular file.
    explicit InputFile(const std::string& name);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // The size when opened, in bytes.
    unsigned long long size() const { return size_; }
    // The file as a seekable stream positioned at its start.
    std::istream& stream() { return stream_; }
    // Reads through stream(); fewer than `n` bytes only at the end.
    std::size_t read(void* dst, std::size_t n) override;
    // The size less what read() has returned (seeks on stream() are not
    // counted).
    long long remaining() const override;

private:
    struct Opened {
        int fd;
        unsigned long long size;
    };
    InputFile(Opened opened);
    static Opened open(const std::string& name);

    int fd_;
    unsigned long long size_;
    unsigned long long consumed_ = 0;
    FileBuffer buffer_;
    std::istream stream_;
};

// What `mode` (a st_mode) is, in words for a message: "directory", "FIFO",
// "socket", "character device", "block device"; "regular file" for one.
const char* fileKindName(unsigned mode);
