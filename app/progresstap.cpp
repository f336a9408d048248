#include "progresstap.h"

namespace {
// The readers' progress texts: converting, and for volumes beyond memory
// decompressing and building the reduced level.
const std::string prefixes[] = {"- Preparing data (", "- Decompressing (", "- Reducing data ("};
constexpr std::size_t longestPrefix = 18;
} // namespace

ProgressTap::ProgressTap(std::streambuf *forwardTo, std::function<void(int percent)> onPercent)
    : target(forwardTo), report(std::move(onPercent))
{
}

ProgressTap::int_type ProgressTap::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    scan(traits_type::to_char_type(c));
    return target->sputc(traits_type::to_char_type(c));
}

std::streamsize ProgressTap::xsputn(const char *text, std::streamsize count)
{
    for (std::streamsize i = 0; i < count; ++i)
        scan(text[i]);
    return target->sputn(text, count);
}

int ProgressTap::sync()
{
    return target->pubsync();
}

void ProgressTap::scan(char c)
{
    if (c == '\r' || c == '\n') {
        line.clear();
        return;
    }
    // Only the start of a line can be a progress text: long lines (a file
    // name) are not kept whole.
    if (line.size() < longestPrefix + 8)
        line += c;
    if (c != '%')
        return;
    std::size_t start = 0;
    for (const std::string &prefix : prefixes)
        if (line.compare(0, prefix.size(), prefix) == 0)
            start = prefix.size();
    if (start == 0)
        return;
    int percent = 0;
    std::size_t digits = 0;
    for (std::size_t i = start; i + 1 < line.size(); ++i, ++digits) {
        if (line[i] < '0' || line[i] > '9')
            return;
        percent = percent * 10 + (line[i] - '0');
    }
    if (digits > 0 && digits <= 3 && percent <= 100)
        report(percent);
}
