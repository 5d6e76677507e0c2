// Decimal formatting and reading of numbers, as texts travel to and from the host.
#pragma once

#include <cstdint>

#include "KwTypes.h"

// "%d" and "%I64d".
KwString KwFormatInt32(int32_t value);
KwString KwFormatInt64(int64_t value);

// Saturating integer reader: skips leading white space, takes an optional sign
// and decimal digits, stops at the first other character; clamps at
// 2147483647 and -2147483647. A text without digits reads as 0.
int32_t KwParseInt32(KwStringView text);

// Decimal number reader: white space, sign, digits, one decimal separator
// ("." or ","), digits, optional exponent. A text that is not a number reads as 0.
double KwParseDouble(KwStringView text);

// A number with all its significant digits: at most `maxDecimals` (16) places
// after the separator, rounded at the last place, trailing zeros removed, no
// separator for whole numbers; negative values get a leading "-". The separator
// is the current locale's when that is "." or ",", else ".".
KwString KwFormatDouble(double value, int maxDecimals = 16);
// Exactly `decimals` places, same separator rule.
KwString KwFormatDoubleFixed(double value, int decimals);

// The decimal separator of the current locale's number formatting when it is
// "." or ","; "." otherwise.
KwChar KwDecimalSeparator();

// "%p" of a 64-bit value (16 upper-case hexadecimal digits) and its reader
// (a leading "0x" is skipped, the rest read as hexadecimal).
KwString KwFormatPointer(uint64_t value);
uint64_t KwParsePointer(KwStringView text);
