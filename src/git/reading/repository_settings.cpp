// The repository's own settings that a read puts back to the user's, or refuses.
//
// A filter (filter.<name>.clean, smudge, process) runs on a work tree's files, and a diff
// driver's keys (diff.<driver>.<variable>) name programs (command, textconv) and regular
// expressions (funcname, xfuncname, wordRegex) that git runs on every line above a change.
//
// A lazy fetch runs a program at these points, and these are all the keys through which a
// repository's configuration can choose one:
// - the transport: core.sshCommand (ssh), remote.<name>.uploadpack (run here for a path or
//   file:// remote; over ssh it runs on the host the URL names, which may be this one),
//   core.gitProxy (git://), and a remote helper chosen by remote.<name>.vcs or by a
//   "<helper>::" URL, which the protocol policy (protocol.allow, protocol.<name>.allow) admits;
//   the policy also guards ext::, whose URL is itself a command;
// - credentials: credential.helper and credential.<url>.helper, then core.askPass;
// - fetch-pack's look at the refs of alternates: core.alternateRefsCommand.
// The one file a fetch writes where the configuration says is curl's cookie jar,
// http.cookieFile or http.<url>.cookieFile. Hooks are off for every read (core.hooksPath), and
// the environment variables (GIT_SSH_COMMAND, GIT_SSH, GIT_PROXY_COMMAND, SSH_ASKPASS) are the
// user's own. A lazy fetch reads from the promisor remotes, and a local one that lies inside
// the repository is one the repository ships, with whatever its packs and settings hold.
#include "git/reading/repository_settings.hpp"

#include <algorithm>
#include <unordered_map>

#include "git/reading/config_listing.hpp"
#include "git/reading/local_remotes.hpp"
#include "git/reading/repository_location.hpp"
#include "stores/environment.hpp"

namespace brackwen {
namespace {

// The subsection of "<section>.<subsection>.<variable>", which may be empty or hold dots;
// absent for any other key, "<section>.<variable>" included.
std::optional<std::string_view> subsection(std::string_view key, std::string_view section,
                                           std::string_view variable) {
  if (key.size() < section.size() + variable.size() + 2) return std::nullopt;
  if (!key.starts_with(section) || key[section.size()] != '.') return std::nullopt;
  if (!key.ends_with(variable) || key[key.size() - variable.size() - 1] != '.') return std::nullopt;
  size_t start = section.size() + 1;
  return key.substr(start, key.size() - variable.size() - 1 - start);
}

bool names_variable(std::string_view key, std::string_view section, std::string_view variable) {
  return key.size() == section.size() + 1 + variable.size() && key.starts_with(section) &&
         key[section.size()] == '.' && key.ends_with(variable);
}

// The keys of both forms, "<section>.<variable>" and "<section>.<subsection>.<variable>".
bool in_either_form(std::string_view key, std::string_view section, std::string_view variable) {
  return names_variable(key, section, variable) || subsection(key, section, variable);
}

// The variable of a key: what follows its last dot.
std::string_view variable_of(std::string_view key) {
  return key.substr(key.rfind('.') + 1);
}

// "diff.<driver>.<variable>" as git reads a diff driver's keys: the driver is all between the
// first and the last dot, and every variable counts.
std::optional<std::string_view> diff_driver(std::string_view key) {
  constexpr std::string_view SECTION = "diff.";
  size_t last = key.rfind('.');
  if (!key.starts_with(SECTION) || last < SECTION.size()) return std::nullopt;
  return key.substr(SECTION.size(), last - SECTION.size());
}

// Each setting once, unless `once` is false (a list whose order and repeats count). A key
// "-c" cannot carry (it splits at the first "="), or more than git can hand on, refuses the
// read.
void add_setting(ReadingSettings& out, std::string_view key, std::string_view value,
                 bool once = true) {
  if (key.find('=') != std::string_view::npos) out.refused = true;
  std::string setting = std::string(key) + "=" + std::string(value);
  if (once && !out.seen.insert(setting).second) return;
  size_t quotes = static_cast<size_t>(std::count(setting.begin(), setting.end(), '\''));
  // git passes each on as 'key'='value' and a space.
  out.passed_on_bytes += setting.size() + 6 + 3 * quotes;
  if (out.passed_on_bytes > MAX_PASSED_ON_BYTES) out.refused = true;
  out.settings.push_back(std::move(setting));
}

constexpr std::string_view FILTER_VARIABLES[] = {"clean", "smudge", "process", "required"};

bool is_filter_key(std::string_view key) {
  return std::any_of(
      std::begin(FILTER_VARIABLES), std::end(FILTER_VARIABLES),
      [&](std::string_view variable) { return subsection(key, "filter", variable); });
}

// A single-quoted shell word, as git quotes a program path.
std::string shell_quoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The keys of a lazy fetch whose last value counts: a repository's is put back to the user's.
bool puts_back(std::string_view key) {
  return key == "core.sshcommand" || key == "core.askpass" || key == "core.alternaterefscommand" ||
         subsection(key, "remote", "vcs") || in_either_form(key, "http", "cookiefile");
}

// A setting that stands for a key the user did not set: git's behaviour without the key, as
// near as a value comes.
struct Slot {
  std::string key;
  std::string value;
};

// git's own function line without a pattern: a line starting with a letter, "_" or "$". Only
// the hunk header shows it, which no reply carries; an empty pattern would match every line.
constexpr std::string_view FUNCTION_LINE = "^[A-Za-z_$].*";
// git's own words without a pattern: runs of all but git's white space. Word diffs read it,
// which no read asks for.
constexpr std::string_view WORDS = "[^ \t\n\r]+";

// The last value the user's own files give each key, with the key that gave it, by the slot it
// fills (slot_of).
using UserValues = std::unordered_map<std::string, std::pair<std::string_view, std::string_view>>;

// What a key sets in git: the key itself, but a driver's funcname and xfuncname are one pattern,
// the last given, which "diff.<driver>.funcname" stands for.
std::string slot_of(std::string_view key) {
  if (diff_driver(key) && variable_of(key) == "xfuncname")
    return std::string(key.substr(0, key.size() - variable_of(key).size())) + "funcname";
  return std::string(key);
}

std::string unset_driver_value(std::string_view variable, const UserValues& user) {
  // "auto" is git's own value of a driver nobody set.
  if (variable == "binary") return "auto";
  if (variable == "cachetextconv") return "false";
  if (variable == "wordregex") {
    auto mine = user.find("diff.wordregex");
    return std::string(mine != user.end() ? mine->second.second : WORDS);
  }
  // No program for command and textconv, as for a variable this git does not know.
  return "";
}

Slot unset_setting(std::string_view key, const UserValues& user) {
  if (auto driver = diff_driver(key)) {
    std::string_view variable = variable_of(key);
    if (variable == "funcname" || variable == "xfuncname")
      return {"diff." + std::string(*driver) + ".xfuncname", std::string(FUNCTION_LINE)};
    return {std::string(key), unset_driver_value(variable, user)};
  }
  // git skips a filter whose command is empty; a required one that does not run would stop git.
  if (is_filter_key(key)) return {std::string(key), variable_of(key) == "required" ? "false" : ""};
  if (key == "core.sshcommand") {
    auto ssh = get_environment("GIT_SSH");
    return {std::string(key), ssh ? shell_quoted(*ssh) : "ssh"};
  }
  // Empty would also pass over SSH_ASKPASS, which git asks when core.askPass is unset.
  if (key == "core.askpass") return {std::string(key), get_environment("SSH_ASKPASS").value_or("")};
  // Empty for the rest: an empty alternates command runs nothing (the alternates' refs are
  // then not offered to the remote), no helper has an empty name (a fetch through that remote
  // fails), and no cookie file is read or written.
  return {std::string(key), ""};
}

// The user's values; their credential helpers in order (an empty one empties the list before
// it) and protocol policy go to `out`.
UserValues user_settings(const std::vector<ConfigEntry>& entries, bool scoped,
                         ReadingSettings& out) {
  UserValues last;
  out.user_helpers.clear();
  for (const ConfigEntry& entry : entries) {
    if (from_repository(entry, scoped)) continue;
    // A key without "=" is true to git.
    last.insert_or_assign(slot_of(entry.key), std::pair{entry.key, entry.value.value_or("true")});
    if (!entry.value) continue;
    if (in_either_form(entry.key, "credential", "helper"))
      out.user_helpers.emplace_back(entry.key, *entry.value);
    if (names_variable(entry.key, "protocol", "allow")) {
      out.user_protocol_values.insert_or_assign(std::string(entry.key), *entry.value);
    } else if (auto protocol = subsection(entry.key, "protocol", "allow")) {
      out.protocols.emplace(*protocol);
      out.user_protocol_values.insert_or_assign(std::string(entry.key), *entry.value);
    }
  }
  return last;
}

// The variables whose documented spelling is not all lower case, as a failed read names them.
constexpr std::pair<std::string_view, std::string_view> SPELLINGS[] = {
    {"sshcommand", "sshCommand"},
    {"askpass", "askPass"},
    {"alternaterefscommand", "alternateRefsCommand"},
    {"gitproxy", "gitProxy"},
    {"cookiefile", "cookieFile"},
};

std::string spelled(std::string_view key) {
  std::string_view variable = variable_of(key);
  for (const auto& [lower, documented] : SPELLINGS) {
    if (variable == lower)
      return std::string(key.substr(0, key.size() - variable.size())) + std::string(documented);
  }
  return std::string(key);
}

void set_aside(ReadingSettings& out, std::string_view key) {
  std::string name = spelled(key);
  if (std::find(out.set_aside.begin(), out.set_aside.end(), name) == out.set_aside.end())
    out.set_aside.push_back(std::move(name));
}

// Whether the empty process a repository's `filter.<name>.process` gets back still outranks
// the user's own clean or smudge command of that filter: git runs neither once a process is set,
// and no value of the key unsets it.
bool outranks_users_commands(std::string_view key, const UserValues& user) {
  auto name = subsection(key, "filter", "process");
  if (!name) return false;
  std::string filter = "filter." + std::string(*name) + ".";
  return user.contains(filter + "clean") || user.contains(filter + "smudge");
}

void set_aside_filter(ReadingSettings& out, std::string_view key) {
  std::string name(key);
  if (std::find(out.set_aside_filters.begin(), out.set_aside_filters.end(), name) ==
      out.set_aside_filters.end())
    out.set_aside_filters.push_back(std::move(name));
}

// The repository's keys that are put back, by slot in the order first set.
struct RepositoryKeys {
  std::vector<std::pair<std::string, std::string_view>> put_back;
  std::unordered_set<std::string> noted;
};

void put_back(std::string_view key, RepositoryKeys& keys) {
  std::string slot = slot_of(key);
  if (keys.noted.insert(slot).second) keys.put_back.emplace_back(std::move(slot), key);
}

// A key of the repository's that a lazy fetch would take a program from, noted for what it
// calls for.
void note_fetch_key(std::string_view key, RepositoryKeys& keys, ReadingSettings& out) {
  if (puts_back(key)) {
    put_back(key, keys);
  } else if (subsection(key, "remote", "uploadpack")) {
    out.upload_pack = true;
  } else if (key == "core.gitproxy") {
    out.git_proxy = true;
  } else if (in_either_form(key, "credential", "helper")) {
    out.credential_helpers = true;
  } else if (names_variable(key, "protocol", "allow")) {
    out.repository_protocols = true;
  } else if (auto protocol = subsection(key, "protocol", "allow")) {
    out.repository_protocols = true;
    out.protocols.emplace(*protocol);
  } else {
    return;
  }
  set_aside(out, key);
}

void add_put_back_settings(const std::vector<ConfigEntry>& entries, bool scoped, bool filters,
                           ReadingSettings& out) {
  UserValues user = user_settings(entries, scoped, out);
  RepositoryKeys keys;
  for (const ConfigEntry& entry : entries) {
    if (!from_repository(entry, scoped)) continue;
    if (diff_driver(entry.key) || (filters && is_filter_key(entry.key))) {
      put_back(entry.key, keys);
    } else {
      note_fetch_key(entry.key, keys, out);
    }
  }
  for (const auto& [slot, key] : keys.put_back) {
    if (out.refused) return;
    auto mine = user.find(slot);
    if (mine != user.end()) {
      add_setting(out, mine->second.first, mine->second.second);
    } else {
      Slot unset = unset_setting(key, user);
      add_setting(out, unset.key, unset.value);
      if (outranks_users_commands(key, user)) set_aside_filter(out, key);
    }
  }
}

// A value git's boolean reading takes for false; a key without one is true.
bool is_false(std::optional<std::string_view> value) {
  return value && config_boolean(*value) == false;
}

// The remotes a lazy fetch reads from: the one extensions.partialClone names and each whose
// promisor setting is not false, from any file.
std::vector<std::string_view> promisor_remotes(const std::vector<ConfigEntry>& entries) {
  std::vector<std::string_view> names;
  auto add = [&](std::string_view name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  for (const ConfigEntry& entry : entries) {
    if (entry.key == "extensions.partialclone" && entry.value) {
      add(*entry.value);
    } else if (auto name = subsection(entry.key, "remote", "promisor")) {
      if (!is_false(entry.value)) add(*name);
    }
  }
  return names;
}

// `url` as git rewrites it: the base of the longest url.<base>.insteadOf that starts it.
std::string rewritten(std::string_view url, const std::vector<ConfigEntry>& entries) {
  std::optional<std::string_view> base;
  size_t longest = 0;
  for (const ConfigEntry& entry : entries) {
    auto named = subsection(entry.key, "url", "insteadof");
    if (!named || !entry.value || entry.value->size() <= longest) continue;
    if (!url.starts_with(*entry.value)) continue;
    base = named;
    longest = entry.value->size();
  }
  return base ? std::string(*base) + std::string(url.substr(longest)) : std::string(url);
}

// Each promisor remote's URLs that name a local path, by the key that set them. One without a
// URL in the configuration counts as a path: git then reads the git dir's remotes/ and
// branches/ files, or takes the name itself for one.
std::vector<std::pair<std::string, std::optional<std::string>>> local_promisor_urls(
    const std::vector<ConfigEntry>& entries, const std::vector<std::string_view>& promisors) {
  std::vector<std::pair<std::string, std::optional<std::string>>> found;
  for (std::string_view name : promisors) {
    std::string key = "remote." + std::string(name) + ".url";
    bool configured = false;
    for (const ConfigEntry& entry : entries) {
      if (entry.key != key || !entry.value) continue;
      configured = true;
      if (auto path = local_remote_path(rewritten(*entry.value, entries)))
        found.emplace_back(key, std::move(path));
    }
    if (!configured) found.emplace_back(key, std::nullopt);
  }
  return found;
}

// Refuses local remotes when a promisor remote is a local one inside the repository found at
// `place`. Where git puts it is asked only when a local URL is configured, since it costs a run.
void check_promisor_remotes(const GitPlace& place, const std::vector<ConfigEntry>& entries,
                            ReadingSettings& out) {
  std::vector<std::string_view> promisors = promisor_remotes(entries);
  if (promisors.empty()) return;
  out.lazy_fetches = true;
  auto local = local_promisor_urls(entries, promisors);
  if (local.empty()) return;
  std::optional<RepositoryLocation> location = locate_repository(place).location;
  for (const auto& [key, path] : local) {
    if (location && path && !lies_inside(*location, *path)) continue;
    out.remote_inside = true;
    set_aside(out, key);
  }
}

constexpr std::string_view KNOWN_PROTOCOLS[] = {"file", "git", "http", "https", "ssh", "ext"};

// git's own policy for a protocol nobody set: the network ones it knows to be safe always, ext
// (whose URL is a command) never, any other (file since git 2.38.1) only when the user gave
// the URL, which a lazy fetch counts as given.
std::string builtin_policy(std::string_view protocol) {
  if (protocol == "ext") return "never";
  for (std::string_view safe : {"git", "http", "https", "ssh"}) {
    if (protocol == safe) return "always";
  }
  return "user";
}

std::string protocol_key(std::string_view protocol) {
  return "protocol." + std::string(protocol) + ".allow";
}

std::set<std::string> named_protocols(const ReadingSettings& out) {
  std::set<std::string> all(out.protocols);
  all.insert(std::begin(KNOWN_PROTOCOLS), std::end(KNOWN_PROTOCOLS));
  // No URL scheme holds "=" (nor could "-c" carry it).
  std::erase_if(all, [](const std::string& p) { return p.find('=') != std::string::npos; });
  return all;
}

// GIT_ALLOW_PROTOCOL outranks every setting: the listed protocols always, all others never.
void add_allowed_list(std::string_view list, ReadingSettings& out) {
  std::set<std::string> allowed;
  while (!list.empty()) {
    std::string_view name = list.substr(0, list.find(':'));
    list.remove_prefix(std::min(list.size(), name.size() + 1));
    if (!name.empty() && name != "ext") allowed.emplace(name);
  }
  add_setting(out, "protocol.allow", "never");
  std::set<std::string> named = named_protocols(out);
  for (const std::string& protocol : allowed) {
    if (protocol.find('=') == std::string::npos) named.insert(protocol);
  }
  for (const std::string& protocol : named)
    add_setting(out, protocol_key(protocol), allowed.contains(protocol) ? "always" : "never");
}

// The user's own policy for every protocol named anywhere, and for the others through
// protocol.allow.
void put_back_protocols(ReadingSettings& out) {
  auto user_value = [&](const std::string& key) -> std::optional<std::string> {
    auto found = out.user_protocol_values.find(key);
    if (found == out.user_protocol_values.end()) return std::nullopt;
    return found->second;
  };
  std::optional<std::string> user_default = user_value("protocol.allow");
  add_setting(out, "protocol.allow", user_default.value_or("user"));
  for (const std::string& protocol : named_protocols(out)) {
    std::string policy = protocol == "ext"
                             ? "never"
                             : user_value(protocol_key(protocol))
                                   .value_or(user_default.value_or(builtin_policy(protocol)));
    add_setting(out, protocol_key(protocol), policy);
  }
}

}  // namespace

bool add_repository_settings(const std::string& dir, bool filters, ReadingSettings& out) {
  std::shared_ptr<const ConfigListing> listing = config_listing(dir);
  if (!listing) return false;
  add_listing_settings(GitPlace{dir}, *listing, filters, out);
  return true;
}

void add_listing_settings(const GitPlace& place, const ConfigListing& listing, bool filters,
                          ReadingSettings& out) {
  add_put_back_settings(listing.entries, listing.scoped, filters, out);
  check_promisor_remotes(place, listing.entries, out);
}

void merge_settings(ReadingSettings& into, const ReadingSettings& from) {
  for (const std::string& setting : from.settings) {
    size_t equals = setting.find('=');
    add_setting(into, std::string_view(setting).substr(0, equals),
                std::string_view(setting).substr(equals + 1));
  }
  into.refused = into.refused || from.refused;
  into.repository_protocols = into.repository_protocols || from.repository_protocols;
  into.protocols.insert(from.protocols.begin(), from.protocols.end());
  into.user_protocol_values.insert(from.user_protocol_values.begin(),
                                   from.user_protocol_values.end());
  into.upload_pack = into.upload_pack || from.upload_pack;
  into.git_proxy = into.git_proxy || from.git_proxy;
  into.remote_inside = into.remote_inside || from.remote_inside;
  into.lazy_fetches = into.lazy_fetches || from.lazy_fetches;
  for (const std::string& key : from.set_aside) set_aside(into, key);
  for (const std::string& key : from.set_aside_filters) set_aside_filter(into, key);
  into.credential_helpers = into.credential_helpers || from.credential_helpers;
  if (into.user_helpers.empty()) into.user_helpers = from.user_helpers;
}

void finish_settings(ReadingSettings& out) {
  if (out.credential_helpers) {
    // An empty helper empties the list, the repositories' helpers with it; the user's follow.
    add_setting(out, "credential.helper", "", false);
    for (const auto& [key, value] : out.user_helpers) add_setting(out, key, value, false);
  }
  if (auto list = get_environment("GIT_ALLOW_PROTOCOL")) {
    add_allowed_list(*list, out);
  } else if (out.repository_protocols) {
    put_back_protocols(out);
  }
  // Over ssh and to a local remote git hands the upload-pack to a shell.
  if (out.upload_pack) add_setting(out, "protocol.ssh.allow", "never");
  if (out.upload_pack || out.remote_inside) add_setting(out, "protocol.file.allow", "never");
  if (out.git_proxy && !get_environment("GIT_PROXY_COMMAND"))
    add_setting(out, "protocol.git.allow", "never");
}

std::string set_aside_line(const ReadingSettings& settings, std::string_view subcommand) {
  std::vector<std::string> keys = settings.set_aside_filters;
  if (settings.lazy_fetches)
    keys.insert(keys.end(), settings.set_aside.begin(), settings.set_aside.end());
  if (keys.empty()) return "";
  std::string line = "git " + std::string(subcommand) + " failed: the repository's own ";
  for (size_t i = 0; i < keys.size(); ++i) line += (i ? ", " : "") + keys[i];
  line += keys.size() > 1 ? " are" : " is";
  line += " not used on reads";
  if (!settings.set_aside_filters.empty())
    line += "; while a filter's process is set git runs none of its commands, the user's own too";
  if (!settings.lazy_fetches) return line + "\n";
  if (settings.upload_pack)
    line += "; ssh and local remotes are refused while it sets an upload-pack";
  if (settings.git_proxy && !get_environment("GIT_PROXY_COMMAND"))
    line += "; git:// remotes are refused while it sets a proxy command";
  if (settings.remote_inside)
    line +=
        "; a local remote that lies inside the repository, or that its configuration does not "
        "name, is never fetched from";
  return line + "\n";
}

}  // namespace brackwen
