#include "db/core/literal_lifting.h"

#include <array>

#include "variant/variant_text.h"

namespace velmora {
namespace {

using Kind = TSqlTokenKind;

// Deeper nesting than this is not lifted (the text is left as it is).
constexpr size_t kMaxDepth = 64;

bool IsPunct(const TSqlToken& t, char c) {
  return t.kind == Kind::kPunct && t.text[0] == c;
}

bool IsWord(const TSqlToken& t, std::string_view word) {
  return t.kind == Kind::kWord && EqualsNoCase(t.text, word);
}

// A word that ends a result column list at its own depth.
bool EndsColumnList(const TSqlToken& t) {
  if (t.kind != Kind::kWord) return false;
  for (std::string_view w : {"FROM", "WHERE", "GROUP", "HAVING", "WINDOW", "ORDER", "LIMIT",
                             "UNION", "INTERSECT", "EXCEPT"}) {
    if (EqualsNoCase(t.text, w)) return true;
  }
  return false;
}

bool IsComparisonChar(const TSqlToken& t) {
  return t.kind == Kind::kPunct &&
         (t.text[0] == '=' || t.text[0] == '<' || t.text[0] == '>' || t.text[0] == '!');
}

// Whether the significant tokens up to `last` (inclusive) end with a comparison operator.
bool EndsWithComparison(const std::vector<TSqlToken>& tokens, size_t last) {
  size_t first = last;
  if (!IsComparisonChar(tokens[last])) return false;
  while (first > 0 && IsComparisonChar(tokens[first - 1]) &&
         tokens[first - 1].end == tokens[first].begin && last - first < 2) {
    --first;
  }
  std::string op;
  for (size_t i = first; i <= last; ++i) op += tokens[i].text[0];
  for (std::string_view known : {"=", "==", "<>", "!=", "<", ">", "<=", ">="}) {
    if (op == known) return true;
  }
  return false;
}

// The value of a decimal integer literal with its sign; false when it has other characters or
// lies outside int64, where the engines read it as a real or numeric value, never as a wrapped
// integer. The limit is checked before each step, so no digit count can wrap it; the magnitude
// 2^63 fits only with "-" (the engines read -9223372036854775808 as int64's least value).
bool ParseDigits(std::string_view digits, bool negative, int64_t& out) {
  const uint64_t limit = static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0);
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
  return true;
}

std::string StringContent(std::string_view quoted) {
  std::string out;
  out.reserve(quoted.size() - 2);
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    out += quoted[i];
    if (quoted[i] == '\'') ++i;  // '' stands for one quote
  }
  return out;
}

struct Lift {
  size_t begin;  // the range of the text the marker replaces
  size_t end;
  int value;  // -1: a marker of the original text
};

}  // namespace

bool LiftLiterals(std::string_view text, const TSqlDialect& dialect, TLiftedText& out,
                  TLiftKinds kinds) {
  // The significant tokens (no blanks or comments), and for each whether it is a number directly
  // followed by "." (a real number). Kept per thread: no allocation once they have grown.
  thread_local std::vector<TSqlToken> tokens;
  thread_local std::vector<bool> dotted;
  tokens.clear();
  dotted.clear();
  {
    TSqlLexer lexer(text, dialect);
    TSqlToken t;
    while (lexer.Next(t)) {
      if (!t.closed) return false;
      if (t.kind == Kind::kPunct && t.text[0] == '.' && !tokens.empty() &&
          tokens.back().kind == Kind::kNumber && tokens.back().end == t.begin) {
        dotted.back() = true;
      }
      if (t.kind == Kind::kBlank || t.kind == Kind::kComment) continue;
      tokens.push_back(t);
      dotted.push_back(false);
    }
  }
  if (tokens.empty()) return false;
  const bool with = IsWord(tokens[0], "WITH");
  if (!with && !IsWord(tokens[0], "SELECT")) return false;

  std::array<bool, kMaxDepth + 1> list_open{};  // a result column list is open at that depth
  size_t depth = 0;
  size_t excluded_from = SIZE_MAX;  // the shallowest open column list
  std::vector<TLiftedValue> values;
  thread_local std::vector<Lift> lifts;
  lifts.clear();
  for (size_t i = 0; i < tokens.size(); ++i) {
    const TSqlToken& t = tokens[i];
    if (t.kind == Kind::kPunct) {
      switch (t.text[0]) {
        case ';':
          for (size_t k = i + 1; k < tokens.size(); ++k) {
            if (!IsPunct(tokens[k], ';')) return false;  // a second statement
          }
          break;
        case ':':
        case '@':
        case '$':
        case '#':
          return false;  // a named marker
        case '?':
          if (i + 1 < tokens.size() && tokens[i + 1].kind == Kind::kNumber &&
              tokens[i + 1].begin == t.end) {
            return false;  // a numbered marker
          }
          lifts.push_back({t.begin, t.end, -1});
          break;
        case '(':
          if (++depth > kMaxDepth) return false;
          list_open[depth] = false;
          break;
        case ')':
          if (depth == 0) return false;
          if (list_open[depth] && excluded_from == depth) excluded_from = SIZE_MAX;
          list_open[depth] = false;
          --depth;
          break;
        default:
          break;
      }
      continue;
    }
    if (t.kind == Kind::kWord) {
      if (IsWord(t, "SELECT")) {
        if (excluded_from == SIZE_MAX) {
          list_open[depth] = true;
          excluded_from = depth;
        }
      } else if (list_open[depth] && EndsColumnList(t)) {
        list_open[depth] = false;
        if (excluded_from == depth) excluded_from = SIZE_MAX;
      } else if (with && depth == 0) {
        for (std::string_view verb : {"INSERT", "UPDATE", "DELETE", "REPLACE"}) {
          if (!EqualsNoCase(t.text, verb)) continue;
          // replace(...) is a function; REPLACE INTO and the others are statements.
          if (i + 1 < tokens.size() && IsPunct(tokens[i + 1], '(') && verb == "REPLACE") break;
          return false;
        }
      }
      continue;
    }
    if (excluded_from != SIZE_MAX || i == 0) continue;
    if (t.kind == Kind::kString && t.text.size() >= 2 && t.text[0] == '\'') {
      if (!kinds.strings || !EndsWithComparison(tokens, i - 1)) continue;
      TLiftedValue v;
      v.is_text = true;
      v.text = StringContent(t.text);
      lifts.push_back({t.begin, t.end, static_cast<int>(values.size())});
      values.push_back(std::move(v));
    } else if (t.kind == Kind::kNumber && !dotted[i]) {
      size_t begin = t.begin;
      size_t op = i - 1;
      bool negative = false;
      if ((IsPunct(tokens[op], '-') || IsPunct(tokens[op], '+')) && op > 0) {
        negative = tokens[op].text[0] == '-';
        begin = tokens[op].begin;
        --op;
      }
      if (!EndsWithComparison(tokens, op)) continue;
      TLiftedValue v;
      if (!ParseDigits(t.text, negative, v.integer)) continue;
      lifts.push_back({begin, t.end, static_cast<int>(values.size())});
      values.push_back(std::move(v));
    }
  }
  if (values.empty()) return false;

  TLiftedText lifted;
  lifted.sql.reserve(text.size());
  lifted.markers.reserve(lifts.size());
  lifted.marker_offsets.reserve(lifts.size());
  size_t copied = 0;
  for (const Lift& l : lifts) {
    lifted.sql.append(text.substr(copied, l.begin - copied));
    lifted.marker_offsets.push_back(lifted.sql.size());
    lifted.sql += '?';
    copied = l.end;
    lifted.markers.push_back(l.value);
  }
  lifted.sql.append(text.substr(copied));
  lifted.values = std::move(values);
  out = std::move(lifted);
  return true;
}

}  // namespace velmora
