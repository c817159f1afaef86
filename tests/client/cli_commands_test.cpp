// The commands of velmora-cli run in-process: the clock's text form and the progress notes of
// large transfers (the program shows them only when standard error is a terminal).
#include "client/cli_commands.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/server_fixture.h"
#include "variant/ole_date.h"

namespace velmora::test {
namespace {

TEST(FormatServerTime, AlwaysShowsMilliseconds) {
  const struct {
    DateTimeParts parts;
    const char* text;
  } cases[] = {
      {{2024, 1, 2, 3, 4, 5, 6}, "2024-01-02 03:04:05.006"},
      {{2022, 12, 31, 0, 0, 0, 0}, "2022-12-31 00:00:00.000"},
      {{1899, 12, 30, 23, 59, 59, 999}, "1899-12-30 23:59:59.999"},
  };
  for (const auto& c : cases) EXPECT_EQ(cli::FormatServerTime(EncodeDateTime(c.parts)), c.text);
}

class CliCommandsTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    client_.Connect("127.0.0.1", Port(), kUser, kPassword);
  }
  void WriteLocal(const std::string& name, size_t size) {
    WriteFile(work_ + "/" + name, std::string(size, 'v'));
  }

  TVelmoraClient client_;
  std::ostringstream out_, err_;
};

TEST_F(CliCommandsTest, LargeTransfersGetANoteWhenAsked) {
  WriteLocal("big.bin", 5u << 20);
  WriteLocal("small.bin", 1000);
  cli::Context quiet{client_, OutputFormat::Table, out_, err_, false};
  cli::Context noisy{client_, OutputFormat::Table, out_, err_, true};

  cli::RunUpload(quiet, work_ + "/big.bin", "");
  EXPECT_EQ(err_.str(), "");
  cli::RunUpload(noisy, work_ + "/small.bin", "");
  EXPECT_EQ(err_.str(), "");
  cli::RunUpload(noisy, work_ + "/big.bin", "copy.bin");
  EXPECT_EQ(err_.str(), "Uploading copy.bin (5.0 MiB)... done\n");
  err_.str("");
  cli::RunDownload(noisy, "copy.bin", work_ + "/back.bin");
  EXPECT_EQ(err_.str(), "Writing " + work_ + "/back.bin (5.0 MiB)... done\n");
  err_.str("");
  EXPECT_THROW(cli::RunUpload(noisy, work_ + "/big.bin", "no/such/folder.bin"), EDSRemoteError);
  EXPECT_EQ(err_.str(), "Uploading no/such/folder.bin (5.0 MiB)... failed\n");
  EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace velmora::test
