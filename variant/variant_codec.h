// Binary encoding of OleVariant values, used on the wire and for variant fields of datasets.
// The layout is written down in docs/protocol.md.
#pragma once

#include <string>

#include "common/memory_budget.h"
#include "variant/byte_io.h"
#include "variant/ole_variant.h"

namespace velmora {

// Nesting of variant arrays accepted by the decoder.
inline constexpr int kMaxVariantDepth = 32;

// Variant arrays holding more than Limits().VariantArrayMaxElements elements in one message. Byte
// arrays are bounded by the sizes of what carries them, not by this count.
class EVariantLimitExceeded : public EFormatError {
 public:
  using EFormatError::EFormatError;
};

// The elements of the variant arrays of one message (a call's argument list and every array in its
// arguments, at every nesting level) counted against one limit, so that nesting cannot multiply
// what a message may make the decoder build.
class VariantElementCount {
 public:
  VariantElementCount();  // the limit in force: Limits().VariantArrayMaxElements
  explicit VariantElementCount(uint64_t max) : max_(max) {}
  // Counts `n` more elements of a list or array (`what`, e.g. "A variant array"); raises
  // EVariantLimitExceeded, before they are decoded, when the count passes the limit:
  // "<what> of <n> elements exceeds the server's limit of <max> elements" when the one array does,
  // "Variant arrays of <total> elements in one message exceed the server's limit of <max>
  // elements" when it is their sum.
  void Take(uint64_t n, const char* what);
  uint64_t Used() const { return used_; }

 private:
  uint64_t max_;
  uint64_t used_ = 0;
};

// No bound on a text's length (the decoder then only checks it against the input).
inline constexpr uint64_t kAnyTextLength = UINT64_MAX;

void EncodeVariant(const OleVariant& value, ByteWriter& out);

// Decodes one variant. Rules:
// - Truncated or malformed input, an unknown type code or nesting deeper than kMaxVariantDepth
//   raise EFormatError; variant arrays that pass the element count (one for the message, see
//   VariantElementCount; its own when none is given) raise EVariantLimitExceeded before their
//   elements are decoded.
// - Allocation follows what has actually been decoded, never the counts the input claims.
// - The memory the decoded value holds (elements, text, bytes) is charged to `held`, grown from
//   MemoryBudget::Process() as decoding goes on, so the caller keeps the charge as long as it keeps
//   the value. Over the budget the decoder waits as the budget's Grow does, then raises
//   EMemoryBudgetExceeded. On any error the value decoded so far is freed; what was charged stays
//   in `held` until the caller releases it.
// - A text (a string kind, or a BCD's digits) longer than `max_text` bytes raises
//   EVariantLimitExceeded before it is copied: "A text of <n> bytes exceeds the server's limit of
//   <max_text> (TextMaxMiB)".
OleVariant DecodeVariant(ByteReader& in, MemoryReservation& held, VariantElementCount& elements,
                         uint64_t max_text = kAnyTextLength);
OleVariant DecodeVariant(ByteReader& in, MemoryReservation& held);
// As above, with the charge held only while decoding (for values the caller does not keep long).
OleVariant DecodeVariant(ByteReader& in);

// What a decoded value of `elements` array elements costs in memory beyond the bytes it carries.
inline constexpr uint64_t VariantElementCost(uint64_t elements) {
  return elements * sizeof(OleVariant);
}

}  // namespace velmora
