// A few lines in the manner of testlib, for the tests: a checker's three
// streams, its verdicts and their exit codes, and the argument order
// `checker <input> <output> <answer> [<result file>]`; an interactor's,
// `interactor <input> <output for the checker> <answer> [<result file>]`,
// reading the program's words from standard input. It is not testlib;
// fixtures install it under the name testlib.h where a package keeps it.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

enum TResult { _ok = 0, _wa = 1, _pe = 2, _fail = 3, _dirt = 4, _points = 7, _unexpected_eof = 8 };

inline FILE *resultFile = nullptr;

[[noreturn]] inline void quitv(TResult result, const char *format, va_list args)
{
    FILE *to = resultFile ? resultFile : stderr;
    std::vfprintf(to, format, args);
    std::fputc('\n', to);
    std::fflush(to);
    std::exit(result);
}

[[noreturn]] inline void quitf(TResult result, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    quitv(result, format, args);
}

// The ratio first, then the message.
[[noreturn]] inline void quitp(double points, const char *message)
{
    quitf(_points, "%.6f %s", points, message);
}

struct InStream
{
    FILE *file = nullptr;
    // What a missing or short stream means for this stream.
    TResult onEnd = _fail;

    std::string readToken()
    {
        std::string token;
        int c = std::fgetc(file);
        while (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            c = std::fgetc(file);
        if (c == EOF)
            quitf(onEnd, "unexpected end of file");
        while (c != EOF && c != ' ' && c != '\n' && c != '\r' && c != '\t') {
            token += char(c);
            c = std::fgetc(file);
        }
        return token;
    }

    long long readLong()
    {
        const std::string token = readToken();
        char *end = nullptr;
        const long long value = std::strtoll(token.c_str(), &end, 10);
        if (token.empty() || *end != '\0')
            quitf(onEnd == _fail ? _fail : _pe, "expected an integer, found \"%s\"", token.c_str());
        return value;
    }

    std::string readLine()
    {
        std::string line;
        int c = std::fgetc(file);
        while (c != EOF && c != '\n') {
            line += char(c);
            c = std::fgetc(file);
        }
        return line;
    }
};

inline InStream inf, ouf, ans;

inline void registerTestlibCmd(int argc, char **argv)
{
    if (argc < 4)
        quitf(_fail, "usage: checker <input> <output> <answer> [<result file>]");
    if (argc > 4)
        resultFile = std::fopen(argv[4], "w");
    inf.file = std::fopen(argv[1], "r");
    ouf.file = std::fopen(argv[2], "r");
    ans.file = std::fopen(argv[3], "r");
    ouf.onEnd = _unexpected_eof;
    if (!inf.file || !ans.file)
        quitf(_fail, "cannot open the input or the answer");
    if (!ouf.file)
        quitf(_pe, "cannot open the output");
}

// What an interactor writes for the checker.
inline FILE *tout = nullptr;

inline void registerInteraction(int argc, char **argv)
{
    if (argc < 4)
        quitf(_fail, "usage: interactor <input> <output> <answer> [<result file>]");
    if (argc > 4)
        resultFile = std::fopen(argv[4], "w");
    inf.file = std::fopen(argv[1], "r");
    tout = std::fopen(argv[2], "w");
    ans.file = std::fopen(argv[3], "r");
    ouf.file = stdin;
    ouf.onEnd = _unexpected_eof;
    if (!inf.file || !ans.file || !tout)
        quitf(_fail, "cannot open the input, the answer or the output");
}
