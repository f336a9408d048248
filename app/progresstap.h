#pragma once

#include <functional>
#include <streambuf>
#include <string>

// Passes everything written to it on to target unchanged, and reports the
// percentage of every "- Preparing data (N%) ...", "- Decompressing (N%) ..."
// and "- Reducing data (N%) ..." text that the readers write
// (volumefile.h): a progress bar follows a load without the readers knowing
// about it. report is called on the writing thread, with 0..100.
class ProgressTap : public std::streambuf
{
public:
    ProgressTap(std::streambuf *target, std::function<void(int percent)> report);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char *text, std::streamsize count) override;
    int sync() override;

private:
    void scan(char c);

    std::streambuf *target;
    std::function<void(int)> report;
    std::string line; // the text since the last carriage return or line end, cut short
};
