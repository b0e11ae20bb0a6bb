// Files carried by a session reply: sizes on the wire, where they land,
// which names are refused, and that only verified files are kept.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/net/envelope_test_fixture.h"
#include "net/envelope_files.h"
#include "settings/settings.h"

namespace {

using qovra::testing::ScratchDir;
using qovra_test::EnvelopeFixture;
using qovra_test::FolderEntries;
using qovra_test::WireFile;

std::string Content(size_t n, int seed = 1) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 37 + seed * 11) & 0xFF);
  return s;
}

std::string FileElement(const std::string& attrs) {
  return "<file " + attrs + "/>";
}

std::string Reply(const std::string& elements) {
  return "<reply><res val=\"1\"/>" + elements + "</reply>";
}

class EnvelopeFilesTest : public EnvelopeFixture {
 protected:
  std::string Stored(const std::string& name) const {
    return ScratchDir::Read(MessagesFolder() + name);
  }
};

TEST_F(EnvelopeFilesTest, WireSizesAndStoredBytes) {
  struct Row {
    size_t size;
    bool skip;
    size_t wire;
  };
  const Row rows[] = {{33, false, 64}, {64, false, 64}, {1, false, 32},
                      {31, false, 32}, {33, true, 33},  {20000, false, 20000}};
  std::string elements;
  std::vector<std::string> wire;
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& r = rows[i];
    elements +=
        FileElement("size=\"" + std::to_string(r.size) + "\" skip=\"" + (r.skip ? "1" : "0") +
                    "\" name=\"f" + std::to_string(i) + ".eme\" type=\"1\"");
    wire.push_back(WireFile(session_, Content(r.size, static_cast<int>(i)), r.skip));
    EXPECT_EQ(wire.back().size(), r.wire) << i;
  }
  EXPECT_EQ(Process(qovra_test::SessionReply(session_, Reply(elements), wire)), 1);
  EXPECT_EQ(Shown(), std::vector<std::string>{});
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(Stored("f" + std::to_string(i) + ".eme"), Content(rows[i].size, static_cast<int>(i)))
        << i;
  }
}

TEST_F(EnvelopeFilesTest, FileBeforeResAndEmptyFilesAreSkipped) {
  const std::string xml = "<reply>" + FileElement("size=\"10\" name=\"early.eme\" type=\"1\"") +
                          "<res val=\"1\"/>" +
                          FileElement("size=\"0\" name=\"empty.eme\" type=\"1\"") +
                          FileElement("size=\"10\" name=\"late.eme\" type=\"1\"") + "</reply>";
  EXPECT_EQ(
      Process(qovra_test::SessionReply(session_, xml, {WireFile(session_, Content(10), false)})),
      1);
  EXPECT_EQ(FolderEntries(MessagesFolder()), std::vector<std::string>{"late.eme"});
  EXPECT_EQ(Stored("late.eme"), Content(10));
}

TEST_F(EnvelopeFilesTest, MissingNameIsTheDefault) {
  EXPECT_EQ(Process(qovra_test::SessionReply(session_, Reply(FileElement("size=\"5\" type=\"1\"")),
                                             {WireFile(session_, Content(5), false)})),
            1);
  EXPECT_EQ(Stored("xxxx"), Content(5));
}

TEST_F(EnvelopeFilesTest, NamesThatAreNotBareAreRefused) {
  const char* names[] = {"../evil.eme", "a/b.eme", "a\\b.eme", "..",      ".", "",
                         "x\x01y",      "bad\xff", "a..b",     "/abs.eme"};
  for (const char* name : names) {
    ui_->messages.clear();
    const std::string xml =
        Reply(FileElement("size=\"5\" type=\"1\" name=\"" + std::string(name) + "\""));
    EXPECT_EQ(
        Process(qovra_test::SessionReply(session_, xml, {WireFile(session_, Content(5), false)})),
        0)
        << name;
    EXPECT_EQ(Shown(), Only("msgInvalidData")) << name;
  }
  EXPECT_EQ(FolderEntries(MessagesFolder()), std::vector<std::string>{});
  EXPECT_FALSE(std::filesystem::exists(dir_.File("evil.eme")));
  EXPECT_FALSE(qovra::IsSafeReplyFileName(std::string(256, 'n')));
  EXPECT_TRUE(qovra::IsSafeReplyFileName("0123456789ABCDEF0123456789ABCDEF.eme"));
  EXPECT_TRUE(qovra::IsSafeReplyFileName("письмо.eme"));
}

TEST_F(EnvelopeFilesTest, AFileIsKeptOnlyWhenItsSignatureChecksOut) {
  const std::string old_bytes = "the older file";
  std::ofstream(MessagesFolder() + "a.eme", std::ios::binary) << old_bytes;
  const std::string xml = Reply(FileElement("size=\"40\" name=\"a.eme\" type=\"1\""));
  std::string body =
      qovra_test::SessionReply(session_, xml, {WireFile(session_, Content(40), false)});
  const size_t file_at = body.size() - 160 - 64;
  struct Row {
    const char* name;
    std::string body;
    const char* key;
  };
  std::string flipped_file = body;
  flipped_file[file_at + 3] = static_cast<char>(flipped_file[file_at + 3] ^ 1);
  std::string flipped_sig = body;
  flipped_sig[body.size() - 1] = static_cast<char>(flipped_sig[body.size() - 1] ^ 1);
  const Row rows[] = {
      {"FlippedFileByte", flipped_file, "msgUnauthenticSignature"},
      {"FlippedSignatureByte", flipped_sig, "msgUnauthenticSignature"},
      {"SignatureCut", body.substr(0, body.size() - 1), "msgUnauthenticSignature"},
      {"NoSignature", body.substr(0, body.size() - 160), "msgUnauthenticSignature"},
      {"FileDataCut", body.substr(0, file_at + 40), "msgInvalidData"},
      {"NoFileData", body.substr(0, file_at), "msgInvalidData"},
  };
  for (const Row& r : rows) {
    ui_->messages.clear();
    EXPECT_EQ(Process(r.body), 0) << r.name;
    EXPECT_EQ(Shown(), Only(r.key)) << r.name;
    EXPECT_EQ(Stored("a.eme"), old_bytes) << r.name;
  }
  ui_->messages.clear();
  EXPECT_EQ(Process(body), 1);
  EXPECT_EQ(Stored("a.eme"), Content(40));
}

TEST_F(EnvelopeFilesTest, BadSizeIsInvalidData) {
  for (const char* size : {"abc", "-5", "12x", " 7"}) {
    ui_->messages.clear();
    const std::string xml =
        Reply(FileElement("size=\"" + std::string(size) + "\" name=\"s.eme\" type=\"1\""));
    EXPECT_EQ(Process(qovra_test::SessionReply(session_, xml)), 0) << size;
    EXPECT_EQ(Shown(), Only("msgInvalidData")) << size;
  }
}

TEST_F(EnvelopeFilesTest, AFailedResultStoresNothing) {
  const std::string xml =
      "<reply><res val=\"13\"/>" + FileElement("size=\"5\" name=\"n.eme\" type=\"1\"") + "</reply>";
  EXPECT_EQ(
      Process(qovra_test::SessionReply(session_, xml, {WireFile(session_, Content(5), false)})),
      13);
  EXPECT_EQ(Shown(), Only("msgServerError13"));
  EXPECT_EQ(FolderEntries(MessagesFolder()), std::vector<std::string>{});
}

TEST_F(EnvelopeFilesTest, TypesChooseTheFolder) {
  // The data folder lies beside the settings file.
  qovra::TSettingsPaths paths;
  paths.file = dir_.File("settings/qovra.xml");
  std::filesystem::create_directories(dir_.File("settings"));
  qovra::InitAppSettings(dir_.File("bin/qovra"), paths);
  EXPECT_EQ(qovra::ProgramDataDir(), dir_.File("settings/data/"));

  const std::string xml = Reply(FileElement("size=\"7\" name=\"d.bin\" type=\"2\"") +
                                FileElement("size=\"8\" skip=\"1\" name=\"t.bin\" type=\"9\""));
  EXPECT_EQ(Process(qovra_test::SessionReply(
                session_, xml,
                {WireFile(session_, Content(7), false), WireFile(session_, Content(8), true)})),
            1)
      << testing::PrintToString(Shown());
  EXPECT_EQ(ScratchDir::Read(dir_.File("settings/data/d.bin")), Content(7));
  EXPECT_EQ(ScratchDir::Read(TempFolder() + "t.bin"), Content(8));
  std::filesystem::remove(TempFolder() + "t.bin");
  EXPECT_EQ(FolderEntries(MessagesFolder()), std::vector<std::string>{});
}

TEST_F(EnvelopeFilesTest, NoMessagesFolderNoFile) {
  qovra::MessagesDir.clear();
  const std::string xml = Reply(FileElement("size=\"5\" name=\"m.eme\" type=\"1\""));
  EXPECT_EQ(
      Process(qovra_test::SessionReply(session_, xml, {WireFile(session_, Content(5), false)})), 0);
  EXPECT_EQ(Shown(), Only("msgInvalidData"));
}

}  // namespace
