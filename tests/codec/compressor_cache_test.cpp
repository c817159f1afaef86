#include "codec/compressor_cache.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <latch>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codec/uCompressionStream.h"

namespace velmora::test {
namespace {

// Half words, half random bytes: a packet that takes the compressor's whole path.
std::string Sample(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n / 2) s += rng() % 3 == 0 ? "ORDER " : "row value, ";
  while (s.size() < n) s += static_cast<char>(rng());
  s.resize(n);
  return s;
}

// A thread per connection compresses its reply and then waits for its client: while it waits it
// must not keep a compressor (650 KB at the default level). Here every thread has compressed a
// packet and is still alive; only the kept idle compressors may remain, and each packet, made
// while others were compressing on shared compressors, must still be its own content.
TEST(CompressorCache, ThreadsThatHaveCompressedKeepNoCompressor) {
  constexpr int kThreads = 24;
  const size_t before = CompressorsAlive();
  std::latch compressed(kThreads);
  std::latch may_end(1);
  std::vector<std::string> plain(kThreads), packed(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    plain[static_cast<size_t>(i)] = Sample(100'000 + static_cast<size_t>(i) * 1000, i);
    threads.emplace_back([&, i] {
      TMemoryStream stream(plain[static_cast<size_t>(i)]);
      CompressMemoryStream(stream, kPacketSelector);
      packed[static_cast<size_t>(i)] = stream.Buffer();
      compressed.count_down();
      may_end.wait();
    });
  }
  compressed.wait();
  EXPECT_LE(CompressorsAlive(), before + IdleCompressorsKept());
  may_end.count_down();
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < plain.size(); ++i) {
    TMemoryStream stream(packed[i]);
    DecompressMemoryStream(stream);
    EXPECT_EQ(stream.Buffer(), plain[i]) << "packet " << i;
  }
}

// Leases held at once each get a compressor of their own; when they end, the cache keeps
// IdleCompressorsKept() of the level and frees the rest, and a new lease uses a kept one. A level
// no packet uses keeps the count apart from the other tests'.
TEST(CompressorCache, KeepsOnlyItsShareOfIdleCompressors) {
  constexpr int kLevel = 3;
  const size_t kept = IdleCompressorsKept();
  size_t while_leased = 0;
  {
    std::vector<std::unique_ptr<TCompressorLease>> leases;
    for (size_t i = 0; i < kept * 3; ++i)
      leases.push_back(std::make_unique<TCompressorLease>(kLevel));
    EXPECT_NE(&leases[0]->Compressor(), &leases[1]->Compressor());
    while_leased = CompressorsAlive();
  }
  const size_t after = CompressorsAlive();
  EXPECT_EQ(while_leased - after, kept * 2);
  {
    TCompressorLease again(kLevel);
    EXPECT_EQ(CompressorsAlive(), after);
  }
  EXPECT_EQ(CompressorsAlive(), after);
}

}  // namespace
}  // namespace velmora::test
