// Arbitrary bytes through the bounded inflation of what clients send (InflateTo, InflateToString),
// with a small size cap and a small budget of its own, so that both the cap and the budget's
// refusal are reached. Whatever the outcome, it must agree with DecompressMemoryStream on the same
// bytes (the same content when it fits the cap, the same text for a corrupt stream, the cap's
// refusal only for content above it), memory must be charged before it is used, and nothing may
// stay reserved afterwards.
//
// Input: the cap (two bytes, little-endian: 0 to 65535 bytes of content), the budget (one byte:
// 512 bytes per step, 512 to 131072 bytes), then the packet.
#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codec/uCompressionStream.h"
#include "common/memory_budget.h"

namespace velmora {
namespace {

constexpr std::string_view kWhat = "The packet";

// The whole content as DecompressMemoryStream reads it, or its error text.
struct Reference {
  bool ok = false;
  std::string content;
  std::string error;
};

Reference Decompress(std::string_view packet) {
  Reference r;
  TMemoryStream m{std::string(packet)};
  try {
    DecompressMemoryStream(m);
  } catch (const EZDecompressionError& e) {
    r.error = e.what();
    return r;
  }
  r.ok = true;
  r.content = std::move(m.Buffer());
  return r;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

// The cap's refusal: its own text, nothing past the cap handed on, and for a stream that reads
// whole, content really above the cap that begins with what was handed on.
void CheckTooLarge(const EPacketTooLarge& e, const Reference& ref, uint64_t cap,
                   std::string_view delivered) {
  Require(e.what() == fmt::format("{} is larger than the limit of {} bytes", kWhat, cap));
  Require(delivered.size() <= cap);
  if (ref.ok) {
    Require(ref.content.size() > cap);
    Require(std::string_view(ref.content).substr(0, delivered.size()) == delivered);
  }
}

void CheckCorrupt(const EZDecompressionError& e, const Reference& ref) {
  Require(!ref.ok && ref.error == e.what());
}

void CheckInflateTo(std::string_view packet, uint64_t cap, const Reference& ref) {
  std::string delivered;
  try {
    InflateTo(packet, cap, kWhat, [&](const char* data, size_t size) {
      Require(size > 0 && size <= kInflateChunk);
      delivered.append(data, size);
    });
  } catch (const EPacketTooLarge& e) {
    CheckTooLarge(e, ref, cap, delivered);
    return;
  } catch (const EZDecompressionError& e) {
    CheckCorrupt(e, ref);
    return;
  }
  Require(ref.ok && ref.content == delivered);
}

void CheckInflateToString(std::string_view packet, uint64_t cap, uint64_t budget_size,
                          const Reference& ref) {
  MemoryBudget budget(budget_size);
  {
    MemoryReservation held = budget.Reserve(0);
    try {
      const std::string content = InflateToString(packet, cap, kWhat, held);
      Require(ref.ok && ref.content == content);
      // Charged for all it holds, and never more than the cap, which the content cannot pass.
      Require(held.Bytes() >= content.size() && held.Bytes() <= cap);
    } catch (const EPacketTooLarge& e) {
      CheckTooLarge(e, ref, cap, {});
    } catch (const EZDecompressionError& e) {
      CheckCorrupt(e, ref);
    } catch (const EMemoryBudgetExceeded&) {
      // The charge doubles as the string would, so a refused content that fits the cap needs more
      // than half the budget.
      if (ref.ok && ref.content.size() <= cap) Require(ref.content.size() * 2 > budget_size);
    }
    Require(budget.InUse() == held.Bytes() && held.Bytes() <= budget_size);
  }
  Require(budget.InUse() == 0);
}

}  // namespace
}  // namespace velmora

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  if (size < 3) return 0;
  const uint64_t cap = data[0] | uint64_t{data[1]} << 8;
  const uint64_t budget_size = (uint64_t{data[2]} + 1) * 512;
  const std::string_view packet(reinterpret_cast<const char*>(data + 3), size - 3);

  const Reference ref = Decompress(packet);
  CheckInflateTo(packet, cap, ref);
  CheckInflateToString(packet, cap, budget_size, ref);
  // InflateTo's working buffer, reserved from the process's budget, is released on every path.
  Require(MemoryBudget::Process().InUse() == 0);
  return 0;
}
