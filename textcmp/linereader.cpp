#include "linereader.h"

#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void outOfMemory()
{
    // A verdict built from a cut line could be wrong; better no verdict at all,
    // which the judge reports as a checker failure.
    std::fputs("textcmp: out of memory\n", stderr);
    std::exit(3);
}

} // namespace

LineReader::LineReader(const char *path, std::size_t capacity) : cap_(capacity)
{
    // realloc lets a large buffer grow by remapping rather than copying.
    buf_ = static_cast<char *>(std::malloc(cap_));
    if (!buf_)
        outOfMemory();
    file_ = std::fopen(path, "rb");
    if (file_)
        std::setvbuf(file_, nullptr, _IONBF, 0);
    else
        eof_ = true;
}

LineReader::~LineReader()
{
    if (file_)
        std::fclose(file_);
    std::free(buf_);
}

bool LineReader::fill()
{
    if (eof_)
        return false;
    if (pos_ > 0) {
        std::memmove(buf_, buf_ + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    if (end_ == cap_) {
        char *grown = static_cast<char *>(std::realloc(buf_, cap_ * 2));
        if (!grown)
            outOfMemory();
        buf_ = grown;
        cap_ *= 2;
    }
    const std::size_t wanted = cap_ - end_;
    const std::size_t got = std::fread(buf_ + end_, 1, wanted, file_);
    end_ += got;
    // A read error ends the file just as its end does.
    if (got < wanted)
        eof_ = true;
    return got > 0;
}

void LineReader::topUp()
{
    if (!eof_ && end_ - pos_ < cap_ / 8)
        fill();
}

bool LineReader::next(std::string_view &line)
{
    std::size_t scanned = 0;
    for (;;) {
        const std::size_t from = pos_ + scanned;
        if (const void *hit = std::memchr(buf_ + from, '\n', end_ - from)) {
            const std::size_t lf = static_cast<const char *>(hit) - buf_;
            std::size_t length = lf - pos_;
            if (length > 0 && buf_[lf - 1] == '\r')
                --length;
            line = std::string_view(buf_ + pos_, length);
            pos_ = lf + 1;
            return true;
        }
        scanned = end_ - pos_;
        if (!fill()) {
            if (pos_ == end_)
                return false;
            // The last line has no line end.
            line = std::string_view(buf_ + pos_, end_ - pos_);
            pos_ = end_;
            return true;
        }
    }
}
