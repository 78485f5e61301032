// The repository's own settings that a read switches off or puts back to the user's.
//
// A lazy fetch runs a program at these points, and these are all the keys through which a
// repository's configuration can choose one:
// - the transport: core.sshCommand (ssh), remote.<name>.uploadpack (run here for a path or
//   file:// remote; over ssh it runs on the other host), core.gitProxy (git://), and a remote
//   helper chosen by remote.<name>.vcs or by a "<helper>::" URL, which the protocol policy
//   (protocol.allow, protocol.<name>.allow) admits; the policy also guards ext::, whose URL is
//   itself a command;
// - credentials: credential.helper and credential.<url>.helper, then core.askPass;
// - fetch-pack's look at the refs of alternates: core.alternateRefsCommand.
// The one file a fetch writes where the configuration says is curl's cookie jar,
// http.cookieFile or http.<url>.cookieFile. Hooks are off for every read (core.hooksPath), and
// the environment variables (GIT_SSH_COMMAND, GIT_SSH, GIT_PROXY_COMMAND, SSH_ASKPASS) are the
// user's own.
#include "git/repository_settings.hpp"

#include <algorithm>
#include <unordered_map>

#include "git/config_listing.hpp"
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

constexpr std::string_view FILTER_VARIABLES[] = {"clean", "smudge", "process"};

std::optional<std::string_view> filter_name(std::string_view key) {
  for (std::string_view variable : FILTER_VARIABLES) {
    if (auto name = subsection(key, "filter", variable)) return name;
  }
  return std::nullopt;
}

// git skips a driver whose command is empty; a required one that does not run would stop git.
void add_filters(const std::vector<ConfigEntry>& entries, bool scoped, ReadingSettings& out) {
  std::unordered_set<std::string_view> names;
  for (const ConfigEntry& entry : entries) {
    if (out.refused) return;
    if (!from_repository(entry, scoped)) continue;
    auto name = filter_name(entry.key);
    if (!name || !names.insert(*name).second) continue;
    std::string prefix = "filter." + std::string(*name) + ".";
    for (std::string_view variable : FILTER_VARIABLES)
      add_setting(out, prefix + std::string(variable), "");
    add_setting(out, prefix + "required", "false");
  }
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

// What stands for a key of those the user did not set: git's behaviour without it.
std::string unset_value(std::string_view key) {
  if (key == "core.sshcommand") {
    auto ssh = get_environment("GIT_SSH");
    return ssh ? shell_quoted(*ssh) : "ssh";
  }
  // Empty would also pass over SSH_ASKPASS, which git asks when core.askPass is unset.
  if (key == "core.askpass") return get_environment("SSH_ASKPASS").value_or("");
  // Empty for the rest: an empty alternates command runs nothing (the alternates' refs are
  // then not offered to the remote), no helper has an empty name (a fetch through that remote
  // fails), and no cookie file is read or written.
  return "";
}

// The last value the user's own files give each key; their credential helpers in order (an
// empty one empties the list before it) and protocol policy go to `out`.
std::unordered_map<std::string_view, std::string_view> user_settings(
    const std::vector<ConfigEntry>& entries, bool scoped, ReadingSettings& out) {
  std::unordered_map<std::string_view, std::string_view> last;
  out.user_helpers.clear();
  for (const ConfigEntry& entry : entries) {
    if (from_repository(entry, scoped) || !entry.value) continue;
    last[entry.key] = *entry.value;
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

// The repository's keys that a fetch would take a program from, noted for what they call for.
struct RepositoryKeys {
  std::vector<std::string_view> put_back;  // in the order first set
  std::unordered_set<std::string_view> noted;
};

void note_repository_key(std::string_view key, RepositoryKeys& keys, ReadingSettings& out) {
  if (puts_back(key)) {
    if (keys.noted.insert(key).second) keys.put_back.push_back(key);
  } else if (subsection(key, "remote", "uploadpack")) {
    out.local_upload_pack = true;
  } else if (key == "core.gitproxy") {
    out.git_proxy = true;
  } else if (in_either_form(key, "credential", "helper")) {
    out.credential_helpers = true;
  } else if (names_variable(key, "protocol", "allow")) {
    out.repository_protocols = true;
  } else if (auto protocol = subsection(key, "protocol", "allow")) {
    out.repository_protocols = true;
    out.protocols.emplace(*protocol);
  }
}

void add_transport_settings(const std::vector<ConfigEntry>& entries, bool scoped,
                            ReadingSettings& out) {
  auto user = user_settings(entries, scoped, out);
  RepositoryKeys keys;
  for (const ConfigEntry& entry : entries) {
    if (from_repository(entry, scoped)) note_repository_key(entry.key, keys, out);
  }
  for (std::string_view key : keys.put_back) {
    auto mine = user.find(key);
    add_setting(out, key, mine != user.end() ? std::string(mine->second) : unset_value(key));
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
  add_listing_settings(*listing, filters, out);
  return true;
}

void add_listing_settings(const ConfigListing& listing, bool filters, ReadingSettings& out) {
  if (filters) add_filters(listing.entries, listing.scoped, out);
  add_transport_settings(listing.entries, listing.scoped, out);
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
  into.local_upload_pack = into.local_upload_pack || from.local_upload_pack;
  into.git_proxy = into.git_proxy || from.git_proxy;
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
  if (out.local_upload_pack) add_setting(out, "protocol.file.allow", "never");
  if (out.git_proxy && !get_environment("GIT_PROXY_COMMAND"))
    add_setting(out, "protocol.git.allow", "never");
}

}  // namespace brackwen
