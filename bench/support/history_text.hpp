// The text of a generated history shaped like a large project's: a few hundred authors from
// many countries, and commit messages with a subject, wrapped paragraphs and trailers, a few
// of them very long and a few in Latin-1. Every function is a pure function of its dice, so a
// history is the same on every machine and with every standard library.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brackwen::bench {

// splitmix64: std::mt19937's numbers are fixed by the standard but its distributions are not,
// and a history written from a seed must not depend on the library.
struct Dice {
  uint64_t state = 0;
};
uint64_t roll(Dice& dice);
uint32_t below(Dice& dice, uint32_t n);  // in [0, n); 0 when n is 0
bool one_in(Dice& dice, uint32_t n);

// Picks an author from the pool: a few of them write most commits, as in a real project.
uint32_t pick_author(Dice& dice);
// A maintainer of the area: the committer of the patches it takes and of its merges.
uint32_t maintainer_of(std::string_view area);
// "Name <mail> seconds zone", the form of git's author and committer lines.
std::string signature(uint32_t author, uint64_t seconds);

// What a message is like: ordinary (several hundred bytes), long (tens of KB: a log excerpt
// pasted into the body), or ordinary but written in Latin-1 (bytes that are not UTF-8).
enum class MessageKind { Ordinary, Long, Latin1 };

// `area` is the directory the commit changes ("net/sched"), named in the subject.
std::string commit_message(Dice& dice, MessageKind kind, std::string_view area, uint32_t author);
// The subject line of a commit message, without its newline.
std::string_view subject_of(std::string_view message);
// A merge of a topic branch, listing the subjects of its commits as pull requests do.
std::string merge_message(Dice& dice, std::string_view topic, std::string_view area,
                          const std::vector<std::string>& subjects, uint32_t author);
// A topic branch's name, such as "sched-fix-timeouts".
std::string topic_name(Dice& dice, std::string_view area);

}  // namespace brackwen::bench
