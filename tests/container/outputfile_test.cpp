// OutputFile (whole or nothing under the final name) and InputFile (regular
// files only, read and seeked like a string stream).

#include "container/inputfile.h"
#include "container/outputfile.h"
#include "containertest.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

using containertest::readFile;
using containertest::writeFile;

namespace {

namespace fs = std::filesystem;

class Files : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("varn_outputfile_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                "_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::set<std::string> listing() const
    {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
        return names;
    }

    fs::path dir_;
};

std::string messageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST_F(Files, CommitPutsTheWholeFileInPlaceAndNothingElse)
{
    // New name, existing file, name reached through a chain of links (one
    // dangling): the data appears at the end of the chain only on commit.
    fs::create_symlink("target", dir_ / "link1");
    fs::create_symlink("link1", dir_ / "link2");
    for (const std::string name : {"new", "old", "link2"}) {
        writeFile(path("old"), "previous");
        const auto before = listing();
        const std::string reached = name == "link2" ? "target" : name;
        const std::string earlier = readFile(path(reached));
        {
            OutputFile out(path(name));
            ASSERT_FALSE(out.direct()) << name;
            out.write("header!", 7);
            out.stream().seekp(0);
            out.write("H", 1);
            out.stream().seekp(0, std::ios::end);
            out.write("tail", 4);
            EXPECT_EQ(readFile(path(reached)), earlier) << name;
            EXPECT_TRUE(fs::exists(out.temporaryName())) << name;
            EXPECT_EQ(fs::path(out.temporaryName()).parent_path(), dir_) << name;
            out.commit();
            EXPECT_EQ(out.temporaryName(), "");
        }
        EXPECT_EQ(readFile(path(reached)), "Header!tail") << name;
        auto expected = before;
        expected.insert(reached);
        EXPECT_EQ(listing(), expected) << name;
        fs::remove(path("target"));
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "link2"));
}

TEST_F(Files, WithoutCommitNothingChanges)
{
    for (bool existing : {false, true}) {
        if (existing) writeFile(path("out"), "precious");
        const auto before = listing();
        {
            OutputFile out(path("out"));
            out.write("partial", 7);
            out.stream().flush();
        }
        EXPECT_EQ(listing(), before) << existing;
        if (existing) {
            EXPECT_EQ(readFile(path("out")), "precious");
        }
    }
}

TEST_F(Files, ModeIsANewFilesOrTheReplacedOnes)
{
    const mode_t old = umask(027);
    {
        OutputFile out(path("fresh"));
        out.commit();
    }
    writeFile(path("private"), "x");
    fs::permissions(path("private"), fs::perms::owner_read | fs::perms::owner_write);
    {
        OutputFile out(path("private"));
        out.commit();
    }
    umask(old);
    EXPECT_EQ(fs::status(path("fresh")).permissions(), static_cast<fs::perms>(0640));
    EXPECT_EQ(fs::status(path("private")).permissions(), static_cast<fs::perms>(0600));
}

TEST_F(Files, OtherKindsAreWrittenInPlace)
{
    {
        OutputFile out("/dev/null");
        EXPECT_TRUE(out.direct());
        out.write("gone", 4);
        out.commit();
    }
    EXPECT_EQ(messageOf([&] { OutputFile out(dir_.string()); }), "Unable to open output file: " + dir_.string());
    EXPECT_EQ(messageOf([&] { OutputFile out(path("no/dir/f")); }), "Unable to open output file: " + path("no/dir/f"));
    if (fs::exists("/dev/full")) {
        OutputFile out("/dev/full");
        out.stream() << "more than nothing";
        EXPECT_EQ(messageOf([&] { out.commit(); }), "Unable to write output file: /dev/full");
    }
    EXPECT_TRUE(listing().empty());
}

TEST_F(Files, InputReadsAndSeeksLikeAStringStream)
{
    std::string data(200000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + i / 977);
    writeFile(path("in"), data);
    InputFile file(path("in"));
    EXPECT_EQ(file.size(), data.size());
    std::istringstream reference(data);
    std::istream& in = file.stream();

    // Reads across the buffer, positions taken mid-buffer, seeks both ways,
    // reads larger than the buffer (which bypass it) and reads past the end,
    // each compared with the reference.
    struct Step {
        long long seekTo;  // -1: no seek
        std::size_t read;
    };
    const Step steps[] = {{-1, 3},     {-1, 70000}, {10, 5}, {-1, 65536}, {199990, 4}, {-1, 100},
                          {5, 1},      {-1, 150000}, {-1, 7}, {70, 300000}};
    for (const Step& s : steps) {
        if (s.seekTo >= 0) {
            in.clear();
            reference.clear();
            in.seekg(s.seekTo);
            reference.seekg(s.seekTo);
        }
        EXPECT_EQ(in.tellg(), reference.tellg()) << s.seekTo << " " << s.read;
        std::string a(s.read, '\0'), b(s.read, '\0');
        in.read(&a[0], static_cast<std::streamsize>(s.read));
        reference.read(&b[0], static_cast<std::streamsize>(s.read));
        ASSERT_EQ(in.gcount(), reference.gcount()) << s.seekTo << " " << s.read;
        EXPECT_EQ(a, b) << s.seekTo << " " << s.read;
        EXPECT_EQ(in.rdstate(), reference.rdstate()) << s.seekTo << " " << s.read;
    }
}

TEST_F(Files, OutputTakesLargeAndSmallWritesAndSeeks)
{
    // Writes larger than the buffer go straight to the file, after what
    // the buffer holds; seeks in between land where a string stream's do.
    std::string big(150000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    {
        OutputFile out(path("out"));
        out.write("abc", 3);
        out.write(big.data(), big.size());
        out.stream().seekp(1);
        out.write("X", 1);
        out.stream().seekp(0, std::ios::end);
        out.write(big.data(), 70000);
        out.write("z", 1);
        out.commit();
    }
    EXPECT_EQ(readFile(path("out")), "aXc" + big + big.substr(0, 70000) + "z");
}

TEST_F(Files, InputMustBeARegularFile)
{
    fs::create_directory(dir_ / "dir");
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {path("missing"), "Unable to open input file: " + path("missing")},
        {path("dir"), "Input file " + path("dir") + " is a directory, not a regular file"},
        {path("fifo"), "Input file " + path("fifo") + " is a FIFO, not a regular file"},
        {"/dev/null", "Input file /dev/null is a character device, not a regular file"},
    };
    for (const auto& c : cases) EXPECT_EQ(messageOf([&] { InputFile in(c.first); }), c.second);
}
