#include "container/outputfile.h"

#include "diag/exception.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Names of the temporary files not yet committed, for the signal handler.
// A slot's name is complete before its flag is set, and the handler reads
// only slots whose flag is set, so it never sees half a name.
constexpr int pendingSlots = 8;
constexpr std::size_t pendingNameSize = 4096;
char pendingNames[pendingSlots][pendingNameSize];
volatile std::sig_atomic_t pendingUsed[pendingSlots];

const int cleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// -1 when every slot is taken or the name does not fit; the file is then
// still removed on every failure except a signal.
int registerPending(const std::string& name)
{
    if (name.size() >= pendingNameSize) return -1;
    for (int i = 0; i < pendingSlots; ++i)
        if (!pendingUsed[i]) {
            std::memcpy(pendingNames[i], name.c_str(), name.size() + 1);
            std::atomic_signal_fence(std::memory_order_seq_cst);
            pendingUsed[i] = 1;
            return i;
        }
    return -1;
}

void unregisterPending(int slot)
{
    if (slot >= 0) pendingUsed[slot] = 0;
}

extern "C" void removePendingAndDie(int sig)
{
    // unlink and raise are async-signal-safe; the handler was reset to the
    // default action on entry (SA_RESETHAND) and the signal is not blocked
    // (SA_NODEFER), so raise ends the program by this signal.
    for (int i = 0; i < pendingSlots; ++i)
        if (pendingUsed[i]) ::unlink(pendingNames[i]);
    ::raise(sig);
}

// Blocks the cleanup signals while a temporary file and its registry entry
// change together, so a signal never finds one without the other.
class SignalBlock {
public:
    SignalBlock()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : cleanupSignals) sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t old_;
};

std::string randomSuffix()
{
    static std::mt19937_64 generator(std::random_device{}() ^
                                     static_cast<unsigned long long>(::getpid()) ^
                                     static_cast<unsigned long long>(
                                         std::chrono::steady_clock::now().time_since_epoch().count()));
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string s(8, 'x');
    for (char& c : s) c = letters[generator() % (sizeof letters - 1)];
    return s;
}

int openDirect(const std::string& name)
{
    int fd;
    do fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

std::string resolveLinks(const std::string& name)
{
    fs::path p = name;
    for (int links = 0; links < 40; ++links) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) break;
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return p.string();
}

void installCleanupHandlers()
{
    for (int sig : cleanupSignals) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = removePendingAndDie;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigaction(sig, &action, nullptr);
    }
}

OutputFile::Opened OutputFile::open(const std::string& name)
{
    const std::string target = resolveLinks(name);
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists || S_ISREG(st.st_mode)) {
        // Kept short of the 255-byte limit of a file name.
        const fs::path path = target;
        const std::string base = path.filename().string().substr(0, 100);
        SignalBlock block;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string temporary = (path.parent_path() / ("." + base + "." + randomSuffix())).string();
            // 0666 less the umask, as for any new file.
            int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && (errno == EEXIST || errno == EINTR)) continue;
            // No temporary file here (a directory we may not write in):
            // write in place, as a plain open would.
            if (fd < 0) break;
            // The replacement keeps the permissions of the file it replaces.
            if (exists) (void)::fchmod(fd, st.st_mode & 0777);
            return {target, temporary, fd, registerPending(temporary)};
        }
    }
    const int fd = openDirect(name);
    require(fd >= 0, "Unable to open output file: " + name);
    return {target, std::string(), fd, -1};
}

OutputFile::OutputFile(const std::string& name) : OutputFile(name, open(name)) {}

OutputFile::OutputFile(const std::string& name, Opened opened)
    : name_(name),
      target_(std::move(opened.target)),
      temporary_(std::move(opened.temporary)),
      fd_(opened.fd),
      slot_(opened.slot),
      buffer_(fd_, FileBuffer::Write),
      stream_(&buffer_)
{
}

OutputFile::~OutputFile()
{
    discard();
}

void OutputFile::discard()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        SignalBlock block;
        ::unlink(temporary_.c_str());
        unregisterPending(slot_);
        temporary_.clear();
    }
}

void OutputFile::write(const void* src, std::size_t n)
{
    stream_.write(static_cast<const char*>(src), static_cast<std::streamsize>(n));
    require(stream_.good(), "Unable to write output file: " + name_);
}

void OutputFile::commit()
{
    require(fd_ >= 0, "Unable to write output file: " + name_);
    stream_.flush();
    bool ok = stream_.good();
    // The data must be on the disk before the name points to it, or a crash
    // could leave an empty file where the old one was.
    if (ok && !direct()) ok = ::fsync(fd_) == 0;
    const int fd = fd_;
    fd_ = -1;
    ok = ::close(fd) == 0 && ok;
    if (ok && !direct()) {
        SignalBlock block;
        ok = std::rename(temporary_.c_str(), target_.c_str()) == 0;
        if (ok) {
            unregisterPending(slot_);
            temporary_.clear();
        }
    }
    if (!ok) discard();
    require(ok, "Unable to write output file: " + name_);
}
