// Every exception the system raises derives from EVelmoraError: catching the base catches each
// one, with its own message. Where a cheap call raises the exception for real, the table makes
// that call, so a throw site that goes back to a plain std:: exception is caught here too.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/config/autostart.h"
#include "app/config/ini_file.h"
#include "client/cli_commands.h"
#include "client/file_listing.h"
#include "client/velmora_client.h"
#include "codec/uCompressionStream.h"
#include "common/file_errors.h"
#include "common/memory_budget.h"
#include "common/velmora_error.h"
#include "data/mem_table.h"
#include "data/params.h"
#include "data/storage_format.h"
#include "db/core/db_error.h"
#include "db/core/query.h"
#include "db/core/string_list.h"
#include "db/core/text_encoding.h"
#include "host/uObjPoolMgr.h"
#include "rpc/arg_convert.h"
#include "rpc/rpc_errors.h"
#include "services/files/safe_path.h"
#include "tests/support/temp_dir.h"
#include "variant/byte_io.h"
#include "variant/ole_variant.h"

namespace velmora::test {
namespace {

TEST(ErrorBase, CatchingTheBaseCatchesEverySystemException) {
  const TempDir dir;
  const std::string missing = dir.File("no-such-folder/file.CFG");
  struct Case {
    const char* name;
    std::function<void()> raise;
    std::string message;  // "" when the text is not fixed (a system or library message)
  };
  const std::vector<Case> cases = {
      // Raised for real.
      {"EVelmoraError", [] { TPoolManager().LockPoolObject(); }, "Not specify class of instance!"},
      {"EFOpenError", [&] { TStringList().LoadFromFile(missing); },
       "Cannot open file \"" + missing + "\". No such file or directory"},
      {"EFCreateError", [&] { TStringList().SaveToFile(missing); },
       "Cannot create file \"" + missing + "\". No such file or directory"},
      {"EEncodingError", [] { DecodeText("\xEF\xBB\xBF\xC3\x28"); },
       "Text is not valid UTF-8 (byte offset 0)"},
      {"EIniFileError", [&] { WritePrivateProfileString("CONFIG", "K", "V", missing); },
       "Unable to write to " + missing},
      {"EAutostartError",
       [&] {
         std::filesystem::create_directory(dir.File("Velmora.desktop"));  // where the entry goes
         SetAutostart(dir.Path(), "Velmora.exe", "/opt/Velmora.exe", true);
       },
       "Failed to set data for 'Velmora'"},
      {"EFormatError",
       [] {
         TFDMemTable table;
         BuildFileListing("a|b", "202201181530", "1", table);
       },
       "Inconsistent listing: 2 names, 1 times, 1 sizes"},
      {"ETruncatedInput",
       [] {
         TStoredDataSet out;
         ReadDataSet("VLDS\x01", out);
       },
       "Saved dataset is truncated"},
      {"EVariantError", [] { OleVariant::Null().Array(); },
       "Could not convert variant of type (Null) into type (Array of Variant)"},
      {"EDatabaseError", [] { TFDMemTable().FieldValue(0); },
       "Cannot perform this operation on a closed dataset"},
      {"EParamError", [] { TParams().ParamByName("X"); }, "Parameter 'X' not found"},
      {"EFDException", [] { TFDQuery().ApplyUpdates(); }, "Dataset is not open"},
      {"EUnsafePath", [] { ResolveInside("/srv", {"../etc"}); }, ""},
      {"EZDecompressionError",
       [] {
         TMemoryStream s(std::string("not zlib"));
         DecompressMemoryStream(s);
       },
       ""},
      {"EDSConnectionError", [] { TVelmoraClient().Connect("127.0.0.1", 1, "u", "p"); }, ""},
      // Raised where a test would need a server or a broken peer: constructed.
      {"EFileError", [] { throw EFileError("f"); }, "f"},
      {"EMemoryBudgetExceeded", [] { throw EMemoryBudgetExceeded("m"); }, "m"},
      {"EFDDBEngineException", [] { throw EFDDBEngineException(1, "e"); }, "e"},
      {"EDSArgumentError", [] { throw EDSArgumentError("a"); }, "a"},
      {"EDSProtocolError", [] { throw EDSProtocolError("p"); }, "p"},
      {"EDSRemoteError", [] { throw EDSRemoteError("r"); }, "r"},
      {"EDSLoginError", [] { throw EDSLoginError("l"); }, "l"},
      {"EDSServerError", [] { throw EDSServerError("s"); }, "s"},
      {"EZCompressionError", [] { throw EZCompressionError("c"); }, "c"},
      {"ECommandFailed", [] { throw cli::ECommandFailed("x"); }, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.raise();
      ADD_FAILURE() << "nothing raised";
    } catch (const EVelmoraError& e) {
      if (!c.message.empty()) {
        EXPECT_EQ(std::string(e.what()), c.message);
      }
    } catch (const std::exception& e) {
      ADD_FAILURE() << "escaped the base: " << e.what();
    }
  }
}

}  // namespace
}  // namespace velmora::test
