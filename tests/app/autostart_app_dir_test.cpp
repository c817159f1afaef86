// The start-up entry keeps the application folder when it is not the executable's own, and every
// Exec= argument reads back exactly under the desktop-entry rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/config/autostart.h"
#include "tests/support/temp_dir.h"

namespace velmora::test {
namespace {

// The Exec= line of an entry's text, as stored (string escapes still in).
std::string ExecLine(const std::string& entry) {
  const size_t start = entry.find("\nExec=");
  if (start == std::string::npos) return {};
  const size_t value = start + 6;
  return entry.substr(value, entry.find('\n', value) - value);
}

// What a desktop reads from an Exec= value: the string escapes undone first, then the arguments
// split at spaces, quoting undone ("\"", "\`", "\$", "\\" inside double quotes), then "%%" read as
// "%". Anything the rules do not allow fails the test.
std::vector<std::string> ExecArguments(const std::string& stored) {
  std::string value;
  for (size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] != '\\') {
      value += stored[i];
      continue;
    }
    const char next = i + 1 < stored.size() ? stored[++i] : '\0';
    switch (next) {
      case '\\':
        value += '\\';
        break;
      case 'n':
        value += '\n';
        break;
      case 't':
        value += '\t';
        break;
      case 'r':
        value += '\r';
        break;
      case 's':
        value += ' ';
        break;
      default:
        ADD_FAILURE() << "bad string escape in " << stored;
        return {};
    }
  }
  std::vector<std::string> args;
  size_t i = 0;
  while (i < value.size()) {
    std::string arg;
    if (value[i] == '"') {
      for (++i; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\') {
          const char next = i + 1 < value.size() ? value[++i] : '\0';
          if (next != '"' && next != '`' && next != '$' && next != '\\') {
            ADD_FAILURE() << "bad quoted escape in " << value;
            return {};
          }
          arg += next;
        } else {
          if (value[i] == '`' || value[i] == '$') {
            ADD_FAILURE() << "unescaped reserved character in quotes: " << value;
            return {};
          }
          arg += value[i];
        }
      }
      if (i == value.size()) {
        ADD_FAILURE() << "unclosed quote in " << value;
        return {};
      }
      ++i;  // the closing quote
    } else {
      for (; i < value.size() && value[i] != ' '; ++i) {
        if (std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(value[i]) != std::string_view::npos) {
          ADD_FAILURE() << "reserved character outside quotes: " << value;
          return {};
        }
        arg += value[i];
      }
    }
    if (i < value.size() && value[i] != ' ') {
      ADD_FAILURE() << "argument not ended by a space: " << value;
      return {};
    }
    ++i;
    std::string unpercented;
    for (size_t k = 0; k < arg.size(); ++k) {
      if (arg[k] == '%') {
        if (k + 1 >= arg.size() || arg[k + 1] != '%') {
          ADD_FAILURE() << "field code in " << arg;
          return {};
        }
        ++k;
      }
      unpercented += arg[k];
    }
    args.push_back(unpercented);
  }
  return args;
}

TEST(AutostartAppDir, TheFolderIsKeptWhenItIsNotTheExecutablesOwn) {
  const struct {
    std::string exe;
    std::string app_path;
    std::vector<std::string> args;
  } cases[] = {
      {"/opt/velmora/velmora", "", {"/opt/velmora/velmora"}},
      {"/opt/velmora/velmora", "/opt/velmora/", {"/opt/velmora/velmora"}},
      {"/opt/velmora/velmora", "/opt/velmora", {"/opt/velmora/velmora"}},
      {"/opt/velmora/velmora", "/opt/velmora/./", {"/opt/velmora/velmora"}},
      {"/opt/velmora/velmora", "/srv/shop/", {"/opt/velmora/velmora", "--app-dir", "/srv/shop"}},
      {"/opt/velmora/velmora",
       "/opt/velmora/shop/",
       {"/opt/velmora/velmora", "--app-dir", "/opt/velmora/shop"}},
      {"/opt/my server/velmora",
       "/srv/my shop/",
       {"/opt/my server/velmora", "--app-dir", "/srv/my shop"}},
      {"/opt/velmora/velmora",
       "/srv/a$b \"c\" `d` 100% e\\f/",
       {"/opt/velmora/velmora", "--app-dir", "/srv/a$b \"c\" `d` 100% e\\f"}},
      {"/opt/velmora/velmora",
       "/srv/it's;(x)|y&z*?#~<>/",
       {"/opt/velmora/velmora", "--app-dir", "/srv/it's;(x)|y&z*?#~<>"}},
      {"/opt/velmora/velmora",
       "/srv/tab\there/",
       {"/opt/velmora/velmora", "--app-dir", "/srv/tab\there"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.app_path);
    const std::string text = DesktopEntryText("velmora", c.exe, c.app_path);
    EXPECT_EQ(ExecArguments(ExecLine(text)), c.args) << ExecLine(text);
  }
}

TEST(AutostartAppDir, ARelativeFolderIsWrittenAbsolute) {
  const std::string expected = (std::filesystem::current_path() / "shop").string();
  EXPECT_EQ(ExecArguments(ExecLine(DesktopEntryText("velmora", "/opt/velmora/velmora", "shop/"))),
            (std::vector<std::string>{"/opt/velmora/velmora", "--app-dir", expected}));
}

TEST(AutostartAppDir, TheWrittenEntryCarriesTheFolder) {
  TempDir temp;
  const std::string folder = temp.File("autostart");
  ASSERT_TRUE(
      SetAutostart(folder, "Velmora.exe", "/opt/velmora/Velmora.exe", true, "/srv/other shop/"));
  EXPECT_EQ(ReadFile(folder + "/Velmora.desktop"),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Velmora\n"
            "Exec=/opt/velmora/Velmora.exe --app-dir \"/srv/other shop\"\n"
            "X-GNOME-Autostart-enabled=true\n");
}

}  // namespace
}  // namespace velmora::test
