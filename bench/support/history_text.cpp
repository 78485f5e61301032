// Authors and commit messages for the realistic history. The prose is filled from templates,
// so that it reads like prose to a tokenizer or a search (words, spaces, punctuation) without
// any real project's text.
#include "bench/support/history_text.hpp"

#include <algorithm>
#include <cstdio>

namespace brackwen::bench {
namespace {

constexpr uint32_t AUTHOR_POOL = 300;
constexpr uint32_t MAINTAINERS = 25;
constexpr size_t WRAP_COLUMN = 72;
// One pool entry in NON_LATIN_EVERY comes from the names that are not written in Latin letters.
constexpr uint32_t NON_LATIN_EVERY = 12;

struct Name {
  const char* shown;
  const char* login;  // what the mail address is made of
};

constexpr Name FIRST_NAMES[] = {
    {"Anna", "anna"},         {"José", "jose"},       {"François", "francois"},
    {"Jürgen", "juergen"},    {"Łukasz", "lukasz"},   {"Søren", "soren"},
    {"Zoë", "zoe"},           {"Björn", "bjorn"},     {"Željko", "zeljko"},
    {"Ørjan", "orjan"},       {"İlker", "ilker"},     {"Matías", "matias"},
    {"Chloé", "chloe"},       {"Petr", "petr"},       {"Hélène", "helene"},
    {"Rémi", "remi"},         {"Ümit", "umit"},       {"Agnès", "agnes"},
    {"Márton", "marton"},     {"Jiří", "jiri"},       {"Siobhán", "siobhan"},
    {"Ólafur", "olafur"},     {"Ines", "ines"},       {"Tomás", "tomas"},
    {"David", "david"},       {"Michael", "michael"}, {"Sarah", "sarah"},
    {"Thomas", "thomas"},     {"Laura", "laura"},     {"Daniel", "daniel"},
    {"Emily", "emily"},       {"Peter", "peter"},     {"Kristýna", "kristyna"},
    {"Grégoire", "gregoire"},
};

constexpr Name LAST_NAMES[] = {
    {"García", "garcia"},       {"Müller", "mueller"},
    {"Nowak", "nowak"},         {"Søndergaard", "sondergaard"},
    {"Lefèvre", "lefevre"},     {"Dvořák", "dvorak"},
    {"Öztürk", "ozturk"},       {"Fernández", "fernandez"},
    {"Kovačević", "kovacevic"}, {"Björnsson", "bjornsson"},
    {"Smith", "smith"},         {"Johnson", "johnson"},
    {"Brown", "brown"},         {"Nguyen", "nguyen"},
    {"Kowalski", "kowalski"},   {"Rossi", "rossi"},
    {"Schäfer", "schaefer"},    {"Pérez", "perez"},
    {"Andersen", "andersen"},   {"O'Brien", "obrien"},
    {"Jovanović", "jovanovic"}, {"Hämäläinen", "hamalainen"},
    {"Szabó", "szabo"},         {"Novák", "novak"},
    {"Silva", "silva"},         {"Gonçalves", "goncalves"},
    {"Moreau", "moreau"},       {"Wright", "wright"},
    {"Fischer", "fischer"},     {"Larsen", "larsen"},
};

// Full names in other scripts, with the zone their authors work in.
struct FullName {
  Name name;
  const char* zone;
};

constexpr FullName NON_LATIN_NAMES[] = {
    {{"王伟", "wang.wei"}, "+0800"},
    {{"李娜", "li.na"}, "+0800"},
    {{"张敏", "zhang.min"}, "+0800"},
    {{"刘洋", "liu.yang"}, "+0800"},
    {{"陈静", "chen.jing"}, "+0800"},
    {{"杨磊", "yang.lei"}, "+0800"},
    {{"黄勇", "huang.yong"}, "+0800"},
    {{"赵丽", "zhao.li"}, "+0800"},
    {{"吴军", "wu.jun"}, "+0800"},
    {{"Wei Zhou (周伟)", "zhou.wei"}, "+0800"},
    {{"佐藤 大輔", "daisuke.sato"}, "+0900"},
    {{"高橋 翔", "sho.takahashi"}, "+0900"},
    {{"田中 美咲", "misaki.tanaka"}, "+0900"},
    {{"渡辺 直樹", "naoki.watanabe"}, "+0900"},
    {{"김민준", "minjun.kim"}, "+0900"},
    {{"이서연", "seoyeon.lee"}, "+0900"},
    {{"박지훈", "jihoon.park"}, "+0900"},
    {{"Дмитрий Смирнов", "dmitry.smirnov"}, "+0300"},
    {{"Ольга Кузнецова", "olga.kuznetsova"}, "+0300"},
    {{"Γιώργος Παπαδόπουλος", "g.papadopoulos"}, "+0200"},
    {{"Nguyễn Văn An", "an.nguyen"}, "+0700"},
    {{"Trần Thị Hoa", "hoa.tran"}, "+0700"},
    {{"Arjun Rao", "arjun.rao"}, "+0530"},
    {{"Priya Venkataraman", "priya.v"}, "+0530"},
    {{"Kemal Yılmaz", "kemal.yilmaz"}, "+0300"},
};

constexpr const char* MAIL_DOMAINS[] = {
    "example.com",         "mail.example.org",    "lists.example.net",   "acme-systems.example",
    "chipworks.example",   "cloudco.example",     "uni-example.example", "users.example.org",
    "hosting.example.com", "devices.example.net",
};

constexpr const char* LATIN_ZONES[] = {"+0100", "+0200", "-0700", "-0500", "+0000",
                                       "-0400", "+0100", "-0800", "+0200", "-0300"};

struct Author {
  std::string name;
  std::string email;
  const char* zone;
};

std::string mail_address(uint32_t i, const std::string& first, const std::string& last) {
  std::string domain = MAIL_DOMAINS[(i * 7) % std::size(MAIL_DOMAINS)];
  switch (i % 5) {
    case 0:
      return first + "." + last + "@" + domain;
    case 1:
      return first.substr(0, 1) + last + "@" + domain;
    case 2:
      return first + "@" + domain;
    case 3:
      return first + "." + last + "+git@" + domain;
    default:
      return last + "@" + domain;
  }
}

Author latin_author(uint32_t i) {
  constexpr uint32_t COMBINATIONS = std::size(FIRST_NAMES) * std::size(LAST_NAMES);
  // 389 is prime to the number of combinations, so the walk visits each pair once.
  uint32_t pair = (i * 389) % COMBINATIONS;
  const Name& first = FIRST_NAMES[pair % std::size(FIRST_NAMES)];
  const Name& last = LAST_NAMES[pair / std::size(FIRST_NAMES)];
  return {std::string(first.shown) + " " + last.shown, mail_address(i, first.login, last.login),
          LATIN_ZONES[i % std::size(LATIN_ZONES)]};
}

std::vector<Author> make_authors() {
  std::vector<Author> authors;
  uint32_t non_latin = 0;
  for (uint32_t i = 0; i < AUTHOR_POOL; ++i) {
    if (i % NON_LATIN_EVERY == 5 && non_latin < std::size(NON_LATIN_NAMES)) {
      const FullName& full = NON_LATIN_NAMES[non_latin++];
      std::string domain = MAIL_DOMAINS[(i * 3) % std::size(MAIL_DOMAINS)];
      authors.push_back({full.name.shown, std::string(full.name.login) + "@" + domain, full.zone});
    } else {
      authors.push_back(latin_author(i));
    }
  }
  return authors;
}

const std::vector<Author>& authors() {
  static const std::vector<Author> pool = make_authors();
  return pool;
}

std::string person_line(uint32_t author) {
  const Author& a = authors()[author % authors().size()];
  return a.name + " <" + a.email + ">";
}

// --- prose ---------------------------------------------------------------------------------

constexpr const char* NOUNS[] = {
    "buffer",     "queue",       "lock",      "request", "device",   "driver",    "cache",
    "entry",      "handler",     "timer",     "worker",  "page",     "mapping",   "descriptor",
    "socket",     "packet",      "table",     "counter", "callback", "reference", "index",
    "header",     "register",    "interrupt", "channel", "context",  "node",      "tree",
    "list",       "slot",        "pool",      "flag",    "state",    "offset",    "length",
    "thread",     "transaction", "message",   "path",    "inode",    "extent",    "block",
    "segment",    "frame",       "ring",      "event",   "watchdog", "firmware",  "clock",
    "controller",
};
constexpr const char* VERBS[] = {"releases",  "holds",  "updates", "frees",     "checks",
                                 "reads",     "writes", "flushes", "resets",    "validates",
                                 "allocates", "maps",   "unmaps",  "schedules", "drops",
                                 "clears",    "locks",  "copies",  "walks",     "parses"};
constexpr const char* ADJECTIVES[] = {
    "stale",  "idle",    "shared",     "pending",       "busy",   "large",     "empty",
    "nested", "partial", "concurrent", "uninitialized", "cached", "unaligned", "disabled",
    "remote", "virtual", "deferred",   "active",        "dirty",  "reserved"};
constexpr const char* IMPERATIVES[] = {"fix",       "avoid",    "handle",   "use",      "add",
                                       "remove",    "drop",     "convert",  "simplify", "rework",
                                       "introduce", "validate", "document", "clean up", "refactor",
                                       "check",     "release",  "reset",    "limit",    "export"};

// '#' a noun, '@' a verb, '~' an adjective, '$' a commit id, '^' a subject.
constexpr const char* SUBJECT_TEMPLATES[] = {
    "~ # in # #",        "# leak on error path", "race between # and #",
    "~ # before # @ it", "# # for ~ #s",         "NULL # when # is ~",
    "~ # handling",      "# # under ~ #",        "# count in ~ # path",
};
constexpr const char* SENTENCES[] = {
    "The # @ the ~ # when the # is ~.",
    "Without this change the # can @ a ~ # under load.",
    "Commit $ (\"^\") changed how the # @ the #, but the ~ path was missed.",
    "This has been the case since the # was moved to the ~ #.",
    "Move the # out of the ~ # so that the # no longer @ it twice.",
    "On ~ systems the # is ~, and the # then @ the #.",
    "Keep the # ~ until the # @ it; otherwise a ~ # can see a stale #.",
    "Found by running the ~ # test with the # option enabled.",
    "The ~ # is only used by the # code, which @ it from a ~ context.",
    "Take the # lock around the update, as the # does elsewhere.",
    "Nothing else @ the # at this point, so dropping it is safe.",
    "A later patch @ the ~ # as well, which needs this one first.",
};
constexpr const char* LOG_LINES[] = {
    "[%5u.%06u] %s: ~ # @ 0x%08x on cpu%u",
    "[%5u.%06u] %s: timeout waiting for # %u",
    "[%5u.%06u]  ? %s_# + 0x%x/0x%x",
    "[%5u.%06u] %s: # %u is ~, resetting",
};

// Messages of old tools that wrote Latin-1: written here in UTF-8 and converted.
constexpr const char* LATIN1_SUBJECTS[] = {
    "corrige l'accès concurrent à la file d'attente",
    "Größe des Puffers prüfen, bevor er geleert wird",
    "añade la comprobación del índice en la caché",
    "évite une double libération après un échec",
};
constexpr const char* LATIN1_PARAGRAPHS[] = {
    "Le tampon était libéré deux fois lorsque la requête échouait ; cette\n"
    "modification vérifie l'état avant la libération. Testé sur une machine\n"
    "à huit processeurs, pendant deux jours, sans régression.",
    "Die Größe wird jetzt geprüft, bevor der Puffer geleert wird. Außerdem\n"
    "wird der Zähler zurückgesetzt, damit die nächste Übertragung nicht mit\n"
    "einem veralteten Wert beginnt.",
    "El índice no se comprobaba después de la reconexión; ahora se valida en\n"
    "cada acceso y la caché se vacía cuando el dispositivo está en reposo.",
};

const char* pick(Dice& dice, const auto& pool) {
  return pool[below(dice, static_cast<uint32_t>(std::size(pool)))];
}

std::string hex_id(Dice& dice) {
  char text[16];
  std::snprintf(text, sizeof text, "%012llx",
                static_cast<unsigned long long>(roll(dice) & 0xffffffffffffull));
  return text;
}

// Fills a template's slots; a subject slot gets a fresh subject of `area`.
std::string fill(Dice& dice, std::string_view pattern, std::string_view area);

std::string subject(Dice& dice, std::string_view area) {
  std::string verb = pick(dice, IMPERATIVES);
  return std::string(area) + ": " + verb + " " + fill(dice, pick(dice, SUBJECT_TEMPLATES), area);
}

std::string fill(Dice& dice, std::string_view pattern, std::string_view area) {
  std::string out;
  for (char c : pattern) {
    switch (c) {
      case '#':
        out += pick(dice, NOUNS);
        break;
      case '@':
        out += pick(dice, VERBS);
        break;
      case '~':
        out += pick(dice, ADJECTIVES);
        break;
      case '$':
        out += hex_id(dice);
        break;
      case '^':
        out += subject(dice, area);
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Joins the words into lines of at most WRAP_COLUMN columns, as editors wrap messages.
std::string wrap(std::string_view text) {
  std::string out;
  size_t line = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find(' ', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view word = text.substr(at, end - at);
    if (line > 0 && line + 1 + word.size() > WRAP_COLUMN) {
      out += '\n';
      line = 0;
    } else if (line > 0) {
      out += ' ';
      ++line;
    }
    out += word;
    line += word.size();
    at = end + 1;
  }
  return out;
}

std::string paragraph(Dice& dice, std::string_view area) {
  std::string text;
  uint32_t sentences = 2 + below(dice, 4);
  for (uint32_t k = 0; k < sentences; ++k) {
    if (k) text += ' ';
    text += fill(dice, pick(dice, SENTENCES), area);
  }
  return wrap(text) + "\n";
}

std::string log_excerpt(Dice& dice, std::string_view area, uint32_t lines) {
  std::string out;
  uint32_t seconds = 100 + below(dice, 5000);
  std::string where(area);
  for (uint32_t k = 0; k < lines; ++k) {
    seconds += below(dice, 3);
    // One statement per roll: the order of a call's arguments is the compiler's choice.
    std::string pattern = fill(dice, pick(dice, LOG_LINES), area);
    uint32_t micros = below(dice, 1000000);
    uint32_t value = below(dice, 0xffff);
    uint32_t small = below(dice, 64);
    char text[256];
    std::snprintf(text, sizeof text, pattern.c_str(), seconds, micros, where.c_str(), value, small);
    out += "  ";
    out += text;
    out += '\n';
  }
  return out;
}

// Unicode letters above U+00FF have no Latin-1 byte; an old tool wrote '?' for them.
std::string to_latin1(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
    } else if ((b == 0xc2 || b == 0xc3) && i + 1 < utf8.size()) {
      auto next = static_cast<unsigned char>(utf8[++i]);
      out += static_cast<char>(((b & 0x03) << 6) | (next & 0x3f));
    } else if (b >= 0xc0) {
      out += '?';
      while (i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xc0) == 0x80) ++i;
    }
  }
  return out;
}

std::string trailers(Dice& dice, std::string_view area, uint32_t author) {
  std::string out;
  auto someone = [&] { return person_line(pick_author(dice)); };
  if (one_in(dice, 6)) {
    std::string id = hex_id(dice);
    out += "Fixes: " + id + " (\"" + subject(dice, area) + "\")\n";
  }
  if (one_in(dice, 7)) out += "Reported-by: " + someone() + "\n";
  if (one_in(dice, 15)) out += "Suggested-by: " + someone() + "\n";
  if (one_in(dice, 12)) {
    out += "Closes: https://bugs.example.org/show_bug.cgi?id=" +
           std::to_string(10000 + below(dice, 200000)) + "\n";
  }
  if (one_in(dice, 20)) out += "Cc: stable@lists.example.org\n";
  out += "Signed-off-by: " + person_line(author) + "\n";
  for (uint32_t k = one_in(dice, 3) ? 1 + below(dice, 2) : 0; k > 0; --k) {
    out += "Reviewed-by: " + someone() + "\n";
  }
  if (one_in(dice, 5)) out += "Acked-by: " + someone() + "\n";
  if (one_in(dice, 10)) out += "Tested-by: " + someone() + "\n";
  if (one_in(dice, 2)) {
    const Author& a = authors()[author % authors().size()];
    uint32_t stamp = 100000000 + below(dice, 100000000);
    uint32_t serial = below(dice, 100000);
    out += "Link: https://lists.example.org/r/2017" + std::to_string(stamp) + "." +
           std::to_string(serial) + "-1-" + a.email + "\n";
  }
  uint32_t maintainer = maintainer_of(area);
  if (maintainer != author && !one_in(dice, 4)) {
    out += "Signed-off-by: " + person_line(maintainer) + "\n";
  }
  return out;
}

std::string ordinary_body(Dice& dice, std::string_view area) {
  std::string out;
  uint32_t paragraphs = 1 + below(dice, 3);
  if (one_in(dice, 4)) ++paragraphs;
  for (uint32_t k = 0; k < paragraphs; ++k) {
    out += paragraph(dice, area) + "\n";
    if (k == 0 && one_in(dice, 8)) out += log_excerpt(dice, area, 3 + below(dice, 6)) + "\n";
  }
  return out;
}

}  // namespace

uint64_t roll(Dice& dice) {
  uint64_t z = (dice.state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

uint32_t below(Dice& dice, uint32_t n) {
  return n ? static_cast<uint32_t>(roll(dice) % n) : 0;
}

bool one_in(Dice& dice, uint32_t n) {
  return below(dice, n) == 0;
}

uint32_t pick_author(Dice& dice) {
  // The square of a uniform number: the first tenth of the pool writes a third of the commits.
  double u = static_cast<double>(roll(dice) >> 11) / static_cast<double>(1ull << 53);
  return static_cast<uint32_t>(u * u * AUTHOR_POOL);
}

uint32_t maintainer_of(std::string_view area) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (char c : area) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash % MAINTAINERS;
}

std::string signature(uint32_t author, uint64_t seconds) {
  const Author& a = authors()[author % authors().size()];
  return person_line(author) + " " + std::to_string(seconds) + " " + a.zone;
}

std::string commit_message(Dice& dice, MessageKind kind, std::string_view area, uint32_t author) {
  if (kind == MessageKind::Latin1) {
    std::string text = std::string(area) + ": " + pick(dice, LATIN1_SUBJECTS) + "\n\n";
    text += std::string(pick(dice, LATIN1_PARAGRAPHS)) + "\n\n";
    return to_latin1(text + trailers(dice, area, author));
  }
  std::string text = subject(dice, area) + "\n\n";
  // Some changes need no explanation beyond their subject.
  if (kind == MessageKind::Ordinary && one_in(dice, 12)) return text + trailers(dice, area, author);
  if (kind == MessageKind::Long) {
    text += paragraph(dice, area) + "\nThe log of a failing run:\n\n";
    text += log_excerpt(dice, area, 150 + below(dice, 700)) + "\n";
  }
  text += ordinary_body(dice, area);
  return text + trailers(dice, area, author);
}

std::string_view subject_of(std::string_view message) {
  return message.substr(0, message.find('\n'));
}

std::string merge_message(Dice& dice, std::string_view topic, std::string_view area,
                          const std::vector<std::string>& subjects, uint32_t author) {
  std::string text;
  std::string kind = one_in(dice, 2) ? "tag" : "branch";
  if (kind == "tag") {
    text = "Merge tag '" + std::string(topic) + "' of https://git.example.org/pub/scm/" +
           std::string(area) + "\n\nPull " + std::string(area) + " updates from " +
           authors()[author % authors().size()].name + ":\n\n";
  } else {
    text = "Merge branch '" + std::string(topic) + "' into main\n\n";
  }
  text += paragraph(dice, area) + "\n* " + kind + " '" + std::string(topic) + "':\n";
  for (const std::string& s : subjects) text += "  " + s + "\n";
  return text;
}

std::string topic_name(Dice& dice, std::string_view area) {
  std::string name(area.substr(area.rfind('/') + 1));
  std::string verb = pick(dice, IMPERATIVES);
  std::replace(verb.begin(), verb.end(), ' ', '-');
  name += "-" + verb + "-" + pick(dice, NOUNS);
  return name + "s-" + std::to_string(below(dice, 1000));
}

}  // namespace brackwen::bench
