// RewrittenText: the result of one RegexPattern::ReplaceAll while it is being
// built. It holds the caller's own bytes that are still there and, between
// them, the texts that replacements inserted, kept apart so that no later
// replacement of the same call ever looks inside them.
//
// An occurrence of a matched text may be replaced when it is made of the
// caller's own bytes only (no inserted text inside it) and begins and ends on
// the caller's characters, as the code page's rule (support/characters.h) cut
// the text before the call. Removing an occurrence (an empty replacement)
// joins the bytes on either side, and an occurrence may then cross the join;
// each join is numbered so that a later search for a text already replaced
// everywhere needs to look only around the joins made since.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qp {

class RewrittenText {
 public:
  explicit RewrittenText(std::string_view text);

  // Where the occurrences of `from` (not empty) that may be replaced begin,
  // left to right and not overlapping, as a scan of the whole text finds them.
  void FindEverywhere(std::string_view from, std::vector<size_t>& hits) const;
  // The same, for a text that was already replaced everywhere when the
  // join numbered `since` was yet to be made: only occurrences that cross a
  // join numbered `since` or later can have appeared since.
  void FindAtJoins(std::string_view from, uint64_t since, std::vector<size_t>& hits) const;
  // Replaces the occurrences found at `hits` (each `length` bytes) by `copy`.
  void Replace(const std::vector<size_t>& hits, size_t length, std::string copy);

  // How many joins were made so far (the number the next one gets).
  uint64_t joinCount() const { return joinCount_; }
  // The text with every inserted text in its place.
  std::string Result() const;

 private:
  // Flags of an own byte.
  enum : uint8_t {
    kCharStart = 1,    // a character of the caller's text starts here
    kCharEnd = 2,      // and ends with this byte
    kAfterInsert = 4,  // an inserted text sits just before this byte
  };
  struct Insert {
    size_t gap;     // it sits before own_[gap]
    size_t copy;    // index into copies_
  };
  struct Join {
    size_t gap;     // between own_[gap - 1] and own_[gap]
    uint64_t number;
  };

  // Scans for occurrences of `from` that begin in [low, high) and at or after
  // `cursor`, appending them to `hits` and moving `cursor` past each one.
  void Scan(std::string_view from, size_t low, size_t high, size_t& cursor,
            std::vector<size_t>& hits) const;
  // 0 when the occurrence at x may be replaced, else the next place where
  // one might begin.
  size_t Refusal(size_t x, size_t length) const;

  std::string own_;             // the caller's bytes still in the text
  std::vector<uint8_t> flags_;  // one per byte of own_
  std::vector<Insert> inserts_;  // in text order
  std::vector<std::string> copies_;
  std::vector<Join> joins_;      // in the order they were made
  uint64_t joinCount_ = 0;
};

}  // namespace qp
