#include "wtf8.h"

#include <cwchar>

namespace {

bool is_high_surrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void append_code_point(std::string& out, unsigned c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
        return;
    }
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
}

void append_utf16(std::wstring& out, unsigned c)
{
    if (c < 0x10000) {
        out += static_cast<wchar_t>(c);
        return;
    }
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
}

// Decodes the sequence at text[at]; returns its length, or 0 when none
// begins there. Overlong forms and values past U+10FFFF are refused.
std::size_t decode(const std::string& text, std::size_t at, unsigned& c)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    // Sequence length, the least value that needs it, and the lead's bits.
    std::size_t length = 4;
    unsigned least = 0x10000;
    c = lead & 0x07;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        least = 0x80;
        c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        least = 0x800;
        c = lead & 0x0F;
    } else if ((lead & 0xF8) != 0xF0) {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    return c < least || c > 0x10FFFF ? 0 : length;
}

} // namespace

std::string wtf8_from_utf16(const wchar_t* text, std::size_t length)
{
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        unsigned c = static_cast<unsigned>(text[i]) & 0xFFFF;
        const unsigned next = i + 1 < length ? static_cast<unsigned>(text[i + 1]) & 0xFFFF : 0;
        if (is_high_surrogate(c) && is_low_surrogate(next)) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        }
        append_code_point(out, c);
    }
    return out;
}

std::string wtf8_from_utf16(const wchar_t* text)
{
    return wtf8_from_utf16(text, std::wcslen(text));
}

void replace_unpaired_surrogates(std::wstring& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned unit = static_cast<unsigned>(text[i]) & 0xFFFF;
        const unsigned next = i + 1 < text.size() ? static_cast<unsigned>(text[i + 1]) & 0xFFFF : 0;
        if (is_high_surrogate(unit) && is_low_surrogate(next))
            ++i;
        else if (is_high_surrogate(unit) || is_low_surrogate(unit))
            text[i] = 0xFFFD;
    }
}

std::wstring utf16_from_wtf8(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        unsigned c = 0;
        const std::size_t length = decode(text, at, c);
        append_utf16(out, length ? c : 0xFFFD);
        at += length ? length : 1;
    }
    return out;
}
