#include "app/services/zipper.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace vesk {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using test::writeFile;

// Each entry of the archive as Python's zipfile reads it: "name mode size [-> link]", after
// checking every entry's CRC.
std::string listing(const std::string& archive) {
  const std::string script =
      "import sys, zipfile, stat\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "for i in z.infolist():\n"
      "    mode = i.external_attr >> 16\n"
      "    line = '%s %o %d' % (i.filename, mode, i.file_size)\n"
      "    if stat.S_ISLNK(mode): line += ' -> ' + z.read(i).decode()\n"
      "    print(line)\n"
      "    print('time %s %04d-%02d-%02d %02d:%02d:%02d' % ((i.filename,) + i.date_time))\n";
  const std::string file = archive + ".list.py";
  writeFile(file, script);
  FILE* pipe = ::popen(("python3 '" + file + "' '" + archive + "' 2>&1").c_str(), "r");
  std::string output;
  char block[512];
  size_t size = 0;
  while ((size = std::fread(block, 1, sizeof block, pipe)) > 0) {
    output.append(block, size);
  }
  ::pclose(pipe);
  fs::remove(file);
  return output;
}

TEST(Zipper, DestinationTakesTheFirstFreeNumber) {
  TempFolder folder;
  writeFile(folder / "Report/a.txt", "a");
  EXPECT_EQ(Zipper::destination(folder / "Report"), folder / "Report.zip");
  writeFile(folder / "Report.zip", "");
  writeFile(folder / "Report 2.zip", "");
  EXPECT_EQ(Zipper::destination(folder / "Report/"), folder / "Report 3.zip");

  const auto archive = Zipper::zip(folder / "Report");
  ASSERT_TRUE(archive) << archive.failure().description;
  EXPECT_EQ(archive.value(), folder / "Report 3.zip");
  EXPECT_EQ(test::readFile(folder / "Report.zip"), "");
}

TEST(Zipper, ArchiveHoldsTheFolderUnderItsNameWithLinksAndModes) {
  TempFolder folder;
  writeFile(folder / "Report/notes.txt", "notes");
  writeFile(folder / "Report/data/big.bin", std::string(300000, 'x'));
  fs::create_directories(folder / "Report/empty");
  fs::create_symlink("notes.txt", folder / "Report/link");
  fs::create_symlink("/nowhere", folder / "Report/dangling");
  ::chmod((folder / "Report/notes.txt").c_str(), 0640);
  ::chmod((folder / "Report/data").c_str(), 0750);
  std::tm noon{};
  noon.tm_year = 2021 - 1900;
  noon.tm_mon = 2;
  noon.tm_mday = 4;
  noon.tm_hour = 12;
  noon.tm_isdst = -1;
  const timespec times[2] = {{std::mktime(&noon), 0}, {std::mktime(&noon), 0}};
  ::utimensat(AT_FDCWD, (folder / "Report/notes.txt").c_str(), times, 0);

  const auto archive = Zipper::zip(folder / "Report");
  ASSERT_TRUE(archive) << archive.failure().description;
  const std::string entries = listing(archive.value());
  EXPECT_NE(entries.find("Report/ 40755 0\n"), std::string::npos) << entries;
  EXPECT_NE(entries.find("Report/notes.txt 100640 5\n"), std::string::npos) << entries;
  EXPECT_NE(entries.find("time Report/notes.txt 2021-03-04 12:00:00\n"), std::string::npos)
      << entries;
  EXPECT_NE(entries.find("Report/data/ 40750 0\n"), std::string::npos) << entries;
  EXPECT_NE(entries.find("Report/data/big.bin 100644 300000\n"), std::string::npos) << entries;
  EXPECT_NE(entries.find("Report/empty/ 40755 0\n"), std::string::npos) << entries;
  EXPECT_NE(entries.find("Report/link 120777 9 -> notes.txt\n"), std::string::npos) << entries;
  EXPECT_NE(entries.find("Report/dangling 120777 8 -> /nowhere\n"), std::string::npos) << entries;
  EXPECT_EQ(entries.find(folder.path()), std::string::npos) << entries;

  // A single file is stored under its own name.
  const auto single = Zipper::zip(folder / "Report/notes.txt");
  ASSERT_TRUE(single) << single.failure().description;
  EXPECT_EQ(single.value(), folder / "Report/notes.txt.zip");
  EXPECT_EQ(listing(single.value()).rfind("notes.txt 100640 5\n", 0), 0U);
}

// Runs `zip` as an unprivileged user when the tests run as root, so that a mode of 000 keeps
// the file from being read. The child reports "ok" or the failure's text through a pipe.
std::string zipUnprivileged(const std::string& path) {
  int channel[2];
  if (::pipe(channel) != 0) {
    return "no pipe";
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(2);
    }
    const auto archive = Zipper::zip(path);
    const std::string text = archive ? "ok" : archive.failure().description;
    (void)!::write(channel[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string text;
  char block[512];
  ssize_t size = 0;
  while ((size = ::read(channel[0], block, sizeof block)) > 0) {
    text.append(block, static_cast<size_t>(size));
  }
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return text;
}

// Whether each entry carries the UTF-8 flag, as Python's zipfile (a standard reader) sees it:
// "utf8" or "bytes" per entry, or its error when it refuses the archive.
std::string nameFlags(const std::string& archive) {
  const std::string script =
      "import sys, zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "    print('utf8' if i.flag_bits & 0x800 else 'bytes')\n";
  const std::string file = archive + ".flags.py";
  writeFile(file, script);
  FILE* pipe = ::popen(("python3 '" + file + "' '" + archive + "' 2>&1").c_str(), "r");
  std::string output;
  char block[512];
  size_t size = 0;
  while ((size = std::fread(block, 1, sizeof block, pipe)) > 0) {
    output.append(block, size);
  }
  ::pclose(pipe);
  fs::remove(file);
  return output;
}

// In a UTF-8 locale libarchive marks every non-ASCII name as UTF-8; a name that isn't would
// then make standard readers refuse the whole archive.
TEST(Zipper, NamesThatAreNotUtf8GoWithoutTheUtf8Flag) {
  const locale_t utf8 = ::newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
  ASSERT_NE(utf8, nullptr);
  const locale_t previous = ::uselocale(utf8);
  TempFolder folder;
  writeFile(folder / "Caf\xE9/menu.txt", "latin-1 name");
  writeFile(folder / "Caf\xC3\xA9/menu.txt", "utf-8 name");
  const auto latin1 = Zipper::zip(folder / "Caf\xE9");
  const auto unicode = Zipper::zip(folder / "Caf\xC3\xA9");
  ::uselocale(previous);
  ::freelocale(utf8);
  ASSERT_TRUE(latin1) << latin1.failure().description;
  ASSERT_TRUE(unicode) << unicode.failure().description;
  EXPECT_EQ(nameFlags(latin1.value()), "bytes\nbytes\n");
  EXPECT_EQ(nameFlags(unicode.value()), "utf8\nutf8\n");
}

TEST(Zipper, UnreadableFileFailsAndLeavesNoArchive) {
  TempFolder folder;
  writeFile(folder / "Report/a.txt", "a");
  writeFile(folder / "Report/secret.txt", "secret");
  ::chmod(folder.path().c_str(), 0777);
  ::chmod((folder / "Report/secret.txt").c_str(), 0);

  const std::string failure = zipUnprivileged(folder / "Report");
  EXPECT_NE(failure.find("secret.txt"), std::string::npos) << failure;
  EXPECT_EQ(failure, "Couldn't open Report/secret.txt: Permission denied");
  EXPECT_FALSE(fs::exists(folder / "Report.zip"));
}

}  // namespace
}  // namespace vesk
