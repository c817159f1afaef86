#include "variant/variant_codec.h"

#include <fmt/format.h>

#include <algorithm>

#include "common/server_limits.h"

namespace velmora {
namespace {

// Charges reach the budget in steps of this size, so that decoding many small values does not
// take the budget's lock for each; at most this much is decoded ahead of its charge.
constexpr uint64_t kChargeStep = 64 * 1024;

class DecodeCharge {
 public:
  DecodeCharge(MemoryReservation& held, VariantElementCount& elements, uint64_t max_text)
      : held_(held), elements_(elements), max_text_(max_text) {}
  void Add(uint64_t bytes) {
    pending_ += bytes;
    if (pending_ >= kChargeStep) Flush();
  }
  void Flush() {
    if (pending_ == 0) return;
    const uint64_t bytes = pending_;
    pending_ = 0;
    held_.Grow(bytes);
  }
  VariantElementCount& Elements() { return elements_; }
  uint64_t MaxText() const { return max_text_; }

 private:
  MemoryReservation& held_;
  uint64_t pending_ = 0;
  VariantElementCount& elements_;
  uint64_t max_text_;
};

void EncodeTimeStamp(const SqlTimeStamp& t, ByteWriter& out) {
  out.Put<int16_t>(t.year);
  out.Put<uint16_t>(t.month);
  out.Put<uint16_t>(t.day);
  out.Put<uint16_t>(t.hour);
  out.Put<uint16_t>(t.minute);
  out.Put<uint16_t>(t.second);
  out.Put<uint32_t>(t.fraction);
}

SqlTimeStamp DecodeTimeStamp(ByteReader& in) {
  SqlTimeStamp t;
  t.year = in.Get<int16_t>();
  t.month = in.Get<uint16_t>();
  t.day = in.Get<uint16_t>();
  t.hour = in.Get<uint16_t>();
  t.minute = in.Get<uint16_t>();
  t.second = in.Get<uint16_t>();
  t.fraction = in.Get<uint32_t>();
  return t;
}

std::string GetText(ByteReader& in, DecodeCharge& charge) {
  const std::string_view text = in.GetString();
  if (text.size() > charge.MaxText()) {
    throw EVariantLimitExceeded(
        fmt::format("A text of {} bytes exceeds the server's limit of {} (TextMaxMiB)", text.size(),
                    LimitSizeText(charge.MaxText())));
  }
  charge.Add(text.size());
  return std::string(text);
}

OleVariant Decode(ByteReader& in, int depth, DecodeCharge& charge) {
  const uint16_t type = in.Get<uint16_t>();
  switch (type) {
    case varEmpty:
      return OleVariant();
    case varNull:
      return OleVariant::Null();
    case varShortInt:
      return OleVariant(in.Get<int8_t>());
    case varSmallint:
      return OleVariant(in.Get<int16_t>());
    case varInteger:
      return OleVariant(in.Get<int32_t>());
    case varError:
      return OleVariant::Error(in.Get<int32_t>());
    case varInt64:
      return OleVariant(in.Get<int64_t>());
    case varByte:
      return OleVariant(in.Get<uint8_t>());
    case varWord:
      return OleVariant(in.Get<uint16_t>());
    case varLongWord:
      return OleVariant(in.Get<uint32_t>());
    case varUInt64:
      return OleVariant(in.Get<uint64_t>());
    case varBoolean:
      return OleVariant(in.Get<uint8_t>() != 0);
    case varSingle:
      return OleVariant(in.Get<float>());
    case varDouble:
      return OleVariant(in.Get<double>());
    case varDate:
      return OleVariant::Date(in.Get<double>());
    case varCurrency:
      return OleVariant::Currency(in.Get<int64_t>());
    case varOleStr:
      return OleVariant::OleStr(GetText(in, charge));
    case varUString:
      return OleVariant::UString(GetText(in, charge));
    case varString:
      return OleVariant::AnsiString(GetText(in, charge));
    case varFMTBcd: {
      BcdValue b;
      b.precision = in.Get<uint8_t>();
      b.scale = in.Get<uint8_t>();
      b.text = GetText(in, charge);
      return OleVariant(std::move(b));
    }
    case varSQLTimeStamp:
      return OleVariant(DecodeTimeStamp(in));
    case varSQLTimeStampOffset: {
      SqlTimeStampOffset t;
      t.stamp = DecodeTimeStamp(in);
      t.tz_hour = in.Get<int16_t>();
      t.tz_minute = in.Get<int16_t>();
      return OleVariant(t);
    }
    case varSQLInterval: {
      SqlInterval i;
      const uint8_t kind = in.Get<uint8_t>();
      if (kind > SqlInterval::kDaySecond) throw EFormatError("Invalid interval kind");
      i.kind = static_cast<SqlInterval::Kind>(kind);
      i.sign = in.Get<int8_t>() < 0 ? -1 : 1;
      i.years = in.Get<uint32_t>();
      i.months = in.Get<uint32_t>();
      i.days = in.Get<uint32_t>();
      i.hours = in.Get<uint32_t>();
      i.minutes = in.Get<uint32_t>();
      i.seconds = in.Get<uint32_t>();
      i.fraction = in.Get<uint32_t>();
      return OleVariant(i);
    }
    case kVarByteArray: {
      const int32_t low = in.Get<int32_t>();
      const uint32_t n = in.Get<uint32_t>();
      if (static_cast<int64_t>(low) + n - 1 > INT32_MAX) throw EFormatError("Invalid array bounds");
      const uint8_t* p = in.GetBytes(n);
      charge.Add(n);
      return OleVariant::Bytes(std::vector<uint8_t>(p, p + n), low);
    }
    case kVarVariantArray: {
      if (depth >= kMaxVariantDepth) throw EFormatError("Variant arrays nested too deeply");
      const int32_t low = in.Get<int32_t>();
      const uint32_t n = in.Get<uint32_t>();
      if (static_cast<int64_t>(low) + n - 1 > INT32_MAX) throw EFormatError("Invalid array bounds");
      in.Need(size_t{n} * 2);  // every element takes at least its type code
      charge.Elements().Take(n, "A variant array");
      VariantArray a;
      a.low = low;
      // Counts are claims of the input: grow with what is actually decoded, so nested arrays
      // that each claim the rest of the input cannot multiply the allocation.
      a.items.reserve(std::min<uint32_t>(n, 256));
      charge.Add(VariantElementCost(a.items.capacity()));
      for (uint32_t i = 0; i < n; ++i) {
        if (a.items.size() == a.items.capacity()) {
          // Doubling, as the vector would, but charged before the allocation.
          const size_t capacity = std::min<size_t>(n, a.items.capacity() * 2);
          charge.Add(VariantElementCost(capacity - a.items.capacity()));
          a.items.reserve(capacity);
        }
        a.items.push_back(Decode(in, depth + 1, charge));
      }
      return OleVariant(std::move(a));
    }
    default:
      throw EFormatError(fmt::format("Unknown variant type code {:#06x}", type));
  }
}

}  // namespace

void EncodeVariant(const OleVariant& v, ByteWriter& out) {
  const uint16_t type = v.VarType();
  out.Put<uint16_t>(type);
  switch (type) {
    case varEmpty:
    case varNull:
      return;
    case varShortInt:
      out.Put<int8_t>(static_cast<int8_t>(v.RawSigned()));
      return;
    case varSmallint:
      out.Put<int16_t>(static_cast<int16_t>(v.RawSigned()));
      return;
    case varInteger:
    case varError:
      out.Put<int32_t>(static_cast<int32_t>(v.RawSigned()));
      return;
    case varInt64:
    case varCurrency:
      out.Put<int64_t>(v.RawSigned());
      return;
    case varByte:
      out.Put<uint8_t>(static_cast<uint8_t>(v.RawUnsigned()));
      return;
    case varWord:
      out.Put<uint16_t>(static_cast<uint16_t>(v.RawUnsigned()));
      return;
    case varLongWord:
      out.Put<uint32_t>(static_cast<uint32_t>(v.RawUnsigned()));
      return;
    case varUInt64:
      out.Put<uint64_t>(v.RawUnsigned());
      return;
    case varBoolean:
      out.Put<uint8_t>(v.RawSigned() ? 1 : 0);
      return;
    case varSingle:
      out.Put<float>(static_cast<float>(v.RawDouble()));
      return;
    case varDouble:
    case varDate:
      out.Put<double>(v.RawDouble());
      return;
    case varOleStr:
    case varUString:
    case varString:
      out.PutString(v.Text());
      return;
    case varFMTBcd:
      out.Put<uint8_t>(v.Bcd().precision);
      out.Put<uint8_t>(v.Bcd().scale);
      out.PutString(v.Bcd().text);
      return;
    case varSQLTimeStamp:
      EncodeTimeStamp(v.TimeStamp(), out);
      return;
    case varSQLTimeStampOffset:
      EncodeTimeStamp(v.TimeStampOffset().stamp, out);
      out.Put<int16_t>(v.TimeStampOffset().tz_hour);
      out.Put<int16_t>(v.TimeStampOffset().tz_minute);
      return;
    case varSQLInterval: {
      const SqlInterval& i = v.Interval();
      out.Put<uint8_t>(i.kind);
      out.Put<int8_t>(i.sign);
      for (uint32_t f : {i.years, i.months, i.days, i.hours, i.minutes, i.seconds, i.fraction})
        out.Put<uint32_t>(f);
      return;
    }
    case kVarByteArray: {
      const ByteArray& a = v.ByteData();
      out.Put<int32_t>(a.low);
      out.Put<uint32_t>(static_cast<uint32_t>(a.bytes.size()));
      out.PutBytes(a.bytes.data(), a.bytes.size());
      return;
    }
    case kVarVariantArray: {
      const VariantArray& a = v.Array();
      out.Put<int32_t>(a.low);
      out.Put<uint32_t>(static_cast<uint32_t>(a.items.size()));
      for (const OleVariant& item : a.items) EncodeVariant(item, out);
      return;
    }
    default:
      throw EFormatError(fmt::format("Variant type code {:#06x} cannot be encoded", type));
  }
}

VariantElementCount::VariantElementCount() : max_(Limits().VariantArrayMaxElements) {}

void VariantElementCount::Take(uint64_t n, const char* what) {
  if (n > max_) {
    throw EVariantLimitExceeded(
        fmt::format("{} of {} elements exceeds the server's limit of {} elements", what, n, max_));
  }
  if (used_ > max_ - n) {
    throw EVariantLimitExceeded(fmt::format(
        "Variant arrays of {} elements in one message exceed the server's limit of {} elements",
        used_ + n, max_));
  }
  used_ += n;
}

OleVariant DecodeVariant(ByteReader& in, MemoryReservation& held, VariantElementCount& elements,
                         uint64_t max_text) {
  DecodeCharge charge(held, elements, max_text);
  OleVariant value = Decode(in, 0, charge);
  charge.Flush();
  return value;
}

OleVariant DecodeVariant(ByteReader& in, MemoryReservation& held) {
  VariantElementCount elements;
  return DecodeVariant(in, held, elements);
}

OleVariant DecodeVariant(ByteReader& in) {
  MemoryReservation held;
  return DecodeVariant(in, held);
}

}  // namespace velmora
