// The default checker: compares the expected answer with the contestant's
// output line by line, ignoring trailing blanks and empty lines after the last
// line of either file, and writes a verdict file with a GB18030 message.
//
// Arguments: input answer output verdict.

#include "linereader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Messages are written as GB18030 bytes; nothing is converted at run time.
constexpr std::string_view kAnswer = "\xb1\xea\xd7\xbc\xca\xe4\xb3\xf6"; // 标准输出
constexpr std::string_view kOutput = "\xd1\xa1\xca\xd6\xca\xe4\xb3\xf6"; // 选手输出
constexpr std::string_view kIsEmpty = "\xce\xaa\xbf\xd5"; // 为空
constexpr std::string_view kLineBefore = "\xb5\xda"; // 第
constexpr std::string_view kLineAfter = "\xd0\xd0 "; // "行 "
constexpr std::string_view kEnded = "\xd2\xd1\xbd\xe1\xce\xb2"; // 已结尾
constexpr std::string_view kEllipsis = "\xa1\xad"; // …

constexpr std::size_t kBufferSize = 256 * 1024;

enum class Mismatch { OutputEnded = 1, AnswerEnded = 2, Differ = 3 };

std::string_view polist(std::string_view line)
{
    std::size_t length = line.size();
    while (length > 0 && line[length - 1] == ' ')
        --length;
    return line.substr(0, length);
}

std::string elide(std::string_view line)
{
    if (line.size() <= 12)
        return std::string(line);
    std::string cut(line.substr(0, 10));
    cut += kEllipsis;
    return cut;
}

std::string elide(std::string_view line, std::size_t from, std::size_t to)
{
    std::string piece;
    if (from != 0)
        piece += kEllipsis;
    if (from < line.size())
        piece += line.substr(from, std::min(to, line.size() - 1) - from + 1);
    if (to < line.size() - 1)
        piece += kEllipsis;
    return piece;
}

std::string quo(std::string_view piece)
{
    std::string quoted;
    quoted.reserve(piece.size() + 2);
    quoted += '"';
    quoted += piece;
    quoted += '"';
    return quoted;
}

struct Report {
    bool outputEmpty = false;
    bool answerHasOneLine = false;

    std::string diff(std::uint64_t lineNumber, std::string_view answer, std::string_view output,
                     Mismatch kind) const;
};

std::string Report::diff(std::uint64_t lineNumber, std::string_view answer,
                         std::string_view output, Mismatch kind) const
{
    std::string message;
    if (outputEmpty) {
        message += kOutput;
        message += kIsEmpty;
        return message;
    }
    if (!answerHasOneLine) {
        message += kLineBefore;
        message += std::to_string(lineNumber);
        message += kLineAfter;
    }
    if (kind == Mismatch::OutputEnded) {
        message += kAnswer;
        message += ':';
        message += quo(elide(answer));
        message += ' ';
        message += kOutput;
        message += kEnded;
        return message;
    }
    if (kind == Mismatch::AnswerEnded) {
        message += kAnswer;
        message += kEnded;
        message += ' ';
        message += kOutput;
        message += ": ";
        message += quo(elide(output));
        return message;
    }

    std::string shownAnswer, shownOutput;
    if (answer.size() <= 12 && output.size() <= 12) {
        shownAnswer = answer;
        shownOutput = output;
    } else if (answer.empty() || output.empty()) {
        shownAnswer = elide(answer);
        shownOutput = elide(output);
    } else {
        // A window from the start of the word holding the first difference to
        // its end, at most 15 bytes either way, narrowed when wider than 11.
        const auto lengthA = static_cast<std::int64_t>(answer.size());
        const auto lengthO = static_cast<std::int64_t>(output.size());
        const std::int64_t shorter = std::min(lengthA, lengthO);
        std::int64_t p = 0;
        while (p < shorter && answer[p] == output[p])
            ++p;
        if (p == shorter)
            p = shorter - 1;

        std::int64_t start = p;
        while (start > 0 && answer[start - 1] != ' ' && start > p - 15)
            --start;
        std::int64_t endA = p;
        while (endA + 1 < lengthA && answer[endA + 1] != ' ' && endA < p + 15)
            ++endA;
        if (start + 10 < endA) {
            start = std::max(start, p - 3);
            endA = std::min(endA, start + 8);
        }
        std::int64_t endO = p;
        while (endO + 1 < lengthO && output[endO + 1] != ' ' && endO < p + 15)
            ++endO;
        if (endA < endO)
            endO = std::max(start + 8, endA);

        shownAnswer = elide(answer, start, endA);
        shownOutput = elide(output, start, endO);
    }
    message += kAnswer;
    message += ':';
    message += quo(shownAnswer);
    message += ' ';
    message += kOutput;
    message += ':';
    message += quo(shownOutput);
    return message;
}

// Counts LF bytes eight at a time: each zero byte of (word ^ LFs) leaves 0x80.
std::uint64_t countLineEnds(const char *bytes, std::size_t size)
{
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t low7 = 0x7f7f7f7f7f7f7f7fULL;
    constexpr std::uint64_t lfs = ones * '\n';
    constexpr std::uint64_t lanes = 0x00ff00ff00ff00ffULL;
    std::uint64_t total = 0;
    while (size >= 8) {
        // Byte counters hold up to 255 before they are summed.
        const std::size_t words = std::min<std::size_t>(size / 8, 255);
        std::uint64_t counters = 0;
        for (std::size_t i = 0; i < words; ++i) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i * 8, 8);
            const std::uint64_t x = word ^ lfs;
            counters += (~(((x & low7) + low7) | x | low7)) >> 7;
        }
        const std::uint64_t pairs = (counters & lanes) + ((counters >> 8) & lanes);
        total += (pairs * 0x0001000100010001ULL) >> 48;
        bytes += words * 8;
        size -= words * 8;
    }
    for (; size > 0; --size)
        total += *bytes++ == '\n';
    return total;
}

// Consumes, in bulk, what is byte for byte the same in both files: whole
// lines (equal whatever their blanks and line ends), and most of a long line
// in progress, so that such a line never has to be held. Of that line, the 16
// bytes up to its last non-blank so far stay unread. Both lines then still
// agree on those 16 bytes and go on past them after polist, so the first
// difference is at least 15 bytes further and the message window, reaching
// at most 15 bytes back, never needs the part dropped; nor do the short-line
// rules, since both lines stay longer than 12 bytes. The message is therefore
// the same as for the whole lines.
struct Skipped {
    std::uint64_t lines = 0; // whole lines consumed
    bool any = false; // whether anything was consumed at all
};

Skipped skipIdenticalLines(LineReader &answer, LineReader &output)
{
    constexpr std::size_t kBlock = 4096;
    Skipped skipped;
    for (;;) {
        answer.topUp();
        output.topUp();
        const char *a = answer.data();
        const char *o = output.data();
        const std::size_t span = std::min(answer.available(), output.available());

        std::uint64_t found = 0;
        std::size_t same = 0;
        std::size_t lastEnd = 0; // end of the last block that holds a line end
        bool differ = false;
        while (same < span && !differ) {
            std::size_t size = std::min(kBlock, span - same);
            differ = std::memcmp(a + same, o + same, size) != 0;
            if (differ)
                size = std::mismatch(a + same, a + same + size, o + same).first - (a + same);
            if (const std::uint64_t count = countLineEnds(a + same, size)) {
                found += count;
                lastEnd = same + size;
            }
            same += size;
        }

        std::size_t lineStart = 0;
        if (found > 0) {
            lineStart = lastEnd;
            while (a[lineStart - 1] != '\n')
                --lineStart;
            skipped.lines += found;
        }
        std::size_t keep = same;
        while (keep > lineStart && a[keep - 1] == ' ')
            --keep;
        std::size_t dropped = keep > lineStart + 16 ? keep - 16 - lineStart : 0;
        if (dropped < kBlock) // not worth another pass
            dropped = 0;
        answer.skip(lineStart + dropped);
        output.skip(lineStart + dropped);
        if (found == 0 && dropped == 0)
            return skipped;
        skipped.any = true;
        if (differ)
            return skipped;
    }
}

std::string compare(LineReader &answerFile, LineReader &outputFile, bool &accepted)
{
    Report report;
    std::uint64_t n = 0;
    std::string_view answer, output;
    // When the files keep differing in blanks or line ends, bulk attempts
    // fail at every line; space them out so they cost next to nothing.
    unsigned pause = 0, nextPause = 0;
    for (;;) {
        if (pause > 0) {
            --pause;
        } else {
            const Skipped skipped = skipIdenticalLines(answerFile, outputFile);
            n += skipped.lines;
            if (skipped.any) {
                nextPause = 0;
            } else {
                pause = nextPause;
                nextPause = std::min(2 * nextPause + 1, 1023u);
            }
        }
        ++n;
        if (!answerFile.next(answer)) {
            if (!outputFile.next(output)) {
                accepted = true;
                return {};
            }
            if (output.empty())
                continue;
            return report.diff(n, {}, output, Mismatch::AnswerEnded);
        }
        if (!outputFile.next(output)) {
            if (n == 1)
                report.outputEmpty = true;
            if (!answer.empty())
                return report.diff(n, answer, {}, Mismatch::OutputEnded);
            continue;
        }
        answer = polist(answer);
        output = polist(output);
        if (answer == output)
            continue;
        if (n == 1) {
            // Reading on moves the answer's buffer under the view.
            const std::string firstAnswer(answer);
            std::string_view second;
            report.answerHasOneLine = !answerFile.next(second);
            return report.diff(n, firstAnswer, output, Mismatch::Differ);
        }
        return report.diff(n, answer, output, Mismatch::Differ);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s INPUT ANSWER OUTPUT VERDICT\n",
                     argc > 0 ? argv[0] : "textcmp");
        return 2;
    }

    bool accepted = false;
    std::string message;
    {
        LineReader answerFile(argv[2], kBufferSize);
        LineReader outputFile(argv[3], kBufferSize);
        message = compare(answerFile, outputFile, accepted);
    }

    std::string verdict = accepted ? "A:1\n" : "W:0\n";
    verdict += message;
    verdict += '\n';
    if (std::FILE *file = std::fopen(argv[4], "wb")) {
        std::fwrite(verdict.data(), 1, verdict.size(), file);
        std::fclose(file);
    }
    return 0;
}
