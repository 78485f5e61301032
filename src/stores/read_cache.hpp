// Answers read from a repository's files, kept between requests while stat says that none of
// those files changed: where git finds it, its configuration listing, and the gitlinks of its
// index.
#pragma once
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "model/config_listing.hpp"
#include "model/file_stamp.hpp"
#include "model/repository_location.hpp"

namespace brackwen {

template <class T>
struct Stamped {
  std::vector<FileStamp> stamps;
  std::shared_ptr<const T> value;
};

using Gitlinks = std::vector<std::string>;

// stat of `path`, following links as a program that opens it does.
FileStamp file_stamp(const std::string& path, bool identity_only = false);

// The time to judge stamps by (settled_before), taken before the files are read.
timespec read_start_time();

// Whether every file was last changed well before `read_start` (CLOCK_REALTIME, taken before
// the files were read): a change made since cannot then leave a file with the same stamp, the
// coarse clock and the file system's granularity allowed for. A file that does not exist counts
// as settled: its creation changes its stamp.
bool settled_before(const std::vector<FileStamp>& stamps, const timespec& read_start);

// The kept value, while its files are unchanged; null otherwise.
std::shared_ptr<const RepositoryLocation> kept_location(const std::string& key);
std::shared_ptr<const ConfigListing> kept_listing(const std::string& key);
std::shared_ptr<const Gitlinks> kept_gitlinks(const std::string& key);

// Keeps a value under `key`, replacing any before it. Each store holds a bounded number of keys
// and bytes (what is kept and its key), and no value larger than a megabyte.
void keep_location(const std::string& key, Stamped<RepositoryLocation> entry);
void keep_listing(const std::string& key, Stamped<ConfigListing> entry);
void keep_gitlinks(const std::string& key, Stamped<Gitlinks> entry);

}  // namespace brackwen
