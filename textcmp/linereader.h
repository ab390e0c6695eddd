#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// Streams a file through one buffer and hands out its lines as views into it.
// The buffer only grows when a single line does not fit, so memory follows the
// longest line, never the file. A file that cannot be opened has no lines.
class LineReader {
public:
    LineReader(const char *path, std::size_t capacity);
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // The next line without its LF or CR LF end; valid until the next call
    // that moves or refills this reader.
    bool next(std::string_view &line);

    // Raw access to the bytes read but not yet consumed.
    const char *data() const { return buf_ + pos_; }
    std::size_t available() const { return end_ - pos_; }
    void skip(std::size_t bytes) { pos_ += bytes; }

    // Refills when little is left, so that bulk work sees large spans.
    void topUp();

private:
    bool fill();

    std::FILE *file_ = nullptr;
    char *buf_ = nullptr;
    std::size_t cap_ = 0;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
};
