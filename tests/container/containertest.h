#pragma once
// Helpers for the file driver tests: scratch files, block settings for the
// methods as the golden files name them, captured console output, header
// fields.

#include "container/container.h"
#include "diag/exception.h"
#include "testcommon.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace containertest {

namespace fs = std::filesystem;

using testcommon::getLE32;
using testcommon::putLE32;
using testcommon::readFile;
using testcommon::writeFile;

// The methods as the golden file names call them.
enum class Method { DC, MTFAdaptive, MTFAdaptiveNoRLE0, MTFStatic, MTFStaticNoRLE0 };

// The settings the command line picks for `method` and block size `block`.
inline PackSettings settingsFor(Method method, unsigned block = 0)
{
    PackSettings settings;
    settings.blockSize = block;
    switch (method) {
    case Method::DC: settings.block = {methodDC, coderAdaptive}; break;
    case Method::MTFAdaptive: settings.block = {methodMTFRLE0, coderAdaptive}; break;
    case Method::MTFAdaptiveNoRLE0: settings.block = {methodMTF, coderAdaptive}; break;
    case Method::MTFStatic: settings.block = {methodMTFRLE0, coderStatic}; break;
    case Method::MTFStaticNoRLE0: settings.block = {methodMTF, coderStatic}; break;
    }
    return settings;
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

// A fresh directory per test.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("varn_container_" + std::string(info->name()) + "_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Compresses `input` quietly, without an observer; output is captured.
    std::string pack(const std::string& input, Method method = Method::DC, unsigned block = 0)
    {
        writeFile(path("in"), input);
        CaptureStdout quiet;
        packFile(path("in").c_str(), path("packed").c_str(), settingsFor(method, block), nullptr, false);
        return readFile(path("packed"));
    }

    std::string unpack(const std::string& packed)
    {
        writeFile(path("packed"), packed);
        CaptureStdout quiet;
        unpackFile(path("packed").c_str(), path("unpacked").c_str(), nullptr, false);
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
        return messageOf([&] { unpackFile(path("packed").c_str(), path("unpacked").c_str(), nullptr, false); });
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
