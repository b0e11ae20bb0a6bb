// Mail container: exact bytes of the writer, round trips through the reader,
// AddFile's failures, the scratch file and the Date header forms.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/file_stream.h"
#include "base/utf.h"
#include "platform/temp_files.h"
#include "store/mail_container_date.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"
#include "support/scratch_dir.h"
#include "test_mail_container_util.h"

namespace {

using qovra::TMailReader;
using qovra::TMailWriter;
using qovra::TMemoryStream;
using qovra::Utf16ToUtf8;
using qovra::Utf8ToUtf16;
using qovra::testing::ScratchDir;
using qovra_test::FixedTime;
using qovra_test::kBoundary;

struct ProgressLog {
  std::vector<std::pair<int64_t, int64_t>> calls;
  static void Record(void* data, int64_t total, int64_t done) {
    static_cast<ProgressLog*>(data)->calls.emplace_back(total, done);
  }
};

TEST(MailWriter, WritesExactBytes) {
  ScratchDir dir;
  const std::string file = dir.Write("отчёт.txt", "abc");
  TMemoryStream out;
  ProgressLog progress;
  {
    TMailWriter writer(out, kBoundary, FixedTime);
    writer.AddMailHeaders("alice@localhost", u"Салом, дунё!",
                          "bob@localhost, Carol <carol@localhost>");
    writer.AddField("body", "Hi");
    ASSERT_TRUE(writer.AddFile(Utf8ToUtf16(file), ProgressLog::Record, u"", &progress));
    writer.AddAttachmentHeader(u"a.bin", 2);
    writer.WriteBuffer("\0\1", 2);
    ASSERT_TRUE(writer.Finish());
  }
  const std::string expected =
      "From: alice@localhost\r\n"
      "Subject: 0KHQsNC70L7QvCwg0LTRg9C90ZEh\r\n"
      "To: bob@localhost;carol@localhost\r\n"
      "Date: 05.03.2024 14:07:09\r\n"
      "Content-Type: multipart/form-data; boundary=----------------ABCDEFGHIJ123456\r\n"
      "\r\n------------------ABCDEFGHIJ123456\r\n"
      "Content-Disposition: form-data; name=\"body\"\r\n"
      "Content-Size: 2\r\n"
      "\r\n"
      "Hi"
      "\r\n------------------ABCDEFGHIJ123456\r\n"
      "Content-Disposition: form-data; name=\"attachment1\"; filename=\"0L7RgtGH0ZHRgi50eHQ=\"\r\n"
      "Content-Size: 3\r\n"
      "\r\n"
      "abc"
      "\r\n------------------ABCDEFGHIJ123456\r\n"
      "Content-Disposition: form-data; name=\"attachment2\"; filename=\"YS5iaW4=\"\r\n"
      "Content-Size: 2\r\n"
      "\r\n" +
      std::string("\0\1", 2) + "\r\n------------------ABCDEFGHIJ123456--";
  EXPECT_EQ(out.Data(), expected);
  EXPECT_EQ(progress.calls, (std::vector<std::pair<int64_t, int64_t>>{{3, 0}, {3, 3}}));
}

TEST(MailWriter, BoundaryIsSixteenDashesAndSixteenCapitalsOrDigits) {
  const std::string b = qovra::MakeContainerBoundary();
  ASSERT_EQ(b.size(), 32u);
  EXPECT_EQ(b.substr(0, 16), std::string(16, '-'));
  for (const char c : b.substr(16)) EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
}

TEST(MailWriter, EmptyNameFieldTakesTheNextAttachmentNumber) {
  TMemoryStream out;
  TMailWriter writer(out, kBoundary);
  writer.AddHeader("From:", "a@b");
  writer.WriteContentType();
  writer.AddField("body", "");
  writer.AddAttachmentHeader(u"x", 0);
  writer.AddField("", "z");
  ASSERT_TRUE(writer.Finish());
  EXPECT_NE(out.Data().find("name=\"attachment2\"\r\nContent-Size: 1\r\n\r\nz"), std::string::npos);
}

TEST(MailWriter, FailsWhenTheStreamRefusesBytesOrAnnouncedDataIsNotKept) {
  qovra_test::FailAfterStream refusing(40);
  {
    TMailWriter writer(refusing, kBoundary, FixedTime);
    writer.AddMailHeaders("alice@localhost", u"s", "bob@localhost");
    writer.AddField("body", "text");
    EXPECT_FALSE(writer.Finish());
  }
  TMemoryStream out;
  {
    TMailWriter short_data(out, kBoundary, FixedTime);
    short_data.AddField("body", "");
    short_data.AddAttachmentHeader(u"a", 5);
    short_data.WriteBuffer("abc", 3);
    EXPECT_FALSE(short_data.Finish());
  }
  {
    TMailWriter long_data(out, kBoundary, FixedTime);
    long_data.AddField("body", "");
    long_data.AddAttachmentHeader(u"a", 2);
    long_data.WriteBuffer("abc", 3);
    EXPECT_FALSE(long_data.Finish());
  }
}

// --- AddFile failures --------------------------------------------------------

TEST(MailWriterAddFile, UnreadableFileWritesNothing) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.File("folder"));
  const std::string cases[] = {dir.File("missing.txt"), dir.File("folder")};
  for (const std::string& path : cases) {
    TMemoryStream out;
    TMailWriter writer(out, kBoundary);
    writer.AddField("body", "");
    const size_t before = out.Data().size();
    EXPECT_FALSE(writer.AddFile(Utf8ToUtf16(path), nullptr, u"", nullptr)) << path;
    EXPECT_EQ(out.Data().size(), before) << path;
    EXPECT_TRUE(writer.Ok()) << path;
    // The number was not used up: the next attachment is still number 1.
    writer.AddAttachmentHeader(u"n", 0);
    EXPECT_NE(out.Data().find("name=\"attachment1\""), std::string::npos);
  }
}

struct ResizeOnProgress {
  std::string path;
  std::string tail;  // appended when set, else the file is cut to 100 bytes
  static void Act(void* data, int64_t, int64_t done) {
    auto* self = static_cast<ResizeOnProgress*>(data);
    if (done == 8192) {
      if (self->tail.empty()) {
        std::filesystem::resize_file(self->path, 100);
      } else {
        FILE* f = std::fopen(self->path.c_str(), "ab");
        std::fwrite(self->tail.data(), 1, self->tail.size(), f);
        std::fclose(f);
      }
    }
  }
};

TEST(MailWriterAddFile, FileChangingSizeWhileCopiedFails) {
  for (const bool grow : {false, true}) {
    ScratchDir dir;
    ResizeOnProgress resize{dir.Write("f.bin", std::string(20000, 'x')), grow ? "more" : ""};
    TMemoryStream out;
    TMailWriter writer(out, kBoundary);
    writer.AddField("body", "");
    EXPECT_FALSE(writer.AddFile(Utf8ToUtf16(resize.path), ResizeOnProgress::Act, u"", &resize))
        << grow;
    EXPECT_FALSE(writer.Ok()) << grow;
    EXPECT_FALSE(writer.Finish()) << grow;
  }
}

TEST(MailWriterAddFile, CopiesLargeFilesInBlocksWithProgress) {
  ScratchDir dir;
  std::string data(8192 * 3 + 17, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  const std::string file = dir.Write("big.bin", data);
  TMemoryStream out;
  ProgressLog progress;
  {
    TMailWriter writer(out, kBoundary, FixedTime);
    writer.WriteContentType();
    writer.AddField("body", "");
    ASSERT_TRUE(writer.AddFile(Utf8ToUtf16(file), ProgressLog::Record, u"shown.bin", &progress));
  }
  const int64_t n = static_cast<int64_t>(data.size());
  EXPECT_EQ(progress.calls, (std::vector<std::pair<int64_t, int64_t>>{
                                {n, 0}, {n, 8192}, {n, 16384}, {n, 24576}, {n, n}}));
  TMailReader reader(out);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
  ASSERT_EQ(reader.Attachments().size(), 1u);
  EXPECT_EQ(reader.Attachments()[0].FileName.str(), u"shown.bin");
  EXPECT_EQ(out.Data().substr(static_cast<size_t>(reader.Attachments()[0].DataOffset), data.size()),
            data);
}

// --- Round trips ---------------------------------------------------------------

struct Attachment {
  std::u16string name;
  std::string data;
};

struct RoundTrip {
  const char* label;
  std::u16string subject;
  std::u16string body;
  std::vector<Attachment> attachments;
  bool compressed;
};

std::string WriteContainer(const RoundTrip& c) {
  TMemoryStream out;
  {
    TMailWriter writer(out, kBoundary, FixedTime);
    writer.AddMailHeaders("alice@localhost", c.subject, "bob@localhost;alice@localhost");
    writer.AddField("body", Utf16ToUtf8(c.body));
    for (const Attachment& a : c.attachments) {
      writer.AddAttachmentHeader(a.name, static_cast<int64_t>(a.data.size()));
      // In uneven pieces, as a caller streaming a file would.
      for (size_t at = 0; at < a.data.size(); at += 1000) {
        const std::string piece = a.data.substr(at, 1000);
        writer.WriteBuffer(piece.data(), piece.size());
      }
    }
    EXPECT_TRUE(writer.Finish());
  }
  return c.compressed ? qovra_test::ZCompress(out.Data()) : out.Data();
}

std::string BoundaryTrap() {
  return "start\r\n--" + kBoundary + "--\r\n--" + kBoundary +
         "\r\nContent-Disposition: form-data; name=\"attachment9\"; "
         "filename=\"eA==\"\r\nContent-Size: 1\r\n\r\nx";
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31) ^ (i >> 8));
  return s;
}

TEST(MailContainer, RoundTrips) {
  const RoundTrip cases[] = {
      {"empty body, no attachments", u"", u"", {}, false},
      {"text, no attachments", u"Subject", u"Line 1\r\nLine 2", {}, false},
      {"two attachments of the same name",
       u"s",
       u"b",
       {{u"same.txt", "first"}, {u"same.txt", "second one"}},
       false},
      {"Cyrillic names",
       u"Ҳисобот № 5",
       u"Матн",
       {{u"ҳисобот 2024.pdf", "pdf"}, {u"Отчёт (копия).docx", "doc"}},
       false},
      {"data containing the boundary line", u"s", u"b", {{u"trap.bin", BoundaryTrap()}}, false},
      {"0-byte attachments", u"s", u"", {{u"empty1", ""}, {u"empty2", ""}}, false},
      {"large attachment", u"s", u"b", {{u"big.bin", Pattern(100000)}}, false},
      {"compressed", u"Сжато", u"Тело", {{u"a.txt", "aaa"}, {u"b.bin", Pattern(30000)}}, true},
  };
  // Read through the scratch copy, and in place (a compressed one is still
  // inflated into the scratch file).
  for (const bool in_place : {false, true}) {
    for (const RoundTrip& c : cases) {
      SCOPED_TRACE(testing::Message() << c.label << (in_place ? ", in place" : ""));
      TMemoryStream source(WriteContainer(c));
      TMailReader reader(source, [] { return 1.0; });
      reader.SetReadInPlace(in_place);
      ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
      EXPECT_TRUE(reader.Parsed());
      EXPECT_EQ(reader.From(), "alice@localhost");
      EXPECT_EQ(reader.To(), "bob@localhost;alice@localhost");
      EXPECT_EQ(reader.Subject(), c.subject);
      EXPECT_EQ(reader.Body(), c.body);
      EXPECT_EQ(reader.Date(), FixedTime());
      ASSERT_EQ(reader.Attachments().size(), c.attachments.size());

      ScratchDir dir;
      int64_t last_offset = 0;
      for (size_t i = 0; i < c.attachments.size(); ++i) {
        const qovra::TMailAttachmentInfo& info = reader.Attachments()[i];
        EXPECT_EQ(info.FileName.str(), c.attachments[i].name);
        EXPECT_EQ(info.DataSize, static_cast<int64_t>(c.attachments[i].data.size()));
        EXPECT_GT(info.DataOffset, last_offset);
        last_offset = info.DataOffset;
        EXPECT_EQ(reader.IndexOfAttachment(info.DataOffset), static_cast<int>(i));

        // The data lies at DataOffset of the plain container.
        std::string direct(c.attachments[i].data.size(), '\0');
        ASSERT_TRUE(reader.SeekData(info.DataOffset));
        EXPECT_EQ(reader.ReadData(direct.data(), direct.size()), direct.size());
        EXPECT_EQ(direct, c.attachments[i].data);

        // Saved by offset and by position.
        const std::string by_offset = dir.File("o" + std::to_string(i));
        const std::string by_position = dir.File("p" + std::to_string(i));
        ASSERT_TRUE(reader.SaveAttachment(info.DataOffset, false, nullptr, nullptr, false,
                                          Utf8ToUtf16(by_offset)));
        ASSERT_TRUE(reader.SaveAttachment(static_cast<int64_t>(i), true, nullptr, nullptr, false,
                                          Utf8ToUtf16(by_position)));
        EXPECT_EQ(ScratchDir::Read(by_offset), c.attachments[i].data);
        EXPECT_EQ(ScratchDir::Read(by_position), c.attachments[i].data);
      }
      EXPECT_EQ(reader.IndexOfAttachment(last_offset + 1), -1);
    }
  }
}

TEST(MailContainer, HundredsOfRecipientsFitTheHeader) {
  std::string to;
  for (int i = 0; i < 500; ++i) to += "recipient" + std::to_string(i) + "@example.uz;";
  to.pop_back();
  TMemoryStream out;
  {
    TMailWriter writer(out, kBoundary, FixedTime);
    writer.AddMailHeaders("alice@localhost", u"s", to);
    writer.AddField("body", "b");
  }
  ASSERT_GT(to.size(), 8192u);
  TMailReader reader(out);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
  EXPECT_EQ(reader.To(), to);
  EXPECT_EQ(reader.Body(), u"b");
}

TEST(MailContainer, SaveAttachmentReportsProgressInChunks) {
  const RoundTrip c{"", u"", u"", {{u"a.bin", Pattern(40000)}}, false};
  TMemoryStream source(WriteContainer(c));
  TMailReader reader(source);
  ASSERT_TRUE(reader.Parse(nullptr, nullptr));
  ScratchDir dir;
  ProgressLog progress;
  ASSERT_TRUE(reader.SaveAttachment(0, true, &progress, ProgressLog::Record, true,
                                    Utf8ToUtf16(dir.path())));
  EXPECT_EQ(ScratchDir::Read(dir.File("a.bin")), c.attachments[0].data);
  EXPECT_EQ(progress.calls, (std::vector<std::pair<int64_t, int64_t>>{
                                {40000, 0}, {40000, 16384}, {40000, 32768}, {40000, 40000}}));
  // Out of range, by position and by offset.
  EXPECT_FALSE(reader.SaveAttachment(1, true, nullptr, nullptr, true, Utf8ToUtf16(dir.path())));
  EXPECT_FALSE(
      reader.SaveAttachment(12345, false, nullptr, nullptr, true, Utf8ToUtf16(dir.path())));
}

TEST(MailContainer, UnparsedReaderSavesNothingAndFindsNothing) {
  TMemoryStream source(std::string("not a container"));
  TMailReader reader(source);
  EXPECT_FALSE(reader.Parse(nullptr, nullptr));
  EXPECT_EQ(reader.IndexOfAttachment(0), -1);
  ScratchDir dir;
  EXPECT_FALSE(reader.SaveAttachment(0, true, nullptr, nullptr, true, Utf8ToUtf16(dir.path())));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(MailContainer, ScratchFileHasNoNameAndIsGoneWithTheReader) {
  ScratchDir temp;
  qovra::SetTempFolder(temp.path());
  {
    TMemoryStream source(WriteContainer({"", u"s", u"b", {{u"a", "data"}}, true}));
    TMailReader reader(source);
    ASSERT_TRUE(reader.Parse(nullptr, nullptr)) << reader.Error();
    EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
    std::string data(4, '\0');
    ASSERT_TRUE(reader.SeekData(reader.Attachments()[0].DataOffset));
    EXPECT_EQ(reader.ReadData(data.data(), 4), 4u);
    EXPECT_EQ(data, "data");
  }
  EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
  qovra::SetTempFolder("");
}

TEST(MailContainer, ParseReportsProgressOverTheSource) {
  const std::string plain = WriteContainer({"", u"s", u"b", {{u"a", Pattern(20000)}}, false});
  TMemoryStream source(plain);
  TMailReader reader(source);
  ProgressLog progress;
  ASSERT_TRUE(reader.Parse(ProgressLog::Record, &progress));
  ASSERT_FALSE(progress.calls.empty());
  const int64_t n = static_cast<int64_t>(plain.size());
  EXPECT_EQ(progress.calls.front(), std::make_pair(n, int64_t{0}));
  EXPECT_EQ(progress.calls.back(), std::make_pair(n, n));
}

// --- Date header ----------------------------------------------------------------

TEST(MailDate, WritesDayMonthYearLocalTime) {
  EXPECT_EQ(qovra::MailDateText(FixedTime()), "05.03.2024 14:07:09");
  qovra::TDateTime t = 0;
  ASSERT_TRUE(qovra::TryEncodeDateTime(1999, 12, 31, 23, 59, 59, 999, t));
  EXPECT_EQ(qovra::MailDateText(t), "31.12.1999 23:59:59");
}

TEST(MailDate, ReadsTheListedFormsAndFallsBackToTheClock) {
  struct Case {
    const char* text;
    int y, mo, d, h, mi, s;  // y == 0: not a date, the clock's time
  };
  const Case cases[] = {
      {"05.03.2024 14:07:09", 2024, 3, 5, 14, 7, 9},
      {"5.3.2024 4:07", 2024, 3, 5, 4, 7, 0},
      {"5.3.2024 4:07:01", 2024, 3, 5, 4, 7, 1},
      {"2024-03-05 14:07:09", 2024, 3, 5, 14, 7, 9},
      {"3/5/2024 2:07 PM", 2024, 3, 5, 14, 7, 0},
      {"3/5/2024 12:07:30 am", 2024, 3, 5, 0, 7, 30},
      {"3/5/2024 12:00 PM", 2024, 3, 5, 12, 0, 0},
      {"3/5/2024 14:07:09", 2024, 3, 5, 14, 7, 9},
      {"", 0, 0, 0, 0, 0, 0},
      {"yesterday", 0, 0, 0, 0, 0, 0},
      {"31.02.2024 10:00:00", 0, 0, 0, 0, 0, 0},  // no such day
      {"05.03.2024", 0, 0, 0, 0, 0, 0},           // no time
      {"05.03.2024 25:00:00", 0, 0, 0, 0, 0, 0},
      {"3/5/2024 13:00 PM", 0, 0, 0, 0, 0, 0},
      {"2024-3-5 14:07:09", 0, 0, 0, 0, 0, 0},
      {"05.03.2024 14:07:09 extra", 0, 0, 0, 0, 0, 0},
      {"Tue, 05 Mar 2024 14:07:09 +0000", 0, 0, 0, 0, 0, 0},
  };
  const qovra::TDateTime clock_time = 45000.5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    qovra::TDateTime expected = clock_time;
    if (c.y != 0) {
      ASSERT_TRUE(qovra::TryEncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, 0, expected));
    }
    EXPECT_EQ(qovra::MailDateFromText(c.text, [&] { return clock_time; }), expected);
  }
}

TEST(MailDate, LocalNowIsNearTheSystemClock) {
  const double delta = qovra::LocalNow() - qovra::NowUTC();
  EXPECT_LT(delta < 0 ? -delta : delta, 1.0);  // within a day: only the zone differs
}

}  // namespace
