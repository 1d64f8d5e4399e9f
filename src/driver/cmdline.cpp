#include "cmdline.h"

#include "driver/files.h"
#include "diag/exception.h"
#include "driver/options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

const char* const helpLines[] = {
    "This program is an implementation of project Q27 for VARN.",
    "Authors: the varn-q27 developers",
    "Version: 0.27",
    "Date of release: 2005.11.09",
    "",
    "You can use the following options:",
    "-c                 - compress",
    "-e                 - extract",
    "-v, --verbose      - trigger additional messages",
    "-o filename        - output filename (when not supplied xoutput is chosen)",
    "-b blocksize       - set fixed block size",
    "-m, --mtf0         - use MTF transform",
    "-r, --rle0         - use RLE0 coding",
    "--norle0           - force compressor not to use rle0",
    "-d, --dc           - use DC transform",
    "-a                 - use adaptive arithmetic coding",
    "-s                 - use static arithmetic coding",
    "--bwt_output filaname   - print data after BWT transform to file",
    "--mtf_output filename   - print data after MTF transform to file",
    "--rle0_output           - print data after RLE0 coding to file",
    "--dc_output             - print data after DC coding to file",
    "--input_histogram       - generate file with input symbols histogram",
    "--mtf_histogram         - generate file with histogram of symbols after",
    "                          MTF transform",
    "--rle0_histogram        - generate file with histogram of symbols after",
    "                          RLE0 coding",
    "--dc_histogram          - generate file with histogram of symbols after",
    "                          DC coding",
    "--suffixes_output filename     - print sorted list of suffixes to file",
    "--suffixes_output_max_size num - limit printed suffix length (print ",
    "                                 only num first symbols). this option",
    "                                 should be used only in combination ",
    "                                 with --suffixes_output.",
    "--suffix_array_output filename - print suffix array (only indices) to ",
    "                                 a file",
    "--test filename                - option to be used when compressing. forces",
    "                                 compressor to automaticly decompress file",
    "                                 and check for file contents equality",
    "",
    "Examples of use:",
    "varn-Q27 -c file1 -o compressedfile1 -m -r -b 10000",
    "varn-Q27 -e compressedfile1 -o file1 --verbose",
    "varn-Q27 -c --dc file1 --dc_histogram dchist.txt",
    "-j, --threads num  - number of threads (0, the default: one per core)",
};

enum class Kind {
    Flag,   // sets `flag`
    Name,   // takes a file name into `text` (and sets `flag` when given)
    Number, // takes a number into `number`
    Count,  // takes a decimal number from 0 up into `number`; anything else is an error
    Dump,   // takes a file name, opens `stream`, sets `flag`
};

struct OptionSpec {
    const char* name;
    Kind kind;
    bool* flag;
    std::string* text;
    unsigned* number;
    std::ofstream* stream;
    // For the suffix dumps, which the BWT reaches through its own pointer.
    std::ostream** streamPointer;
    const char* missingValue;
    const char* openFailed;
};

// Matched in this order, by whole, exact, case-sensitive string.
const OptionSpec options[] = {
    {"-c", Kind::Flag, &compress, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"-e", Kind::Flag, &decompress, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"-v", Kind::Flag, &verbose, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"--verbose", Kind::Flag, &verbose, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"-o", Kind::Name, nullptr, &ofilename, nullptr, nullptr, nullptr,
     "Filename expected after -o parameter", nullptr},
    {"--test", Kind::Name, &test, &testfilename, nullptr, nullptr, nullptr,
     "Filename expected after --test parameter", nullptr},
    {"-b", Kind::Number, nullptr, nullptr, &blockSize, nullptr, nullptr,
     "Number (block size) expected after -b parameter", nullptr},
    {"-d", Kind::Flag, &useDC, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"--dc", Kind::Flag, &useDC, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"-m", Kind::Flag, &useMTF0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"--mtf0", Kind::Flag, &useMTF0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"--mtf1", Kind::Flag, &useMTF1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"-r", Kind::Flag, &useRLE0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"--rle0", Kind::Flag, &useRLE0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"--norle0", Kind::Flag, &doNotUseRLE0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"-a", Kind::Flag, &adaptiveAC, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"-s", Kind::Flag, &staticAC, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"--bwt_output", Kind::Dump, &printBWTData, nullptr, nullptr, &bwtOutFile, nullptr,
     "Filename expected after --bwt_output parameter", "Unable to open BWT output file: "},
    {"--mtf_output", Kind::Dump, &printMTFData, nullptr, nullptr, &mtfOutFile, nullptr,
     "Filename expected after --mtf_output parameter", "Unable to open MTF output file: "},
    {"--rle0_output", Kind::Dump, &printRLE0Data, nullptr, nullptr, &rle0OutFile, nullptr,
     "Filename expected after --rle0_output parameter", "Unable to open RLE0 output file: "},
    {"--dc_output", Kind::Dump, &printDCData, nullptr, nullptr, &dcOutFile, nullptr,
     "Filename expected after --dc_output parameter", "Unable to open DC output file: "},
    {"--input_histogram", Kind::Dump, &printInputHist, nullptr, nullptr, &inputHistFile, nullptr,
     "Filename expected after --input_histogram parameter", "Unable to open output histogram file: "},
    {"--mtf_histogram", Kind::Dump, &printMTFHist, nullptr, nullptr, &mtfHistFile, nullptr,
     "Filename expected after --mtf_histogram parameter", "Unable to open output histogram file: "},
    {"--rle0_histogram", Kind::Dump, &printRLE0Hist, nullptr, nullptr, &rle0HistFile, nullptr,
     "Filename expected after --rle0_histogram parameter", "Unable to open output histogram file: "},
    {"--dc_histogram", Kind::Dump, &printDCHist, nullptr, nullptr, &dcHistFile, nullptr,
     "Filename expected after --dc_histogram parameter", "Unable to open output histogram file: "},
    {"--suffix_array_output", Kind::Dump, &bwtPrintSuffixArrayToFile, nullptr, nullptr, &suffixArrayFile,
     &bwtSuffixArrayFile, "Filename expected after --suffix_array_output parameter",
     "Unable to open output suffix array file: "},
    {"--suffixes_output", Kind::Dump, &bwtPrintSuffixesToFile, nullptr, nullptr, &suffixesFile,
     &bwtSuffixesFile, "Filename expected after --suffixes_output parameter",
     "Unable to open output suffixes file: "},
    {"--suffixes_output_max_size", Kind::Number, nullptr, nullptr, &bwtPrintSuffixesToFileMaxSuffixSize,
     nullptr, nullptr, "Number (max suffix size) expected after -suffixes_output_max_size parameter", nullptr},
    {"-j", Kind::Count, nullptr, nullptr, &threadCount, nullptr, nullptr,
     "Number (thread count) expected after -j parameter", nullptr},
    {"--threads", Kind::Count, nullptr, nullptr, &threadCount, nullptr, nullptr,
     "Number (thread count) expected after --threads parameter", nullptr},
    {"-h", Kind::Flag, &help, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"--help", Kind::Flag, &help, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

const OptionSpec* findOption(const std::string& arg)
{
    for (const OptionSpec& o : options)
        if (arg == o.name) return &o;
    return nullptr;
}

// A file named on the command line, with the index of its argument.
struct NamedFile {
    int argIndex;
    std::string name;
};

// The named files with their identity keys, sorted by key (then by position)
// so that the files sharing one are found by a search, not by comparing
// every pair.
struct NamedFileIndex {
    // `named` is in command-line order.
    explicit NamedFileIndex(const std::vector<NamedFile>& named) : files(named)
    {
        for (const NamedFile& f : files) keys.push_back(fileKey(f.name));
        for (std::size_t i = 0; i < files.size(); ++i) sorted.push_back({keys[i], i});
        std::sort(sorted.begin(), sorted.end());
    }

    // The first named file, in command-line order, that is the same file as
    // the value at `argIndex` without being that argument; null if none.
    const NamedFile* otherWithSameFile(int argIndex) const
    {
        auto own = std::lower_bound(files.begin(), files.end(), argIndex,
                                    [](const NamedFile& f, int index) { return f.argIndex < index; });
        if (own == files.end() || own->argIndex != argIndex) return nullptr;
        const FileKey& key = keys[static_cast<std::size_t>(own - files.begin())];
        auto it = std::lower_bound(sorted.begin(), sorted.end(), std::make_pair(key, std::size_t(0)));
        for (; it != sorted.end() && it->first == key; ++it)
            if (files[it->second].argIndex != argIndex) return &files[it->second];
        return nullptr;
    }

    std::vector<NamedFile> files;
    std::vector<FileKey> keys;                             // parallel to files
    std::vector<std::pair<FileKey, std::size_t>> sorted;  // key, position in files
};

// Every argument that names a file: values of the file-name options and the
// arguments that are no option (the input, or invalid parameters the scan
// rejects later). Collected before anything is opened, so a dump file can be
// checked against names that come after it.
std::vector<NamedFile> namedFiles(int argc, char** argv)
{
    std::vector<NamedFile> files;
    for (int i = 1; i < argc; ++i) {
        const OptionSpec* o = findOption(argv[i]);
        if (o == nullptr) {
            files.push_back({i, argv[i]});
        } else if (o->kind != Kind::Flag && i + 1 < argc) {
            ++i;
            if (o->kind != Kind::Number && o->kind != Kind::Count) files.push_back({i, argv[i]});
        }
    }
    return files;
}

void openDump(const OptionSpec& o, int valueIndex, const std::string& name, const NamedFileIndex& named)
{
    // Opening truncates, so the check comes first: a dump must never empty
    // the input or any other file the run reads or writes.
    if (const NamedFile* other = named.otherWithSameFile(valueIndex))
        throw Exception("Dump file " + name + " (" + o.name + ") is the same file as " + other->name +
                        ", also named on the command line");

    // A repeated option moves its dump to the new file; the earlier file
    // stays as created.
    if (o.stream->is_open()) o.stream->close();
    o.stream->clear();
    o.stream->open(name, std::ios::out | std::ios::trunc);
    require(o.stream->is_open(), o.openFailed + name);
    *o.flag = true;
    if (o.streamPointer != nullptr) *o.streamPointer = o.stream;
}

void warnIf(bool flag, const char* message)
{
    if (flag) std::cout << message << std::endl;
}

struct RunFile {
    const char* role;
    std::string name;
};

// Refuses a run in which a file that will be written (output, test file, a
// dump) is the same file as any other file of the run, before the drivers
// open anything for writing. Dump files exist by now, so a dump that shares
// its file with an output not yet created is caught here.
void checkDistinctFiles(const std::vector<RunFile>& dumps)
{
    std::vector<RunFile> files{{"input file", ifilename}};
    if (compress || decompress) files.push_back({"output file", ofilename});
    if (compress && test) files.push_back({"test file", testfilename});
    files.insert(files.end(), dumps.begin(), dumps.end());

    auto capitalised = [](std::string role) {
        role[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(role[0])));
        return role;
    };
    // Each file is compared with the first earlier one of the same key, so
    // the pair reported is the one a scan of all earlier files would meet
    // first.
    std::map<FileKey, std::size_t> first;
    for (std::size_t w = 0; w < files.size(); ++w) {
        if (files[w].name.empty()) continue;
        const auto [it, isNew] = first.emplace(fileKey(files[w].name), w);
        const RunFile& f = files[it->second];
        if (!isNew)
            throw Exception(capitalised(files[w].role) + " " + files[w].name + " is the same file as the " + f.role +
                            " " + f.name);
    }

    // The output and the test file may not be where the messages go.
    for (const RunFile& f : files) {
        if (f.role != std::string("output file") && f.role != std::string("test file")) continue;
        const std::string stream = standardStreamOf(f.name);
        require(stream.empty(), capitalised(f.role) + " " + f.name + " is the same file as the " + stream +
                                    ", where the program prints its messages");
    }
}

} // namespace

unsigned parseNumberOption(const char* text)
{
    // strtoll has atoi's syntax but a defined result (saturation) on
    // overflow; the cast keeps the low 32 bits, so negative values wrap.
    return static_cast<unsigned>(static_cast<unsigned long long>(std::strtoll(text, nullptr, 10)));
}

unsigned parseCountOption(const char* option, const char* text)
{
    const std::string value = text;
    const bool digits = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
    // More threads than this never help; larger values are taken as this.
    constexpr unsigned long long most = 1024;
    unsigned long long n = 0;
    for (char c : value) n = std::min(most, n * 10 + static_cast<unsigned>(c - '0'));
    require(digits, std::string("Invalid value after ") + option + " parameter: " + value +
                        " (expected a number of threads from 0 up)");
    return static_cast<unsigned>(n);
}

void printHelp(std::ostream& os)
{
    for (const char* line : helpLines) os << line << std::endl;
}

bool parseCommandLineParams(int argc, char** argv)
{
    if (argc < 2) {
        printHelp(std::cout);
        return false;
    }

    const NamedFileIndex named(namedFiles(argc, argv));
    std::vector<RunFile> dumps;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const OptionSpec* o = findOption(arg);
        if (o == nullptr) {
            require(ifilename.empty(), "Invalid parameter: " + arg);
            ifilename = arg;
            continue;
        }
        if (o->kind == Kind::Flag) {
            *o->flag = true;
            continue;
        }
        // The next argument is the value, verbatim, even when it starts
        // with "-".
        require(i + 1 < argc, o->missingValue);
        ++i;
        switch (o->kind) {
        case Kind::Name:
            *o->text = argv[i];
            if (o->flag != nullptr) *o->flag = true;
            break;
        case Kind::Number:
            *o->number = parseNumberOption(argv[i]);
            break;
        case Kind::Count:
            *o->number = parseCountOption(o->name, argv[i]);
            break;
        case Kind::Dump:
            openDump(*o, i, argv[i], named);
            dumps.push_back({"dump file", argv[i]});
            break;
        case Kind::Flag:
            break;
        }
    }

    require(!(compress && decompress),
            "Cannot do both compression (-c) and decompression (-e) at the same time!");
    require(compress || decompress || help, "You must either choose to compress (-c) or to extract (-e)!");
    require(!ifilename.empty(), "Input filename missing!");

    if (compress) {
        require(!(useRLE0 && doNotUseRLE0),
                "Cannot both use (-r,--rle0) and not use (--norle0) RLE0 coding at the same time!");
        require(!(adaptiveAC && staticAC),
                "Cannot use adaptive (-a) and static (-s) arithmetic coding at he same time!");
        require(int(useMTF0) + int(useMTF1) + int(useDC) <= 1,
                "Cannot use MTF0 (-m, --mtf0), MTF1 (--mtf1) or DC (-d, --dc) coding at he same time! "
                "Chose only one of the above.");
        if (useDC) {
            warnIf(useRLE0, "WARNING: RLE0 compression flag (-r, --rle0) ignored when coding with DC coder.");
            warnIf(doNotUseRLE0,
                   "WARNING: no RLE0 compression flag (--norle0) ignored when coding with DC coder.");
            warnIf(staticAC, "WARNING: static arithmetic coder is not unsupported when using DC coder.");
        } else if (!useRLE0 && !doNotUseRLE0) {
            useRLE0 = true;
        }
        if (!useMTF0 && !useMTF1 && !useDC) useDC = true;
        if (!adaptiveAC && !staticAC) adaptiveAC = true;
        if (ofilename.empty()) ofilename = ifilename + ".varnQ27p";
    } else if (decompress) {
        if (ofilename.empty()) ofilename = ifilename + ".varnQ27u";
        warnIf(useMTF0, "WARNING: MTF0 compression flag (-m, --mtf0) ignored when decompressing.");
        warnIf(useMTF1, "WARNING: MTF1 compression flag (--mtf1) ignored when decompressing.");
        warnIf(useDC, "WARNING: DC compression flag (-d, --dc) ignored when decompressing.");
        warnIf(useRLE0, "WARNING: RLE0 compression flag (-r, --rle0) ignored when decompressing.");
        warnIf(doNotUseRLE0, "WARNING: no RLE0 compression flag (--norle0) ignored when decompressing.");
        warnIf(adaptiveAC, "WARNING: adaptive arithmetic coder flag (-a) ignored when decompressing.");
        warnIf(staticAC, "WARNING: static arithmetic coder flag (-s) ignored when decompressing.");
        warnIf(printBWTData, "WARNING: flag (--bwt_output) ignored when decompressing.");
        warnIf(printMTFData, "WARNING: flag (--mtf_output) ignored when decompressing.");
        warnIf(printRLE0Data, "WARNING: flag (--rle0_output) ignored when decompressing.");
        warnIf(printInputHist, "WARNING: flag (--input_histogram) ignored when decompressing.");
        warnIf(printMTFHist, "WARNING: flag (--mtf_histogram) ignored when decompressing.");
        warnIf(printRLE0Hist, "WARNING: flag (--rle0_histogram) ignored when decompressing.");
    }

    checkDistinctFiles(dumps);

    if (help) printHelp(std::cout);
    return true;
}
