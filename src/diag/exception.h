#pragma once
// The one error type of the program. Every fatal condition (bad options,
// unreadable files, corrupt compressed data) is thrown as an Exception by
// value and caught only in main, which prints "ERROR: " and the message.

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(const std::string& message) : message_(message) {}
    ~Exception() override = default;
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Throws Exception(message) when cond is false. For conditions that input
// data can make false; programming errors use assert instead.
inline void require(bool cond, const std::string& message)
{
    if (!cond) throw Exception(message);
}

// The same for a fixed message: no string is built unless the check fails,
// so the check costs nothing in a per-symbol loop.
inline void require(bool cond, const char* message)
{
    if (!cond) throw Exception(message);
}
