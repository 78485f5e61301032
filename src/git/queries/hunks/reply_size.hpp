// What text from outside weighs once it stands in a reply as a JSON string, counted while it
// arrives, so that a diff can be stopped before it is held or sent whole.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "git/reading/request_budget.hpp"

namespace brackwen {

// A diff is refused, and its git killed, once the reply it would make passes MAX_REPLY_BYTES.
// The one line on standard error that tells a diff was refused: "<diff> stopped: its reply
// would pass 256 MiB". `diff` holds nothing from a repository or a request unchecked, so that
// the line stays one.
void report_over_cap(std::string_view diff);

// What one line makes of a reply besides its text: its record, with numbers of six digits.
inline constexpr uint64_t LINE_RECORD_BYTES = 100;

// The reply bytes of a text given in pieces: each byte at the length the JSON string escape
// gives it, and each invalid UTF-8 sequence at the three bytes of the U+FFFD it is repaired to
// (the same maximal subparts the repair replaces). A sequence cut between two pieces counts
// once it is whole, or at `finish`.
struct ReplyTextSize {
  uint64_t bytes = 0;
  uint64_t line_feeds = 0;
  // The multi-byte sequence begun and not yet whole: its bytes so far, the continuation bytes
  // it still needs, and the range the next one must lie in.
  uint8_t begun = 0;
  uint8_t needed = 0;
  uint8_t next_low = 0x80;
  uint8_t next_high = 0xBF;

  void add(std::string_view piece);
  // A sequence left unfinished at the end of the text is one U+FFFD.
  void finish();
};

}  // namespace brackwen
