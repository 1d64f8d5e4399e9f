#pragma once
// A stream buffer over an open file descriptor, so the container can read
// and write files it opened itself (with the flags and checks it chose) as
// std::istream / std::ostream, seeking included.

#include <cstddef>
#include <streambuf>
#include <vector>

class FileBuffer : public std::streambuf {
public:
    enum Mode { Read, Write };
    // Does not take ownership of `fd`: the owner flushes (pubsync) and
    // closes it.
    FileBuffer(int fd, Mode mode);
    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;

protected:
    int_type underflow() override;
    int_type overflow(int_type c) override;
    // Requests of a buffer's size or more go straight between the caller's
    // memory and the file, without a copy through the buffer: a block of
    // 10 MiB is one read, not 160 reads and copies.
    std::streamsize xsgetn(char* s, std::streamsize n) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

private:
    // Writes out what the put area holds; false on a write error.
    bool flushPending();
    // Writes [p, p + n) to the file; how much went before an error.
    std::size_t writeOut(const char* p, std::size_t n);

    int fd_;
    Mode mode_;
    std::vector<char> buffer_;
};
