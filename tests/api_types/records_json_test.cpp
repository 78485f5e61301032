#include "api_types/records_json.hpp"

#include <gtest/gtest.h>

#include "api_types/json.hpp"
#include "json_failures.hpp"
#include "json_samples.hpp"

namespace brackwen {
namespace {

using K = JsonFailureKind;
using samples::array_form;
using samples::sample;
using test::failure_kind;
using test::failure_message;

template <class T>
class EveryRecord : public testing::Test {};

using Records =
    testing::Types<DateResult, Commit, ParsedCommit, RefInfo, Patch, WipPatch, LineRange, HunkLine,
                   Hunk, PatchMatch, ActionError, ActionState, ReqOptions, RunOptions, ScanOptions,
                   ReqHunkOptions, ReqWipHunksOptions, ReqCommitsOptions2, TopCommitOptions,
                   CommitDiffOpts, RefDiffOptions, CodeSearchOpts, PollSearchOpts,
                   ReqPatchesForCommitOpts, SearchOptions, CommitAncestorOpts, CommitOnBranchOpts,
                   LoadConflictOptions, ReqImageOptions, MessageAC, WatchRepoOptions,
                   CommandOptions, CommandsOptions, CloneOptions, Credentials, StashStagedOptions,
                   PollOptions, WriteFileOpts, DataStoreValues, CommitFilter, DataStoreReply,
                   SetDataStoreResult, DiffSearchPoll, ConflictSideLine, ConflictSection, HeadInfo,
                   RefDiff, AheadBehind, UnpushedCommits>;
TYPED_TEST_SUITE(EveryRecord, Records);

TYPED_TEST(EveryRecord, WrittenTextReadsBackEqual) {
  auto value = sample<TypeParam>();
  std::string json = to_json(value);
  auto read = parse_json<TypeParam>(json);
  ASSERT_FALSE(read.failure) << json << "\n" << read.failure->message;
  EXPECT_EQ(read.value, value) << json;
}

TYPED_TEST(EveryRecord, ArrayFormReadsLikeObjectForm) {
  if constexpr (JsonRecordType<TypeParam>) {
    auto value = sample<TypeParam>();
    std::string json = array_form(value);
    auto read = parse_json<TypeParam>(json);
    ASSERT_FALSE(read.failure) << json << "\n" << read.failure->message;
    EXPECT_EQ(read.value, value) << json;
  }
}

// An empty object names the first field in declaration order.
TYPED_TEST(EveryRecord, EmptyObjectNamesTheFirstRequiredField) {
  if constexpr (JsonRecordType<TypeParam>) {
    std::string key(std::get<0>(JsonRecord<TypeParam>::fields).key);
    EXPECT_EQ(failure_message<TypeParam>("{}"), "missing field `" + key + "`");
  }
}

Commit bare_commit() {
  Commit c;
  c.author = "a";
  c.email = "b";
  c.date = {1.5f, 60};
  c.id = "c";
  c.message = "m";
  return c;
}

TEST(CommitJson, WritesAllTwelveKeysInOrder) {
  Commit c = bare_commit();
  c.date = {1.7e12f, -500};
  EXPECT_EQ(to_json(c),
            R"({"author":"a","email":"b","date":{"ms":1700000000000.0,"adjustment":-500},)"
            R"("id":"c","index":0,"parentIds":[],"isMerge":false,"message":"m","stashId":null,)"
            R"("refs":[],"filtered":false,"numSkipped":0})");
}

TEST(CommitJson, ParsedCommitCarriesWholeRefs) {
  ParsedCommit parsed;
  parsed.refs.resize(2);
  parsed.refs[1].ref_type = RefType::Tag;
  std::string json = to_json(std::optional<ParsedCommit>(parsed));
  std::string ref = to_json(parsed.refs[0]);
  EXPECT_NE(json.find(R"("refs":[)" + ref + ","), std::string::npos) << json;
  EXPECT_EQ(to_json(std::optional<ParsedCommit>()), "null");
  EXPECT_EQ(failure_kind<Commit>(json), K::InvalidType);  // refs must be ids
  parsed.refs.clear();
  EXPECT_TRUE(read_body<Commit>(to_json(parsed)));
}

TEST(CommitJson, ReadingOnlyStashIdMayBeMissing) {
  std::string full = to_json(bare_commit());
  auto without = [&](std::string_view key, std::string_view value) {
    std::string text = full;
    std::string member = "\"" + std::string(key) + "\":" + std::string(value) + ",";
    text.erase(text.find(member), member.size());
    return text;
  };
  EXPECT_EQ(read_body<Commit>(without("stashId", "null")), bare_commit());
  EXPECT_EQ(failure_message<Commit>(without("filtered", "false")), "missing field `filtered`");
  std::string no_email_no_refs = without("refs", "[]");
  no_email_no_refs.erase(no_email_no_refs.find(R"("email":"b",)"), 12);
  EXPECT_EQ(failure_message<Commit>(no_email_no_refs), "missing field `email`");
  std::string capital = full;
  capital[2] = 'A';
  EXPECT_EQ(failure_message<Commit>(capital), "missing field `author`");
}

TEST(RefInfoJson, AbsentNamesAreNull) {
  RefInfo ref;
  ref.id = "i";
  ref.ref_type = RefType::Stash;
  EXPECT_EQ(to_json(ref),
            R"({"id":"i","location":"Local","fullName":"","shortName":"","remoteName":null,)"
            R"("siblingId":null,"refType":"Stash","head":false,"commitId":"","time":0.0})");
  EXPECT_EQ(fmt_ref_location(RefLocation::Remote), "Remote");
}

TEST(PatchJson, LettersAndForms) {
  Patch p{"c", "o", "n", PatchType::C, "i", false};
  EXPECT_EQ(
      to_json(p),
      R"({"commitId":"c","oldFile":"o","newFile":"n","patchType":"C","id":"i","isImage":false})");
  EXPECT_EQ(read_body<Patch>(R"(["c","o","n","C","i",false])"), p);
  const char* letters = "ACBDMRTUX";
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(read_body<PatchType>("\"" + std::string(1, letters[i]) + "\""), PatchType(i));
  }
  EXPECT_EQ(read_body<PatchType>(R"({ "M" : null })"), PatchType::M);
  EXPECT_EQ(failure_kind<PatchType>(R"({"M":1})"), K::InvalidType);
  EXPECT_EQ(failure_kind<PatchType>(R"({"M":nul})"), K::Syntax);
  EXPECT_EQ(failure_kind<PatchType>(R"({"M":null,"A":null})"), K::Syntax);
  for (const char* bad : {R"("m")", R"("")", R"("MM")", R"(" M")", R"({"m":null})"}) {
    EXPECT_EQ(failure_kind<PatchType>(bad), K::UnknownVariant) << bad;
  }
  EXPECT_EQ(failure_message<PatchType>(R"("m")"),
            "unknown variant `m`, expected one of `A`, `C`, `B`, `D`, `M`, `R`, `T`, `U`, `X`");
  for (std::string bad : {"4", "null", "true", "[\"M\"]"}) {
    EXPECT_EQ(failure_kind<std::vector<PatchType>>("[" + bad + "]"), K::Syntax) << bad;
  }
  EXPECT_EQ(
      failure_message<Patch>(R"({"oldFile":"o","newFile":"n","patchType":"M","isImage":true})"),
      "missing field `commitId`");
  EXPECT_EQ(failure_message<Patch>(R"(["c","o","n","M","i"])"),
            "invalid length 5, expected struct Patch with 6 elements");
}

TEST(WipPatchJson, SpaceAndQuestionMark) {
  WipPatch w{"o",  "n",  WipPatchType::Question, WipPatchType::Unchanged, WipPatchType::M, true,
             "n?", false};
  EXPECT_EQ(to_json(w),
            R"({"oldFile":"o","newFile":"n","patchType":"?","stagedType":" ","unStagedType":"M",)"
            R"("conflicted":true,"id":"n?","isImage":false})");
  EXPECT_EQ(fmt_wip_patch_type(WipPatchType::Unchanged), " ");
  for (const char* bad : {R"("")", R"("  ")", R"("B")", R"("T")", R"("X")"}) {
    EXPECT_EQ(failure_kind<WipPatchType>(bad), K::UnknownVariant) << bad;
  }
  EXPECT_EQ(failure_kind<WipPatchType>("5"), K::Syntax);
  EXPECT_EQ(failure_message<WipPatch>(R"(["o","n","?"," ","M",true,"n?"])"),
            "invalid length 7, expected struct WipPatch with 8 elements");
  auto extra = read_body<WipPatch>(R"({"commitId":"x",)" + to_json(w).substr(1));
  EXPECT_EQ(extra, w);
}

TEST(HunkJson, LinesAndRanges) {
  HunkLine header{
      HunkLineStatus::HeaderStart, std::nullopt, std::nullopt, -1, "@@", 4294967295u, "\r\n"};
  EXPECT_EQ(to_json(header),
            R"({"status":"headerStart","oldNum":null,"newNum":null,"hunkIndex":-1,"text":"@@",)"
            R"("index":4294967295,"lineEnding":"\r\n"})");
  HunkLine same{HunkLineStatus::Unchanged, 1, 2, 0, "x", 0, "\n"};
  EXPECT_NE(to_json(same).find(R"("status":" ")"), std::string::npos);
  Hunk hunk{{0, 0}, {3, 4}, "ctx", {}, 2};
  EXPECT_EQ(to_json(hunk),
            R"({"oldLineRange":{"start":0,"length":0},"newLineRange":{"start":3,"length":4},)"
            R"("contextLine":"ctx","lines":[],"index":2})");
  using LoadHunks = std::pair<std::vector<Hunk>, std::vector<HunkLine>>;
  EXPECT_EQ(to_json(LoadHunks{}), "[[],[]]");
}

TEST(ActionJson, ErrorForms) {
  ActionState state;
  EXPECT_EQ(to_json(state), R"({"stdout":[],"stderr":[],"done":false,"error":null})");
  state.stderr_lines = {"a\nb"};
  state.done = true;
  state.error = ActionError{ActionError::Kind::IO, "no git"};
  EXPECT_EQ(to_json(state),
            R"({"stdout":[],"stderr":["a\nb"],"done":true,"error":{"iO":"no git"}})");
  EXPECT_EQ(to_json(ActionError{ActionError::Kind::Credential, ""}), R"("credential")");
  EXPECT_EQ(to_json(ActionError{ActionError::Kind::Git, ""}), R"("git")");
  EXPECT_EQ(read_body<ActionError>(R"({"git":null})"), (ActionError{ActionError::Kind::Git, ""}));
  EXPECT_EQ(failure_kind<ActionError>(R"("iO")"), K::InvalidType);
  EXPECT_EQ(to_json(std::optional<ActionState>()), "null");
}

}  // namespace
}  // namespace brackwen
