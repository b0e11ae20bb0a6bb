// The request XML writer and the address-list helpers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/xml_maker.h"
#include "net/xml_maker_addresses.h"

namespace {

using qovra::TMemoryStream;
using qovra::TXMLMaker;

TEST(XMLMaker, RequestComesOutByteForByte) {
  TMemoryStream s;
  TXMLMaker xml(s, "request");
  xml.OpenRoot();
  xml.AddInteger("cmd", 162, true);
  xml.AddString("login", "user", false, true);
  xml.AddInteger("neg", -1, true);
  xml.AddInt64("size", true, int64_t{1} << 40);
  xml.AddString("name", "Ivan", true, true);
  xml.AddString("list", "x", false, false);
  xml.OpenTag("item");
  xml.WriteRaw("<raw a=\"&\"/>");
  xml.CloseTag("item");
  xml.CloseTag("list");
  xml.CloseRoot();
  EXPECT_TRUE(xml.Ok());
  EXPECT_EQ(s.Data(),
            "<request><cmd val=\"162\"/><login val=\"user\"/><neg val=\"-1\"/>"
            "<size val=\"1099511627776\"/><name val=\"SXZhbg==\"/><list val=\"x\">"
            "<item><raw a=\"&\"/></item></list></request>");
}

TEST(XMLMaker, OneArgumentRequest) {
  TMemoryStream s;
  TXMLMaker xml(s, "request");
  xml.OpenRoot();
  xml.AddInteger("cmd", 170, true);
  xml.AddString("uuid", "0123456789ABCDEF0123456789ABCDEF", false, true);
  xml.CloseRoot();
  EXPECT_EQ(
      s.Data(),
      "<request><cmd val=\"170\"/><uuid val=\"0123456789ABCDEF0123456789ABCDEF\"/></request>");
}

TEST(XMLMaker, ValuesAreEscaped) {
  struct Case {
    const char* value;
    const char* written;
  };
  const Case cases[] = {
      {"a\"b", "a&quot;b"},
      {"<x>", "&lt;x&gt;"},
      {"a&b", "a&amp;b"},
      {"&amp;", "&amp;amp;"},
      {"user@host.uz", "user@host.uz"},
      {"it's", "it's"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TMemoryStream s;
    TXMLMaker xml(s, "request");
    xml.AddString("v", c.value, false, true);
    EXPECT_EQ(s.Data(), std::string("<v val=\"") + c.written + "\"/>");
  }
  // Base64 text never needs escaping and is written as it is.
  TMemoryStream s;
  TXMLMaker xml(s, "request");
  xml.AddString("v", "<&>", true, true);
  EXPECT_EQ(s.Data(), "<v val=\"PCY+\"/>");
}

// A stream that takes nothing.
class FullStream : public TMemoryStream {
 public:
  size_t Write(const void*, size_t) override { return 0; }
};

TEST(XMLMaker, FailedWriteIsReported) {
  FullStream s;
  TXMLMaker xml(s, "request");
  xml.OpenRoot();
  EXPECT_FALSE(xml.Ok());
}

qovra::TEMailList ListOf(const std::vector<std::string>& items) {
  qovra::TEMailList list;
  for (const auto& i : items) list.Add(i);
  return list;
}

std::vector<std::string> Items(const qovra::TEMailList& list) {
  return std::vector<std::string>(list.begin(), list.end());
}

TEST(AddressList, JoinAddressArray) {
  EXPECT_EQ(qovra::JoinAddressArray(ListOf({}), "; "), "");
  EXPECT_EQ(qovra::JoinAddressArray(ListOf({"a@x.uz"}), "; "), "a@x.uz");
  EXPECT_EQ(qovra::JoinAddressArray(ListOf({"a@x.uz", "b@y.uz", "c@z.uz"}), ";"),
            "a@x.uz;b@y.uz;c@z.uz");
  EXPECT_EQ(qovra::JoinAddressArray(ListOf({"a@x.uz", "b@y.uz"}), "; "), "a@x.uz; b@y.uz");
}

TEST(AddressList, SplitAddressList) {
  const std::string a63 = std::string(58, 'a') + "@x.uz";  // 63 characters
  const std::string a64 = std::string(59, 'a') + "@x.uz";
  const std::string a70 = std::string(65, 'a') + "@x.uz";
  ASSERT_EQ(a63.size(), 63u);
  struct Case {
    std::string name;
    std::string text;
    bool result;
    std::vector<std::string> list;  // afterwards; the list starts as {"old@x.uz"}
  };
  const std::vector<Case> cases = {
      {"two with blank item and trailing separator",
       " a@x.uz ; ;b@y.uz;",
       true,
       {"a@x.uz", "b@y.uz"}},
      {"one", "a@x.uz", true, {"a@x.uz"}},
      {"63 characters kept whole", a63, true, {a63}},
      {"empty text empties the list", "", false, {}},
      {"only separators and blanks", " ; ;", false, {"old@x.uz"}},
      {"64 characters refused", a64, false, {"old@x.uz"}},
      {"70 characters refused", a70, false, {"old@x.uz"}},
      {"a long one among short ones", "a@x.uz;" + a70, false, {"old@x.uz"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qovra::TEMailList list = ListOf({"old@x.uz"});
    EXPECT_EQ(qovra::SplitAddressList(list, c.text, ';'), c.result);
    EXPECT_EQ(Items(list), c.list);
  }
}

}  // namespace
