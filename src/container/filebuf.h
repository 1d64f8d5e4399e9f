#pragma once
// A stream buffer over an open file descriptor, so the container can read
// and write files it opened itself (with the flags and checks it chose) as
// std::istream / std::ostream, seeking included.

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
    int sync() override;
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

private:
    // Writes out what the put area holds; false on a write error.
    bool flushPending();

    int fd_;
    Mode mode_;
    std::vector<char> buffer_;
};
