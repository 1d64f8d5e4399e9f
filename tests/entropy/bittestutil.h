#pragma once
// Helpers shared by the entropy tests: bit-string views of written streams
// and byte sinks/sources that record how they are called.

#include "entropy/bitstream.h"

#include <streambuf>
#include <string>
#include <vector>

// The stream's bits in order as '0'/'1' digits, `nbits` of them.
inline std::string bitString(const std::string& bytes, size_t nbits)
{
    std::string s;
    for (size_t k = 0; k < nbits; ++k) s += char('0' + ((bytes[k / 8] >> (k % 8)) & 1));
    return s;
}

// An in-memory writer whose written bits can be examined.
class OutProbe : public OutBitStream {
public:
    using OutBitStream::OutBitStream;
    size_t bitCount() const { return size_t(next - words.get()) * 32 + bitsUsed; }
    std::string bits() const
    {
        std::string s;
        for (const unsigned* w = words.get(); w != next; ++w)
            for (unsigned b = 0; b < 32; ++b) s += char('0' + ((*w >> b) & 1));
        const unsigned current = partialWord();
        for (unsigned b = 0; b < bitsUsed; ++b) s += char('0' + ((current >> b) & 1));
        return s;
    }
};

// A byte sink that keeps the data and the size of every write.
class RecordingSink : public std::streambuf {
public:
    std::string data;
    std::vector<std::streamsize> writes;

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        data.append(s, size_t(n));
        writes.push_back(n);
        return n;
    }
    int_type overflow(int_type c) override
    {
        if (c != traits_type::eof()) {
            char ch = traits_type::to_char_type(c);
            xsputn(&ch, 1);
        }
        return c;
    }
};

// A byte source over a string that records the size of every read request.
class RecordingSource : public std::streambuf {
public:
    explicit RecordingSource(const std::string& d) : data(d)
    {
        char* p = &data[0];
        setg(p, p, p + data.size());
    }
    std::vector<std::streamsize> requests;

protected:
    std::streamsize xsgetn(char* s, std::streamsize n) override
    {
        requests.push_back(n);
        return std::streambuf::xsgetn(s, n);
    }

private:
    std::string data;
};
