#include "container/inputfile.h"

#include "diag/exception.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char* fileKindName(unsigned mode)
{
    if (S_ISREG(mode)) return "regular file";
    if (S_ISDIR(mode)) return "directory";
    if (S_ISFIFO(mode)) return "FIFO";
    if (S_ISSOCK(mode)) return "socket";
    if (S_ISCHR(mode)) return "character device";
    if (S_ISBLK(mode)) return "block device";
    return "special file";
}

InputFile::Opened InputFile::open(const std::string& name)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it can
    // be refused.
    int fd;
    do fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    require(fd >= 0, "Unable to open input file: " + name);
    struct stat st;
    const bool known = ::fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        ::close(fd);
        require(known, "Unable to read input file: " + name);
        throw Exception("Input file " + name + " is a " + fileKindName(st.st_mode) + ", not a regular file");
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return {fd, static_cast<unsigned long long>(st.st_size)};
}

InputFile::InputFile(const std::string& name) : InputFile(open(name)) {}

InputFile::InputFile(Opened opened)
    : fd_(opened.fd), size_(opened.size), buffer_(fd_, FileBuffer::Read), stream_(&buffer_)
{
}

InputFile::~InputFile()
{
    ::close(fd_);
}

std::size_t InputFile::read(void* dst, std::size_t n)
{
    stream_.read(static_cast<char*>(dst), static_cast<std::streamsize>(n));
    const std::size_t got = static_cast<std::size_t>(stream_.gcount());
    consumed_ += got;
    // A short read ends the data; the caller compares against the size.
    if (got < n) stream_.clear();
    return got;
}

long long InputFile::remaining() const
{
    return consumed_ >= size_ ? 0 : static_cast<long long>(size_ - consumed_);
}
