#pragma once
// Output files that appear whole or not at all. The data goes to a new
// temporary file beside the final one, which replaces the final name only
// when the run succeeded; a failure, an exception or an interrupting signal
// removes the temporary file and leaves whatever had the final name
// untouched.

#include "container/container.h"
#include "container/filebuf.h"

#include <ostream>
#include <string>

// The name a write to `name` reaches: symbolic links are followed through
// chains, dangling ones included (the end of a dangling chain is the file a
// write would create). `name` itself when it is no link; after 40 links
// (a loop) the name reached so far.
std::string resolveLinks(const std::string& name);

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every pending
// temporary output file and then end the program by the same signal with
// its default action. A signal that is ignored when the program starts
// (nohup) stays ignored. Call once from main, before any output is opened.
void installCleanupHandlers();

class OutputFile : public ByteSink {
public:
    // Opens the output for `name`. A regular file or a name that does not
    // exist yet (links followed) is written through a temporary file,
    // created exclusively in the same directory with the mode of a new file
    // (or of the file it replaces). Anything else (/dev/null, a terminal, a
    // FIFO) and a directory where no temporary file can be created are
    // written directly, as a plain open would. Throws Exception "Unable to
    // open output file: <name>".
    explicit OutputFile(const std::string& name);
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The output as a seekable stream; its state reports write errors.
    std::ostream& stream() { return stream_; }
    // Writes all `n` bytes or throws Exception "Unable to write output file".
    void write(const void* src, std::size_t n) override;
    // Flushes the data to the disk and renames the temporary file over the
    // final name (or closes a direct output). Throws Exception "Unable to
    // write output file: <name>" if any of it fails; the temporary file is
    // then removed.
    void commit();

    const std::string& name() const { return name_; }
    // True when the output is written in place rather than through a
    // temporary file.
    bool direct() const { return temporary_.empty(); }
    // The temporary file's name; empty for a direct output or after commit.
    const std::string& temporaryName() const { return temporary_; }

private:
    struct Opened {
        std::string target;
        std::string temporary;
        int fd;
        int slot;
    };
    OutputFile(const std::string& name, Opened opened);
    static Opened open(const std::string& name);
    void discard();

    std::string name_;       // as given, for messages
    std::string target_;     // the file the rename replaces
    std::string temporary_;  // empty when writing directly or once committed
    int fd_ = -1;
    int slot_ = -1;          // entry in the signal handler's list
    FileBuffer buffer_;
    std::ostream stream_;
};
