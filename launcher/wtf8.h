#ifndef TARVEX_WTF8_H
#define TARVEX_WTF8_H

// Text crosses the platform boundary here and nowhere else. Inside, the
// launcher keeps byte strings in WTF-8: UTF-8 that also carries unpaired
// surrogates, so that every UTF-16 string Windows allows comes back out
// unchanged. Every byte the launcher looks for is ASCII, and no byte of a
// multi-byte sequence is, so byte-wise searching and quoting stay right.

#include <cstddef>
#include <string>

std::string wtf8_from_utf16(const wchar_t* text, std::size_t length);
std::string wtf8_from_utf16(const wchar_t* text);

// A high and a low surrogate that meet (two strings joined) form a pair,
// as they would in UTF-16. A byte that begins no valid sequence becomes
// U+FFFD; the launcher's own strings never hold one.
std::wstring utf16_from_wtf8(const std::string& text);

// For people: pairs stay, and a surrogate standing alone becomes U+FFFD,
// which nothing else is turned into.
void replace_unpaired_surrogates(std::wstring& text);

#endif
