#include "regex/regex_rewrite.h"

#include <string.h>

#include <algorithm>
#include <utility>

#include "support/characters.h"

namespace qp {

RewrittenText::RewrittenText(std::string_view text) : own_(text), flags_(text.size(), 0) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = CharLengthAt(text, i);
    flags_[i] |= kCharStart;
    flags_[i + length - 1] |= kCharEnd;
    i += length;
  }
}

size_t RewrittenText::Refusal(size_t x, size_t length) const {
  if (!(flags_[x] & kCharStart) || !(flags_[x + length - 1] & kCharEnd)) return x + 1;
  // An occurrence that begins before an inserted text and reaches past it
  // holds it; so does every one that begins between x and the insert.
  for (size_t k = x + 1; k < x + length; ++k)
    if (flags_[k] & kAfterInsert) return k;
  return 0;
}

void RewrittenText::Scan(std::string_view from, size_t low, size_t high, size_t& cursor,
                         std::vector<size_t>& hits) const {
  const size_t length = from.size();
  if (length > own_.size()) return;
  high = std::min(high, own_.size() - length + 1);
  // memmem is linear in the text whatever the needle (two-way search).
  for (size_t pos = std::max(low, cursor); pos < high;) {
    const void* found = memmem(own_.data() + pos, high - 1 + length - pos, from.data(), length);
    if (!found) return;
    const size_t x = static_cast<size_t>(static_cast<const char*>(found) - own_.data());
    const size_t refusal = Refusal(x, length);
    if (refusal != 0) {
      pos = refusal;
      continue;
    }
    hits.push_back(x);
    pos = cursor = x + length;
  }
}

void RewrittenText::FindEverywhere(std::string_view from, std::vector<size_t>& hits) const {
  size_t cursor = 0;
  Scan(from, 0, own_.size(), cursor, hits);
}

void RewrittenText::FindAtJoins(std::string_view from, uint64_t since,
                                std::vector<size_t>& hits) const {
  auto first = std::lower_bound(joins_.begin(), joins_.end(), since,
                                [](const Join& join, uint64_t n) { return join.number < n; });
  std::vector<size_t> gaps;
  for (auto it = first; it != joins_.end(); ++it) gaps.push_back(it->gap);
  std::sort(gaps.begin(), gaps.end());
  const size_t length = from.size();
  size_t cursor = 0;
  // An occurrence crosses the join at g when it begins in [g - length + 1, g).
  for (size_t gap : gaps) Scan(from, gap + 1 > length ? gap + 1 - length : 0, gap, cursor, hits);
}

void RewrittenText::Replace(const std::vector<size_t>& hits, size_t length, std::string copy) {
  if (hits.empty()) return;
  const size_t copyIndex = copies_.size();
  const bool inserting = !copy.empty();
  if (inserting) copies_.push_back(std::move(copy));

  std::string own;
  std::vector<uint8_t> flags;
  own.reserve(own_.size() - hits.size() * length);
  flags.reserve(own.capacity());
  std::vector<size_t> hitGaps;  // where each hit is in the new text
  hitGaps.reserve(hits.size());
  size_t at = 0;
  for (size_t x : hits) {
    own.append(own_, at, x - at);
    flags.insert(flags.end(), flags_.begin() + static_cast<ptrdiff_t>(at),
                 flags_.begin() + static_cast<ptrdiff_t>(x));
    hitGaps.push_back(own.size());
    at = x + length;
  }
  own.append(own_, at, std::string::npos);
  flags.insert(flags.end(), flags_.begin() + static_cast<ptrdiff_t>(at), flags_.end());

  // A gap keeps its place relative to the bytes around it; one at either
  // end of a hit moves to where the hit was.
  auto Moved = [&](size_t gap) {
    const size_t before = static_cast<size_t>(
        std::upper_bound(hits.begin(), hits.end(), gap,
                         [&](size_t g, size_t x) { return g < x + length; }) -
        hits.begin());
    return gap - before * length;
  };

  // Inserts at a hit's start come before its copy, those at its end after.
  std::vector<Insert> inserts;
  inserts.reserve(inserts_.size() + (inserting ? hits.size() : 0));
  size_t next = 0;
  for (size_t k = 0; k < hits.size(); ++k) {
    for (; next < inserts_.size() && inserts_[next].gap <= hits[k]; ++next)
      inserts.push_back({Moved(inserts_[next].gap), inserts_[next].copy});
    if (inserting) inserts.push_back({hitGaps[k], copyIndex});
  }
  for (; next < inserts_.size(); ++next)
    inserts.push_back({Moved(inserts_[next].gap), inserts_[next].copy});
  for (const Insert& insert : inserts)
    if (insert.gap < flags.size()) flags[insert.gap] |= kAfterInsert;

  // Joins at or inside a hit are gone; a removed hit makes a new one when
  // the caller's bytes on both sides now touch.
  std::vector<Join> joins;
  joins.reserve(joins_.size() + (inserting ? 0 : hits.size()));
  for (const Join& join : joins_) {
    auto hit = std::upper_bound(hits.begin(), hits.end(), join.gap);
    if (hit != hits.begin() && join.gap <= *(hit - 1) + length) continue;
    joins.push_back({Moved(join.gap), join.number});
  }
  if (!inserting) {
    for (size_t k = 0; k < hitGaps.size(); ++k) {
      const size_t gap = hitGaps[k];
      if (gap == 0 || gap >= own.size() || (flags[gap] & kAfterInsert)) continue;
      if (k > 0 && hitGaps[k - 1] == gap) continue;
      joins.push_back({gap, joinCount_++});
    }
  }

  own_ = std::move(own);
  flags_ = std::move(flags);
  inserts_ = std::move(inserts);
  joins_ = std::move(joins);
}

std::string RewrittenText::Result() const {
  size_t size = own_.size();
  for (const Insert& insert : inserts_) size += copies_[insert.copy].size();
  std::string out;
  out.reserve(size);
  size_t at = 0;
  for (const Insert& insert : inserts_) {
    out.append(own_, at, insert.gap - at);
    out += copies_[insert.copy];
    at = insert.gap;
  }
  out.append(own_, at, std::string::npos);
  return out;
}

}  // namespace qp
