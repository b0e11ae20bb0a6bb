// Mail container reader against damaged input, and attachment names that
// try to leave the target folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "base/utf.h"
#include "seam/fake_ui.h"
#include "store/mail_container_names.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"
#include "support/noise_bytes.h"
#include "support/scratch_dir.h"
#include "test_mail_container_util.h"

namespace {

using qovra::TMailReader;
using qovra::TMemoryStream;
using qovra::Utf8ToUtf16;
using qovra::testing::ScratchDir;
using qovra_test::kBoundary;

// A valid container: body "Body text", attachments "a.txt" (10 bytes) and
// "b.bin" (b_size bytes).
std::string Good(size_t b_size = 3000) {
  TMemoryStream out;
  {
    qovra::TMailWriter writer(out, kBoundary, qovra_test::FixedTime);
    writer.AddMailHeaders("alice@localhost", u"Subject", "bob@localhost");
    writer.AddField("body", "Body text");
    writer.AddAttachmentHeader(u"a.txt", 10);
    writer.WriteString("0123456789");
    writer.AddAttachmentHeader(u"b.bin", static_cast<int64_t>(b_size));
    writer.WriteString(std::string(b_size, 'b'));
    EXPECT_TRUE(writer.Finish());
  }
  return out.Data();
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

std::string ClosingLine() {
  return "\r\n--" + kBoundary + "--";
}

// 40 KiB that deflate hardly shrinks: they span several input blocks.
std::string Noise() { return qovra_test::NoiseBytes(40 << 10); }

// A zlib stream whose checksum (its last byte) no longer holds.
std::string BreakChecksum(std::string z) {
  z.back() = static_cast<char>(z.back() ^ 1);
  return z;
}

// Good() whose last attachment announces size bytes that the caller
// supplies, with the closing line after them.
std::string GoodUpToData(int64_t size) {
  const std::string good = Good(0);
  return Replace(good.substr(0, good.size() - ClosingLine().size()), "Content-Size: 0",
                 "Content-Size: " + std::to_string(size));
}

bool Parses(const std::string& bytes, int64_t cap = qovra::kMailInflateCap,
            std::string* error = nullptr) {
  TMemoryStream source(bytes);
  TMailReader reader(source);
  reader.SetInflateCap(cap);
  const bool ok = reader.Parse(nullptr, nullptr);
  if (error) *error = reader.Error();
  EXPECT_EQ(ok, reader.Parsed());
  return ok;
}

TEST(MailContainerCorrupt, GoodContainerParses) {
  EXPECT_TRUE(Parses(Good()));
}

TEST(MailContainerCorrupt, TrailingBytesAfterTheClosingLineAreIgnored) {
  EXPECT_TRUE(Parses(Good() + "\r\ntrailing garbage"));
}

// A writer may end the container right after a boundary line, without the
// closing one: read as complete, like the closing line itself.
TEST(MailContainerCorrupt, ContainerEndingAfterABoundaryLineParses) {
  const std::string good = Good();
  const std::string open_end = Replace(good, ClosingLine(), "\r\n--" + kBoundary + "\r\n");
  for (const std::string& bytes : {open_end, qovra_test::ZCompress(open_end)}) {
    TMemoryStream source(bytes);
    TMailReader reader(source);
    ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
    EXPECT_EQ(reader.Body(), u"Body text");
    ASSERT_EQ(reader.Attachments().size(), 2u);
    EXPECT_EQ(reader.Attachments()[1].FileName.str(), u"b.bin");
    EXPECT_EQ(reader.Attachments()[1].DataSize, 3000);
    EXPECT_EQ(reader.Attachments()[1].DataOffset + 3000,
              static_cast<int64_t>(open_end.size() - kBoundary.size() - 6));
  }
}

TEST(MailContainerCorrupt, DamagedContainersFailWithTheirReason) {
  const std::string good = Good();
  const std::string zgood = qovra_test::ZCompress(good);
  const size_t a_data = good.find("0123456789");
  const std::string last_line = "\r\n--" + kBoundary;
  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
    int64_t cap = qovra::kMailInflateCap;
  };
  const Case cases[] = {
      {"Empty", "", "container shorter than two bytes"},
      {"OneByte", "F", "container shorter than two bytes"},
      {"FirstSectionNotBody", Replace(good, "name=\"body\"", "name=\"text\""),
       "first section is not the body"},
      {"NoClosingLine", good.substr(0, good.size() - ClosingLine().size()),
       "closing boundary line missing"},
      {"CutAfterTheBoundary", Replace(good, ClosingLine(), last_line),
       "closing boundary line missing"},
      {"CutAfterTheBoundaryAndCr", Replace(good, ClosingLine(), last_line + "\r"),
       "closing boundary line missing"},
      {"CutAfterOneDash", Replace(good, ClosingLine(), last_line + "-"),
       "closing boundary line missing"},
      {"BoundaryLineEndsInOtherBytes", Replace(good, ClosingLine(), last_line + "xy"),
       "malformed boundary line"},
      {"CutInSectionHeaderAfterBoundaryLine",
       Replace(good, ClosingLine(), last_line + "\r\nContent-Disposition: form-da"),
       "section header incomplete"},
      {"CutMidData", good.substr(0, a_data + 5), "section larger than the rest of the file"},
      {"CutInBoundaryLine", good.substr(0, good.size() - 10), "closing boundary line missing"},
      {"CutInSectionHeader", good.substr(0, good.find("filename=\"YS50eHQ=\"") + 5),
       "section header incomplete"},
      {"NegativeSize", Replace(good, "Content-Size: 10", "Content-Size: -1"), "bad Content-Size"},
      {"NonNumericSize", Replace(good, "Content-Size: 10", "Content-Size: ten"),
       "bad Content-Size"},
      {"EmptySize", Replace(good, "Content-Size: 10", "Content-Size: "), "bad Content-Size"},
      {"HexSize", Replace(good, "Content-Size: 10", "Content-Size: 0xA"), "bad Content-Size"},
      {"SizeTooLarge", Replace(good, "Content-Size: 3000", "Content-Size: 3001"),
       "closing boundary line missing"},
      {"SizeBeyondTheFile", Replace(good, "Content-Size: 3000", "Content-Size: 3100"),
       "section larger than the rest of the file"},
      {"SizeOverflows", Replace(good, "Content-Size: 3000", "Content-Size: 99999999999999999999"),
       "bad Content-Size"},
      {"BodySizeTooLarge", Replace(good, "Content-Size: 9", "Content-Size: 999999"),
       "body larger than the rest of the file"},
      {"SizeTooSmall", Replace(good, "Content-Size: 10", "Content-Size: 9"),
       "boundary line expected"},
      {"NoContentSize", Replace(good, "Content-Size: 10\r\n", ""), "section without Content-Size"},
      {"NoBoundaryHeader",
       Replace(good, "Content-Type: multipart/form-data; boundary=" + kBoundary + "\r\n", ""),
       "no usable boundary"},
      {"EmptyBoundary", Replace(good, "boundary=" + kBoundary, "boundary="), "no usable boundary"},
      {"WrongBoundaryLater",
       Replace(good,
               "\r\n--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"attachment2\"",
               "\r\n--" + kBoundary.substr(0, 31) +
                   "X\r\nContent-Disposition: form-data; name=\"attachment2\""),
       "boundary line expected"},
      {"SectionWithoutName", Replace(good, "name=\"attachment1\"", "name=\"\""),
       "section without a name"},
      {"HeaderLinesNeverEnd", std::string(9000, 'x'), "header lines not ended by an empty line"},
      {"GarbageAfter78DA", std::string("\x78\xDA") + "this is not deflate data at all",
       "corrupt zlib stream"},
      {"TruncatedZlib", zgood.substr(0, zgood.size() / 2), "truncated zlib stream"},
      {"ZlibChecksumBroken", zgood.substr(0, zgood.size() - 1) + "\x01", "corrupt zlib stream"},
      {"ZlibOfGarbage", qovra_test::ZCompress("no container inside"),
       "header lines not ended by an empty line"},
      {"BombOverTheCap", qovra_test::ZCompress(Good(2 << 20)), "inflated data larger than the cap",
       1 << 20},
      // 20 MiB of zeros in an attachment deflate to some 20 KiB: far above
      // the ratio a mail deflates to, refused whatever the cap.
      {"BombOverTheRatio",
       qovra_test::ZCompressWithZeros(Replace(Good(0), "Content-Size: 0", "Content-Size: 20971520"),
                                      20 << 20, ClosingLine()),
       "inflated data larger than the cap"},
      // Bytes after the closing line are not read, but the zlib stream's
      // end shortly after them still is, and its checksum must hold.
      {"ZlibChecksumBrokenAfterTrailingBytes", BreakChecksum(qovra_test::ZCompress(good + Noise())),
       "corrupt zlib stream"},
      {"SectionHeaderWithAnExtraLine",
       Replace(good, "Content-Size: 10\r\n", "Content-Size: 10\r\nX-Extra: 1\r\n"),
       "unexpected lines in a section header"},
      {"BoundaryWithABlank",
       Replace(good, "boundary=" + kBoundary,
               "boundary=" + kBoundary.substr(0, 8) + " " + kBoundary.substr(8)),
       "no usable boundary"},
      {"BadBytesAfterTheFirstBoundaryLine",
       Replace(good, kBoundary + "\r\nContent-Disposition: form-data; name=\"body\"",
               kBoundary + "xy\r\nContent-Disposition: form-data; name=\"body\""),
       "no boundary line after the header lines"},
  };
  // Each row must fail for its own reason, not merely fail.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.reason[0]);
    std::string error;
    EXPECT_FALSE(Parses(c.bytes, c.cap, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(MailContainerCorrupt, CompressedFormWithinTheCapParses) {
  EXPECT_TRUE(Parses(qovra_test::ZCompress(Good() + std::string(1000, '\0')), 1 << 20));
  // Highly compressible, but within the floor every container has.
  TMemoryStream source(
      qovra_test::ZCompressWithZeros(GoodUpToData(10 << 20), 10 << 20, ClosingLine()));
  TMailReader reader(source);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
  ASSERT_EQ(reader.Attachments().size(), 2u);
  EXPECT_EQ(reader.Attachments()[1].DataSize, 10 << 20);
}

// Inflation stops at the closing line: a bomb of 64 MiB of zeros after it
// is never inflated (the reader reads only the start of the stream), and
// the container parses as without it.
TEST(MailContainerCorrupt, BombAfterTheClosingLineIsNeverInflated) {
  qovra_test::ReadExtentStream source(qovra_test::ZCompressWithZeros(Good(), 64 << 20, ""));
  const int64_t size = source.Size();
  TMailReader reader(source);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
  EXPECT_EQ(reader.Attachments().size(), 2u);
  EXPECT_LT(source.Furthest(), size / 4) << "of " << size;
}

// A field section without a file name is part of the mail, not an
// attachment.
TEST(MailContainerCorrupt, FieldSectionIsNotAnAttachment) {
  TMemoryStream out;
  {
    qovra::TMailWriter writer(out, kBoundary, qovra_test::FixedTime);
    writer.AddMailHeaders("alice@localhost", u"Subject", "bob@localhost");
    writer.AddField("body", "Body text");
    writer.AddField("note", "not a file");
    writer.AddAttachmentHeader(u"a.txt", 10);
    writer.WriteString("0123456789");
    ASSERT_TRUE(writer.Finish());
  }
  TMailReader reader(out);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
  ASSERT_EQ(reader.Attachments().size(), 1u);
  EXPECT_EQ(reader.Attachments()[0].FileName.str(), u"a.txt");
}

// Any single damaged byte gives a clean verdict: no crash, no exception,
// and every attachment still reported can be read whole from the file.
TEST(MailContainerCorrupt, EveryFlippedByteIsHandled) {
  const std::string good = Good(20);
  const std::string zgood = qovra_test::ZCompress(good);
  for (const std::string* base : {&good, &zgood}) {
    for (size_t i = 0; i < base->size(); i += (base == &good ? 1 : 3)) {
      std::string bytes = *base;
      bytes[i] = static_cast<char>(bytes[i] ^ 0x41);
      TMemoryStream source(bytes);
      TMailReader reader(source);
      if (!reader.Parse(nullptr, nullptr)) continue;
      for (const auto& a : reader.Attachments()) {
        ASSERT_GE(a.DataOffset, 0) << i;
        ASSERT_GE(a.DataSize, 0) << i;
        ASSERT_TRUE(reader.SeekData(a.DataOffset)) << i;
        std::string data(static_cast<size_t>(a.DataSize), '\0');
        EXPECT_EQ(reader.ReadData(data.data(), data.size()), data.size()) << i;
      }
    }
  }
}

// --- Names ----------------------------------------------------------------------

TEST(BareFileName, ReducesToTheLastComponent) {
  struct Case {
    std::u16string in;
    std::u16string out;
  };
  const Case cases[] = {
      {u"report.pdf", u"report.pdf"},
      {u"../../evil.txt", u"evil.txt"},
      {u"/etc/passwd", u"passwd"},
      {u"..\\..\\win.ini", u"win.ini"},
      {u"C:\\Users\\x\\doc.txt", u"doc.txt"},
      {u"a/b/", u""},
      {u"..", u""},
      {u".", u""},
      {u"", u""},
      {u"line\nbreak\x01.txt", u"line_break_.txt"},
      {u"Ҳисобот.docx", u"Ҳисобот.docx"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(qovra::BareFileName(c.in), c.out) << qovra::Utf16ToUtf8(c.in);
  EXPECT_EQ(qovra::BareFileNameOr(u"../", u"attachment"), u"attachment");
}

TEST(BareFileName, LongNamesFitAFileNameAndKeepTheirExtension) {
  const std::u16string longname = std::u16string(200, u'ж') + u".pdf";  // 404 UTF-8 bytes
  const std::u16string bare = qovra::BareFileName(longname);
  EXPECT_LE(qovra::Utf16ToUtf8(bare).size(), 255u);
  EXPECT_EQ(bare.substr(bare.size() - 4), u".pdf");
  EXPECT_EQ(bare.substr(0, 10), std::u16string(10, u'ж'));
}

TEST(MailContainerNames, SavedAttachmentsStayInTheTargetFolder) {
  const std::u16string names[] = {
      u"../../escape.txt", u"/tmp/absolute.txt", u"..\\back.txt", u"..", u"", u"sub/dir/inner.txt"};
  const std::u16string expected[] = {u"escape.txt", u"absolute.txt", u"back.txt",
                                     u"attachment", u"attachment",   u"inner.txt"};
  ScratchDir root;
  const std::string target = root.File("a/b");
  std::filesystem::create_directories(target);
  for (size_t i = 0; i < std::size(names); ++i) {
    TMemoryStream out;
    {
      qovra::TMailWriter writer(out, kBoundary);
      writer.WriteContentType();
      writer.AddField("body", "");
      writer.AddAttachmentHeader(names[i], 4);
      writer.WriteString("data");
    }
    TMemoryStream source(out.Data());
    TMailReader reader(source);
    ASSERT_TRUE(reader.Parse(nullptr, nullptr));
    ASSERT_EQ(reader.Attachments()[0].FileName.str(), names[i]);  // shown as sent
    ASSERT_TRUE(reader.SaveAttachment(0, true, nullptr, nullptr, true, Utf8ToUtf16(target)));
    const std::string saved = target + "/" + qovra::Utf16ToUtf8(expected[i]);
    EXPECT_EQ(ScratchDir::Read(saved), "data") << saved;
    std::filesystem::remove(saved);
  }
  // Nothing anywhere but in the target folder.
  size_t files = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root.path())) {
    if (e.is_regular_file()) ++files;
  }
  EXPECT_EQ(files, 0u);
}

TEST(MailContainerNames, SymbolicLinkAtTheTargetNameIsNotFollowed) {
  ScratchDir root;
  const std::string outside = root.Write("outside.txt", "keep");
  std::filesystem::create_directory(root.File("in"));
  std::filesystem::create_symlink(outside, root.File("in/link.txt"));
  TMemoryStream out;
  {
    qovra::TMailWriter writer(out, kBoundary);
    writer.WriteContentType();
    writer.AddField("body", "");
    writer.AddAttachmentHeader(u"link.txt", 4);
    writer.WriteString("evil");
  }
  TMemoryStream source(out.Data());
  TMailReader reader(source);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr));
  qovra::testing::ScopedFakeUi ui;
  EXPECT_FALSE(
      reader.SaveAttachment(0, true, nullptr, nullptr, true, Utf8ToUtf16(root.File("in"))));
  EXPECT_EQ(ScratchDir::Read(outside), "keep");
  EXPECT_EQ(ui->messages.size(), 1u);  // the file stream tells the user
}

}  // namespace
