#include "regex/regex_rewrite.h"

#include <string.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <utility>

#include "support/characters.h"

namespace qp {
namespace {

// A short text, or the first few texts of a call, are looked for by a plain
// scan; after that an index pays for its one pass over the text.
constexpr size_t kIndexFromSize = 4096;
constexpr size_t kIndexAfterTexts = 16;

uint32_t PairKey(char a, char b) {
  return (uint32_t{static_cast<unsigned char>(a)} << 8) | static_cast<unsigned char>(b);
}

// The distinct byte pairs of `from`, sorted: a text can only be found across
// a join whose two bytes are one of them.
std::vector<uint32_t> DistinctPairs(std::string_view from) {
  std::vector<uint32_t> pairs;
  for (size_t k = 0; k + 1 < from.size(); ++k) pairs.push_back(PairKey(from[k], from[k + 1]));
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  return pairs;
}

}  // namespace

RewrittenText::RewrittenText(std::string_view text) : text_(text), flags_(text.size(), 0) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = CharLengthAt(text, i);
    flags_[i] |= kCharStart;
    flags_[i + length - 1] |= kCharEnd;
    i += length;
  }
}

uint32_t RewrittenText::GramIndex::Bucket(const char* bytes) const {
  uint32_t value = 0;
  memcpy(&value, bytes, q);
  return q < 4 ? value : (value * 2654435761u) >> (32 - bits);
}

const RewrittenText::GramIndex* RewrittenText::IndexFor(size_t length) {
  if (text_.size() < kIndexFromSize || text_.size() > INT32_MAX ||
      textsLookedFor_ <= kIndexAfterTexts)
    return nullptr;
  const size_t which = length >= 4 ? 2 : length >= 2 ? 1 : 0;
  GramIndex& index = indexes_[which];
  if (index.q != 0) return &index;
  index.q = which == 2 ? 4 : which + 1;
  size_t buckets = size_t{1} << (8 * index.q);
  if (index.q == 4) {
    uint32_t bits = 10;
    while (bits < 22 && (size_t{1} << bits) < text_.size()) ++bits;
    index.bits = bits;
    buckets = size_t{1} << bits;
  }
  index.head.assign(buckets, -1);
  index.count.assign(buckets, 0);
  const size_t starts = text_.size() - index.q + 1;
  index.next.resize(starts);
  for (size_t i = starts; i-- > 0;) {
    const uint32_t bucket = index.Bucket(text_.data() + i);
    index.next[i] = index.head[bucket];
    index.head[bucket] = static_cast<int32_t>(i);
    ++index.count[bucket];
  }
  return &index;
}

std::pair<size_t, size_t> RewrittenText::TakenAround(size_t i) const {
  auto it = std::prev(taken_.upper_bound(i));
  return {it->first, it->second.end};
}

size_t RewrittenText::NextKept(size_t i) const {
  if (i >= text_.size()) return text_.size();
  return (flags_[i] & kTaken) ? TakenAround(i).second : i;
}

size_t RewrittenText::PrevKept(size_t i) const {
  if (i == 0) return std::string_view::npos;
  if (!(flags_[i - 1] & kTaken)) return i - 1;
  const size_t start = TakenAround(i - 1).first;
  return start == 0 ? std::string_view::npos : start - 1;
}

bool RewrittenText::InsertBetween(size_t a, size_t b) const {
  for (auto it = taken_.upper_bound(a); it != taken_.end() && it->first < b; ++it)
    if (it->second.holdsInsert) return true;
  return false;
}

bool RewrittenText::MayReplace(size_t first, size_t last) const {
  return (flags_[first] & kCharStart) && (flags_[last] & kCharEnd) && !InsertBetween(first, last);
}

void RewrittenText::FindInPlace(std::string_view from, std::vector<Hit>& found) {
  const size_t length = from.size(), n = text_.size();
  if (length > n) return;
  ++textsLookedFor_;
  // Every byte kept: then no inserted text can sit between them either.
  auto Consider = [&](size_t x) {
    for (size_t k = x; k < x + length; ++k)
      if (flags_[k] & kTaken) return;
    if (MayReplace(x, x + length - 1)) found.push_back({x, x + length - 1});
  };
  const GramIndex* index = IndexFor(length);
  if (!index) {
    for (size_t pos = 0; pos + length <= n;) {
      const void* at = memmem(text_.data() + pos, n - pos, from.data(), length);
      if (!at) break;
      const size_t x = static_cast<size_t>(static_cast<const char*>(at) - text_.data());
      Consider(x);
      pos = x + 1;
    }
    return;
  }
  // The rarest q-byte piece of `from` leads to its candidates.
  size_t offset = 0;
  uint32_t fewest = UINT32_MAX;
  for (size_t j = 0; j + index->q <= length; ++j) {
    const uint32_t count = index->count[index->Bucket(from.data() + j)];
    if (count < fewest) {
      fewest = count;
      offset = j;
    }
  }
  for (int32_t i = index->head[index->Bucket(from.data() + offset)]; i >= 0;
       i = index->next[static_cast<size_t>(i)]) {
    if (static_cast<size_t>(i) < offset) continue;
    const size_t x = static_cast<size_t>(i) - offset;
    if (x + length > n) break;
    if (memcmp(text_.data() + x, from.data(), length) == 0) Consider(x);
  }
}

void RewrittenText::FindAcross(std::string_view from, size_t at, std::vector<Hit>& found) const {
  const auto [start, end] = TakenAround(at);
  const size_t n = text_.size(), length = from.size();
  if (start == 0 || end >= n) return;
  const size_t left = start - 1, right = end;
  if (InsertBetween(left, right)) return;
  for (size_t k = 0; k + 1 < length; ++k) {
    if (from[k] != text_[left] || from[k + 1] != text_[right]) continue;
    // k bytes kept before `left`, then the ones after `right`.
    size_t first = left, last = right;
    bool same = true;
    for (size_t m = k; same && m-- > 0;) {
      first = PrevKept(first);
      same = first != std::string_view::npos && text_[first] == from[m];
    }
    for (size_t m = k + 2; same && m < length; ++m) {
      last = NextKept(last + 1);
      same = last < n && text_[last] == from[m];
    }
    if (same && MayReplace(first, last)) found.push_back({first, last});
  }
}

void RewrittenText::TakeLeftmost(std::vector<Hit>& found, std::vector<Hit>& hits) {
  std::sort(found.begin(), found.end(), [](const Hit& a, const Hit& b) {
    return a.first != b.first ? a.first < b.first : a.last < b.last;
  });
  bool any = false;
  size_t last = 0;
  for (const Hit& hit : found) {
    if (any && hit.first <= last) continue;
    hits.push_back(hit);
    last = hit.last;
    any = true;
  }
}

void RewrittenText::FindEverywhere(std::string_view from, std::vector<Hit>& hits) {
  std::vector<Hit> found;
  FindInPlace(from, found);
  if (!joins_.empty()) {
    const std::vector<uint32_t> pairs = DistinctPairs(from);
    for (uint32_t pair : pairs) {
      auto it = joinsByPair_.find(pair);
      if (it == joinsByPair_.end()) continue;
      for (uint32_t join : it->second) FindAcross(from, joins_[join].at, found);
    }
  }
  TakeLeftmost(found, hits);
}

void RewrittenText::FindAtJoins(std::string_view from, uint64_t since,
                                std::vector<Hit>& hits) const {
  std::vector<Hit> found;
  const std::vector<uint32_t> pairs = DistinctPairs(from);
  for (uint32_t pair : pairs) {
    auto it = joinsByPair_.find(pair);
    if (it == joinsByPair_.end()) continue;
    auto join = std::lower_bound(it->second.begin(), it->second.end(), since,
                                 [&](uint32_t j, uint64_t n) { return joins_[j].number < n; });
    for (; join != it->second.end(); ++join) FindAcross(from, joins_[*join].at, found);
  }
  TakeLeftmost(found, hits);
}

std::map<size_t, RewrittenText::Stretch>::iterator RewrittenText::Take(size_t first, size_t last,
                                                                        bool inserting) {
  for (size_t i = first; i <= last;) {
    if (flags_[i] & kTaken) {
      i = TakenAround(i).second;
      continue;
    }
    flags_[i++] |= kTaken;
  }
  const size_t end = last + 1;
  auto it = taken_.upper_bound(first);
  if (it != taken_.begin() && std::prev(it)->second.end >= first) {
    --it;
    it->second.end = std::max(it->second.end, end);
    it->second.holdsInsert |= inserting;
  } else {
    it = taken_.emplace_hint(it, first, Stretch{end, inserting});
  }
  for (auto next = std::next(it); next != taken_.end() && next->first <= it->second.end;) {
    it->second.end = std::max(it->second.end, next->second.end);
    it->second.holdsInsert |= next->second.holdsInsert;
    next = taken_.erase(next);
  }
  return it;
}

void RewrittenText::Replace(const std::vector<Hit>& hits, std::string copy) {
  const bool inserting = !copy.empty();
  const size_t copyIndex = copies_.size();
  if (inserting) copies_.push_back(std::move(copy));
  for (const Hit& hit : hits) {
    auto stretch = Take(hit.first, hit.last, inserting);
    if (inserting) {
      inserts_.push_back({hit.first, copyIndex});
      continue;
    }
    // The removal joins the kept bytes on either side, unless an inserted
    // text sits between them.
    const size_t start = stretch->first, end = stretch->second.end;
    if (start == 0 || end >= text_.size() || stretch->second.holdsInsert) continue;
    joinsByPair_[PairKey(text_[start - 1], text_[end])].push_back(
        static_cast<uint32_t>(joins_.size()));
    joins_.push_back({hit.first, joinCount_++});
  }
}

std::string RewrittenText::Result() const {
  std::vector<Insert> inserts(inserts_);
  std::sort(inserts.begin(), inserts.end(),
            [](const Insert& a, const Insert& b) { return a.gap < b.gap; });
  size_t size = text_.size();
  for (const Insert& insert : inserts) size += copies_[insert.copy].size();
  std::string out;
  out.reserve(size);
  // Every insert sits at a taken byte, so inside a taken stretch.
  size_t kept = 0, next = 0;
  for (const auto& [start, stretch] : taken_) {
    out.append(text_.data() + kept, start - kept);
    for (; next < inserts.size() && inserts[next].gap < stretch.end; ++next)
      out += copies_[inserts[next].copy];
    kept = stretch.end;
  }
  out.append(text_.data() + kept, text_.size() - kept);
  return out;
}

}  // namespace qp
