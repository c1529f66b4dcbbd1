#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The 15 ASCII bytes of one read of consecutive word devices, sent as one datagram. No NUL.
using ReadCommand = std::array<char, 15>;

// "RDS " + device code + five characters of the first device number + blank + one character
// of the count + CR LF.
ReadCommand BuildReadCommand(uint8_t kind, int32_t first, int32_t count);

// "DM" for kind 0, "TM" for kind 1, nullptr for every other kind.
const char* DeviceCode(uint8_t kind);

// A device number as "%5.5d" prints it, all digits kept: 7 -> "00007", 123456 -> "123456",
// -5 -> "-00005". 64-bit so that start + offset in a header never overflows.
std::string FormatDeviceNumber(int64_t number);
// The same text written to `out`, which has room for kMaxDeviceNumberLength characters;
// returns its end. No terminating NUL.
inline constexpr size_t kMaxDeviceNumberLength = 20;  // "-9223372036854775808"
char* FormatDeviceNumberTo(char* out, int64_t number);

// Whether a datagram of n bytes can be a reply: (n - 1) mod 6 == 0, signed.
bool ReplyLengthValid(int32_t n);

// Whether a datagram is a reply exactly as a controller writes one: at least one field of five
// characters, each blanks, an optional sign and at least one decimal digit; a blank after every
// field but the last, CR LF after it; nothing else, no NUL.
bool ReplyWellFormed(std::string_view datagram);

// One field converted to an integer; the conversion's error indication is ignored and the
// value it produced is returned (see read_command.cpp for the exact rule).
int32_t ConvertField(std::string_view field);

// The values of a reply: the text ends at its first NUL (or at the end of the view); it holds
// length div 6 fields of five characters at offsets 0, 6, 12, ...; each converted field keeps
// its low 16 bits.
std::vector<uint16_t> ParseReplyValues(std::string_view text);

// A 16-bit slot in decimal, as unsigned (0..65535) or as signed 16-bit (-32768..32767).
std::string FormatValue(uint16_t slot, bool unsignedValue);
// The same text written to `out`, which has room for kMaxValueLength characters; returns its
// end. No terminating NUL.
inline constexpr size_t kMaxValueLength = 6;  // "-32768"
char* FormatValueTo(char* out, uint16_t slot, bool unsignedValue);
