#pragma once

#include <iostream>
#include <sstream>
#include <string>

// Collects what is written to standard output while it lives (progress lines,
// the table's probe line), so tests can count it or keep the log quiet.
class CapturedOutput
{
public:
    CapturedOutput() : previous(std::cout.rdbuf(buffer.rdbuf())) {}
    ~CapturedOutput() { std::cout.rdbuf(previous); }
    CapturedOutput(const CapturedOutput &) = delete;
    CapturedOutput &operator=(const CapturedOutput &) = delete;

    std::string text() const { return buffer.str(); }
    void clear() { buffer.str(std::string()); }

    // How often needle occurs in what was written.
    int count(const std::string &needle) const
    {
        int n = 0;
        const std::string all = buffer.str();
        for (std::size_t at = all.find(needle); at != std::string::npos;
             at = all.find(needle, at + 1))
            ++n;
        return n;
    }

private:
    std::ostringstream buffer;
    std::streambuf *previous;
};
