// RewrittenText: the result of one RegexPattern::ReplaceAll while it is being
// built. It keeps the caller's text as it was, a mark on every byte that a
// replacement has taken away, and the inserted texts beside it, each at the
// place of the occurrence it replaced; no later replacement of the same call
// ever looks inside them.
//
// An occurrence of a matched text may be replaced when it is made of the
// caller's own bytes that are still there (no inserted text between them) and
// begins and ends on the caller's characters, as the code page's rule
// (support/characters.h) cut the text before the call. Removing an occurrence
// (an empty replacement) joins the bytes on either side, and an occurrence may
// then cross the join. Joins are numbered, so that a text already replaced
// everywhere needs to be looked for again only across the joins made since.
//
// Nothing is moved while the call runs: replacing costs the bytes replaced,
// and looking for a text costs its occurrences in the caller's text (found
// through an index of short byte sequences once the call has looked for
// enough different texts) plus the joins whose two sides it could span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qp {

class RewrittenText {
 public:
  // `text` must outlive the object.
  explicit RewrittenText(std::string_view text);

  // An occurrence: the caller's bytes from `first` to `last` that are still
  // there (bytes taken away between them are joined over).
  struct Hit {
    size_t first;
    size_t last;
  };

  // The occurrences of `from` (not empty) that may be replaced, left to right
  // and not overlapping, as a scan of the whole text finds them.
  void FindEverywhere(std::string_view from, std::vector<Hit>& hits);
  // The same for a text that was replaced everywhere before the join numbered
  // `since` was made: only an occurrence across a later join can have
  // appeared since.
  void FindAtJoins(std::string_view from, uint64_t since, std::vector<Hit>& hits) const;
  // Replaces the occurrences at `hits` by `copy`.
  void Replace(const std::vector<Hit>& hits, std::string copy);

  // How many joins were made so far (the number the next one gets).
  uint64_t joinCount() const { return joinCount_; }
  // The text with every replacement in its place.
  std::string Result() const;

 private:
  enum : uint8_t {
    kCharStart = 1,  // a character of the caller's text starts here
    kCharEnd = 2,    // and ends with this byte
    kTaken = 4,      // a replacement took this byte away
  };
  struct Insert {
    size_t gap;   // before the caller's byte `gap` (the first one it replaced)
    size_t copy;  // index into copies_
  };
  struct Stretch {
    size_t end;           // one past its last byte
    bool holdsInsert;     // an inserted text sits at one of its bytes
  };
  struct Join {
    size_t at;        // a byte of the removed stretch
    uint64_t number;
  };
  // The start of every q-byte sequence of the text, chained by a hash of it.
  struct GramIndex {
    size_t q = 0;
    uint32_t bits = 0;  // for q = 4: the bucket count is 2^bits
    std::vector<int32_t> head, next;
    std::vector<uint32_t> count;
    uint32_t Bucket(const char* bytes) const;
  };

  // Occurrences that lie in one piece of the caller's text.
  void FindInPlace(std::string_view from, std::vector<Hit>& found);
  // Occurrences that cross the taken stretch around `at`.
  void FindAcross(std::string_view from, size_t at, std::vector<Hit>& found) const;
  // Keeps, left to right, the occurrences that do not overlap an earlier one.
  static void TakeLeftmost(std::vector<Hit>& found, std::vector<Hit>& hits);
  bool MayReplace(size_t first, size_t last) const;
  // Whether an inserted text sits between the kept bytes a < b.
  bool InsertBetween(size_t a, size_t b) const;
  // The taken stretch [start, end) that holds byte i (taken).
  std::pair<size_t, size_t> TakenAround(size_t i) const;
  // Marks [first, last] taken, merged with the stretches it touches; returns
  // the merged stretch.
  std::map<size_t, Stretch>::iterator Take(size_t first, size_t last, bool inserting);
  size_t NextKept(size_t i) const;  // the first kept byte at or after i, or size
  size_t PrevKept(size_t i) const;  // the last kept byte before i, or npos
  const GramIndex* IndexFor(size_t length);

  std::string_view text_;
  std::vector<uint8_t> flags_;
  std::map<size_t, Stretch> taken_;  // maximal taken stretches by start
  std::vector<Insert> inserts_;
  std::vector<std::string> copies_;
  std::vector<Join> joins_;  // in the order they were made
  // Joins by the two bytes they bring together, as indices into joins_.
  std::unordered_map<uint32_t, std::vector<uint32_t>> joinsByPair_;
  uint64_t joinCount_ = 0;
  size_t textsLookedFor_ = 0;
  GramIndex indexes_[3];  // for q = 1, 2 and 4
};

}  // namespace qp
