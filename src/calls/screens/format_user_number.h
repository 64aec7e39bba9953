// The display form of a user number (an OrvikID) on the call screens: its
// number characters in groups of three counted from the left ("123 456 7").
//
// THREAD-SAFETY: pure; any thread.
#pragma once

#include <string>
#include <string_view>

namespace orvik {

// Keeps the characters that are numbers in the Unicode sense (numeric type
// decimal, digit or numeric: ASCII and other scripts' digits, vulgar
// fractions) and drops every other one; puts one blank before each kept
// character whose position, counted from 0, is a positive multiple of 3.
// A text without number characters (empty text included) comes back
// unchanged. Invalid UTF-8 counts as no number characters.
std::string formatUserNumber(std::string_view number);

}  // namespace orvik
