// Arbitrary bytes through DecompressMemoryStream: an error or a result, never a crash; a result
// must compress and decompress back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "codec/uCompressionStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  const std::string input(reinterpret_cast<const char*>(data), size);
  TMemoryStream m(input);
  try {
    DecompressMemoryStream(m);
  } catch (const EZDecompressionError&) {
    if (m.Buffer() != input) std::abort();  // a refused stream keeps its content
    return 0;
  }
  const std::string plain = m.Buffer();
  CompressMemoryStream(m, static_cast<int>(size % 4));
  DecompressMemoryStream(m);
  if (m.Buffer() != plain) std::abort();
  return 0;
}
