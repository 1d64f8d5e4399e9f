#include "container/filebuf.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

FileBuffer::FileBuffer(int fd, Mode mode) : fd_(fd), mode_(mode), buffer_(1 << 16)
{
    if (mode_ == Write)
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    else
        setg(buffer_.data(), buffer_.data(), buffer_.data());
}

FileBuffer::int_type FileBuffer::underflow()
{
    if (mode_ != Read) return traits_type::eof();
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    ssize_t got;
    do got = ::read(fd_, buffer_.data(), buffer_.size());
    while (got < 0 && errno == EINTR);
    // A read error ends the data like the end of the file does; the callers
    // see a short read.
    if (got <= 0) {
        setg(buffer_.data(), buffer_.data(), buffer_.data());
        return traits_type::eof();
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
    return traits_type::to_int_type(*gptr());
}

std::streamsize FileBuffer::xsgetn(char* s, std::streamsize n)
{
    if (mode_ != Read) return 0;
    // What the buffer holds first, then the rest straight from the file if
    // it is large; small requests take the buffered way.
    std::streamsize got = std::min<std::streamsize>(n, egptr() - gptr());
    std::copy(gptr(), gptr() + got, s);
    gbump(static_cast<int>(got));
    if (n - got < static_cast<std::streamsize>(buffer_.size())) return got + std::streambuf::xsgetn(s + got, n - got);
    while (got < n) {
        const ssize_t part = ::read(fd_, s + got, static_cast<size_t>(n - got));
        if (part < 0 && errno == EINTR) continue;
        // A read error ends the data like the end of the file does.
        if (part <= 0) break;
        got += part;
    }
    return got;
}

std::streamsize FileBuffer::xsputn(const char* s, std::streamsize n)
{
    if (mode_ != Write) return 0;
    if (n < static_cast<std::streamsize>(buffer_.size())) return std::streambuf::xsputn(s, n);
    if (!flushPending()) return 0;
    return static_cast<std::streamsize>(writeOut(s, static_cast<std::size_t>(n)));
}

std::size_t FileBuffer::writeOut(const char* p, std::size_t n)
{
    std::size_t put = 0;
    while (put < n) {
        const ssize_t part = ::write(fd_, p + put, n - put);
        if (part < 0 && errno == EINTR) continue;
        if (part <= 0) break;
        put += static_cast<std::size_t>(part);
    }
    return put;
}

bool FileBuffer::flushPending()
{
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    if (writeOut(pbase(), pending) != pending) return false;
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return true;
}

FileBuffer::int_type FileBuffer::overflow(int_type c)
{
    if (mode_ != Write || !flushPending()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int FileBuffer::sync()
{
    return mode_ == Write && !flushPending() ? -1 : 0;
}

FileBuffer::pos_type FileBuffer::seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode)
{
    const pos_type failed = pos_type(off_type(-1));
    if (mode_ == Write) {
        if (!flushPending()) return failed;
    } else {
        // The descriptor is ahead of the reader by what the buffer holds.
        if (dir == std::ios_base::cur) off -= egptr() - gptr();
        setg(buffer_.data(), buffer_.data(), buffer_.data());
    }
    const int whence = dir == std::ios_base::beg ? SEEK_SET : dir == std::ios_base::cur ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(fd_, static_cast<off_t>(off), whence);
    return at < 0 ? failed : pos_type(off_type(at));
}

FileBuffer::pos_type FileBuffer::seekpos(pos_type pos, std::ios_base::openmode which)
{
    return seekoff(off_type(pos), std::ios_base::beg, which);
}
