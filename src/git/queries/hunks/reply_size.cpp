// Counting a text's reply bytes while it streams in, invalid UTF-8 at its repaired length.
#include "git/queries/hunks/reply_size.hpp"

#include <array>
#include <string>

#include "parser/diagnostics.hpp"

namespace brackwen {
namespace {

constexpr uint64_t REPLACEMENT_BYTES = 3;

// The bytes the JSON string escape writes for each ASCII byte: two for the short escapes, six
// for the other control characters.
constexpr std::array<uint8_t, 128> escaped_bytes_table() {
  std::array<uint8_t, 128> table{};
  for (size_t c = 0; c < table.size(); ++c) table[c] = c < 0x20 ? 6 : 1;
  for (char c : {'"', '\\', '\b', '\t', '\n', '\f', '\r'}) table[static_cast<uint8_t>(c)] = 2;
  return table;
}
constexpr std::array<uint8_t, 128> ESCAPED_BYTES = escaped_bytes_table();

// Starts the sequence a lead byte opens (the ranges of the standard's table of well-formed
// sequences); false for a byte that opens none.
bool begin_sequence(ReplyTextSize& size, uint8_t lead) {
  size.next_low = 0x80;
  size.next_high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size.needed = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size.needed = 2;
    if (lead == 0xE0) size.next_low = 0xA0;
    if (lead == 0xED) size.next_high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size.needed = 3;
    if (lead == 0xF0) size.next_low = 0x90;
    if (lead == 0xF4) size.next_high = 0x8F;
  } else {
    return false;
  }
  size.begun = 1;
  return true;
}

// A byte after a begun sequence: false when it does not continue it, which ends the sequence
// as one invalid subpart and leaves the byte to be read on its own.
bool continue_sequence(ReplyTextSize& size, uint8_t c) {
  if (c < size.next_low || c > size.next_high) {
    size.begun = 0;
    size.bytes += REPLACEMENT_BYTES;
    return false;
  }
  size.next_low = 0x80;
  size.next_high = 0xBF;
  ++size.begun;
  if (--size.needed == 0) {
    size.bytes += size.begun;
    size.begun = 0;
  }
  return true;
}

}  // namespace

void ReplyTextSize::add(std::string_view piece) {
  for (char ch : piece) {
    auto c = static_cast<uint8_t>(ch);
    if (begun != 0 && continue_sequence(*this, c)) continue;
    if (c < 0x80) {
      bytes += ESCAPED_BYTES[c];
      line_feeds += c == '\n';
    } else if (!begin_sequence(*this, c)) {
      bytes += REPLACEMENT_BYTES;
    }
  }
}

void report_over_cap(std::string_view diff) {
  write_stderr(std::string(diff) + " stopped: its reply would pass " +
               std::to_string(MAX_REPLY_BYTES >> 20) + " MiB\n");
}

void ReplyTextSize::finish() {
  if (begun != 0) bytes += REPLACEMENT_BYTES;
  begun = 0;
}

}  // namespace brackwen
