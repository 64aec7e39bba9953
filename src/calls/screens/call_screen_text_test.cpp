// The short texts of the call screens: grouped user numbers, short display
// names and avatar initials.
#include <gtest/gtest.h>

#include "calls/screens/call_display_name.h"
#include "calls/screens/format_user_number.h"

namespace orvik {
namespace {

TEST(FormatUserNumber, GroupsNumberCharactersInThreesFromTheLeft) {
  struct Case {
    const char* input;
    const char* shown;
  };
  const Case cases[] = {
      {"123456789", "123 456 789"},
      {"1234", "123 4"},
      {"12345", "123 45"},
      {"123", "123"},
      {"1", "1"},
      {"+1 (234) 567-8901", "123 456 789 01"},
      {"555-123-4567", "555 123 456 7"},
      {"1 2 3 4", "123 4"},  // the input's blanks never survive
      {"abc", "abc"},
      {"Anna Lee", "Anna Lee"},  // no number characters: unchanged, blanks included
      {"", ""},
      // Arabic-Indic digits stay and are grouped like ASCII ones.
      {"\u0661\u0662\u0663\u0664\u0665\u0666\u0667", "\u0661\u0662\u0663 \u0664\u0665\u0666 \u0667"},
      // Extended Arabic-Indic and Devanagari digits, mixed with ASCII.
      {"\u06F1\u06F2-3\u0967", "\u06F1\u06F23 \u0967"},
      // Numeric signs count: a vulgar fraction and a Roman numeral.
      {"1\u00BD2\u2163", "1\u00BD2 \u2163"},
      // Full-width digits are decimal digits too.
      {"\uFF11\uFF12\uFF13\uFF14", "\uFF11\uFF12\uFF13 \uFF14"},
      // A broken UTF-8 byte is dropped like any other non-number.
      {"12\xff" "34", "123 4"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatUserNumber(c.input), c.shown) << c.input;
}

TEST(CallDisplayName, IsTheTextBeforeTheFirstUnderscore) {
  struct Case {
    const char* name;
    const char* shown;
  };
  const Case cases[] = {
      {"Alice_123", "Alice"}, {"Bob", "Bob"},       {"_x", ""},   {"", ""},
      {"a_b_c", "a"},         {"Ann Lee_7", "Ann Lee"}, {"_", ""}, {"Zoë_ü", "Zoë"},
  };
  for (const auto& c : cases) EXPECT_EQ(callDisplayName(c.name), c.shown) << c.name;
}

TEST(AvatarInitial, IsTheFirstCharacterUpperCasedOrAQuestionMark) {
  struct Case {
    const char* name;
    const char* initial;
  };
  const Case cases[] = {
      {"anna_lee", "A"}, {"bob", "B"},      {"", "?"},     {"_x", "?"},
      {"émile", "É"},    {"ßtraße", "SS"},  // upper case may be longer
      {"e\u0301va", "E\u0301"},            // a letter with its combining accent is one character
      {"\u0661\u0662", "\u0661"},          {"😀 smile", "😀"},
  };
  for (const auto& c : cases) EXPECT_EQ(avatarInitial(c.name), c.initial) << c.name;
}

}  // namespace
}  // namespace orvik
