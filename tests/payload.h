// What the stand-in child writes before it closes a stream, and what a
// test expects to read: more than a pipe holds, every byte value, no line
// structure to lean on.
#ifndef TARVEX_TESTS_PAYLOAD_H
#define TARVEX_TESTS_PAYLOAD_H

#include <string>

inline std::string payload()
{
    std::string bytes;
    for (int i = 0; i < 100000; ++i)
        bytes += static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

#endif
