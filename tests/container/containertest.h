#pragma once
// Helpers for the file driver tests: scratch files, options set the way the
// command line sets them, captured console output, header fields.

#include "container/container.h"
#include "diag/exception.h"
#include "diag/options.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace containertest {

namespace fs = std::filesystem;

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline unsigned getLE32(const std::string& s, size_t at)
{
    unsigned v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

inline void putLE32(std::string& s, size_t at, unsigned v)
{
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// The methods as the golden file names call them.
enum class Method { DC, MTFAdaptive, MTFAdaptiveNoRLE0, MTFStatic, MTFStaticNoRLE0 };

// Sets the option variables as the command line does for `method`.
inline void selectMethod(Method method)
{
    useDC = useMTF0 = adaptiveAC = staticAC = useRLE0 = false;
    switch (method) {
    case Method::DC: useDC = adaptiveAC = true; break;
    case Method::MTFAdaptive: useMTF0 = adaptiveAC = useRLE0 = true; break;
    case Method::MTFAdaptiveNoRLE0: useMTF0 = adaptiveAC = true; break;
    case Method::MTFStatic: useMTF0 = staticAC = useRLE0 = true; break;
    case Method::MTFStaticNoRLE0: useMTF0 = staticAC = true; break;
    }
}

// Everything written to standard output while it lives.
class CaptureStdout {
public:
    CaptureStdout() : old_(std::cout.rdbuf(text_.rdbuf())), precision_(std::cout.precision()) {}
    ~CaptureStdout()
    {
        std::cout.rdbuf(old_);
        std::cout.precision(precision_);
    }
    std::string text() const { return text_.str(); }

private:
    std::ostringstream text_;
    std::streambuf* old_;
    std::streamsize precision_;
};

// A fresh directory per test and clean option variables around it.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetOptions();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("varn_container_" + std::string(info->name()) + "_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        resetOptions();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Compresses `input` with the options as they stand; output is captured.
    std::string pack(const std::string& input, Method method = Method::DC, unsigned block = 0)
    {
        selectMethod(method);
        blockSize = block;
        writeFile(path("in"), input);
        CaptureStdout quiet;
        packFile(path("in").c_str(), path("packed").c_str());
        return readFile(path("packed"));
    }

    std::string unpack(const std::string& packed)
    {
        writeFile(path("packed"), packed);
        CaptureStdout quiet;
        unpackFile(path("packed").c_str(), path("unpacked").c_str());
        return readFile(path("unpacked"));
    }

    // The message of the Exception `run` throws ("" when it throws none).
    static std::string messageOf(const std::function<void()>& run)
    {
        CaptureStdout quiet;
        try {
            run();
        } catch (const Exception& e) {
            return e.what();
        }
        return "";
    }

    std::string unpackError(const std::string& packed)
    {
        writeFile(path("packed"), packed);
        return messageOf([&] { unpackFile(path("packed").c_str(), path("unpacked").c_str()); });
    }

    fs::path dir_;
};

// Offsets of the block headers of a compressed file, by walking the payload
// sizes.
inline std::vector<size_t> blockOffsets(const std::string& packed)
{
    std::vector<size_t> at;
    for (size_t p = 12; p + 18 <= packed.size(); p += 18 + getLE32(packed, p + 4)) at.push_back(p);
    return at;
}

} // namespace containertest
