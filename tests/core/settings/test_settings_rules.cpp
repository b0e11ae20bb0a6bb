// Reading rules of the settings file: sections, defaults, the proxy and
// send-mode rules, text coding and element lookup.
#include <gtest/gtest.h>

#include <string>

#include "base/base64.h"
#include "base/utf.h"
#include "keys/crypto_binding.h"
#include "settings/settings_xml.h"

namespace qovra {
namespace {

std::string File(const std::string& body) {
  return std::string(kSettingsDeclaration) + "\r\n<options_xml>\r\n" + body +
         "\r\n</options_xml>\r\n";
}

TEST(SettingsRules, ProxyFieldsAreReadOnlyWithUseprxyAndPortFallsBackTo8080) {
  struct Case {
    const char* name;
    const char* conn;
    uint8_t useprxy;
    const char* prxaddr;
    uint16_t prxport;
    uint8_t prxauth;
    const char* prxuser;
  } const cases[] = {
      {"no port element", "<useprxy>1</useprxy><prxaddr>proxy.uz</prxaddr>", 1, "proxy.uz", 8080, 0,
       ""},
      {"proxy off clears everything",
       "<useprxy>0</useprxy><prxaddr>proxy.uz</prxaddr><prxport>3128</prxport>"
       "<prxauth>1</prxauth><prxuser>u</prxuser>",
       0, "", 0, 0, ""},
      {"empty address switches the proxy off",
       "<useprxy>1</useprxy><prxaddr></prxaddr><prxport>3128</prxport>", 0, "", 3128, 0, ""},
      {"all fields",
       "<useprxy>1</useprxy><prxaddr>p</prxaddr><prxport>3128</prxport><prxauth>1</prxauth>"
       "<prxuser>bob</prxuser>",
       1, "p", 3128, 1, "bob"},
      {"highest port", "<useprxy>1</useprxy><prxaddr>p</prxaddr><prxport>65535</prxport>", 1, "p",
       65535, 0, ""},
      {"port above 65535 is not a number",
       "<useprxy>1</useprxy><prxaddr>p</prxaddr><prxport>65536</prxport>", 1, "p", 8080, 0, ""},
      {"negative port", "<useprxy>1</useprxy><prxaddr>p</prxaddr><prxport>-1</prxport>", 1, "p",
       8080, 0, ""},
      {"port with letters", "<useprxy>1</useprxy><prxaddr>p</prxaddr><prxport>80a</prxport>", 1,
       "p", 8080, 0, ""},
      {"useprxy not a number", "<useprxy>yes</useprxy><prxaddr>p</prxaddr>", 0, "", 0, 0, ""},
      {"useprxy beyond its byte", "<useprxy>256</useprxy><prxaddr>p</prxaddr>", 0, "", 0, 0, ""},
  };
  for (const Case& c : cases) {
    TOptions o;
    o.Conn.prxport = 1;  // the proxy fields are always overwritten
    o.Conn.prxuser = "old";
    ASSERT_TRUE(ReadOptionsFromBytes(File(std::string("<conn>") + c.conn + "</conn>"), o))
        << c.name;
    EXPECT_EQ(o.Conn.useprxy, c.useprxy) << c.name;
    EXPECT_EQ(o.Conn.prxaddr.str(), c.prxaddr) << c.name;
    EXPECT_EQ(o.Conn.prxport, c.prxport) << c.name;
    EXPECT_EQ(o.Conn.prxauth, c.prxauth) << c.name;
    EXPECT_EQ(o.Conn.prxuser.str(), c.prxuser) << c.name;
  }
}

TEST(SettingsRules, ServerUrlIsRebuiltFromSrvaddr) {
  TOptions o;
  ASSERT_TRUE(ReadOptionsFromBytes(File("<conn><srvaddr>mail.uz:8080</srvaddr></conn>"), o));
  EXPECT_EQ(o.Conn.srvaddr, "mail.uz:8080");
  EXPECT_EQ(o.Conn.ServerUrl, "http://mail.uz:8080/qovra4/");
}

TEST(SettingsRules, SendModeOutsideZeroOneBecomesZero) {
  struct Case {
    const char* mail;
    int32_t sendmode;
  } const cases[] = {
      {"<sendmode>7</sendmode>", 0},
      {"<sendmode>-1</sendmode>", 0},
      {"<sendmode>1</sendmode>", 1},
      {"<sendmode>0</sendmode>", 0},
      {"", 1},  // missing element: default 1
      {"<sendmode>x</sendmode>", 1},
  };
  for (const Case& c : cases) {
    TOptions o;
    ASSERT_TRUE(ReadOptionsFromBytes(File(std::string("<mail>") + c.mail + "</mail>"), o));
    EXPECT_EQ(o.Mail.sendmode, c.sendmode) << c.mail;
  }
}

TEST(SettingsRules, AbsentSectionsKeepFieldsAndMissingElementsTakeDefaults) {
  TOptions o;
  o.Mail.reffreq = 600;
  o.Other.lastlgn = "kept";
  // No iface section: langid stays 0. An empty mail section: defaults.
  ASSERT_TRUE(ReadOptionsFromBytes(File("<MAIL></MAIL><unknown><langid>5</langid></unknown>"), o));
  EXPECT_EQ(o.langid, 0);
  EXPECT_EQ(o.Mail.reffreq, 1);
  EXPECT_EQ(o.Mail.sendmode, 1);
  EXPECT_EQ(o.Other.lastlgn, "kept");

  ASSERT_TRUE(ReadOptionsFromBytes(File("<Iface/>"), o));
  EXPECT_EQ(o.langid, 1);
  ASSERT_TRUE(ReadOptionsFromBytes(File("<iface><langid> 2 </langid></iface>"), o));
  EXPECT_EQ(o.langid, 2);
  // Element names compare exactly.
  ASSERT_TRUE(ReadOptionsFromBytes(File("<iface><LANGID>0</LANGID></iface>"), o));
  EXPECT_EQ(o.langid, 1);
}

TEST(SettingsRules, EncipheredPathThatDoesNotDecipherIsEmpty) {
  const std::string good = Base64EncodeStr(EncryptStringWithName("/home/u/a.cer", "crtpath"));
  ASSERT_FALSE(good.empty());
  const auto read = [](const std::string& stored) {
    TOptions o;
    o.Keys.crtpath = u"old";
    EXPECT_TRUE(ReadOptionsFromBytes(File("<keys><crtpath>" + stored + "</crtpath></keys>"), o));
    return o.Keys.crtpath;
  };
  EXPECT_EQ(read(good), u"/home/u/a.cer");
  EXPECT_EQ(read("not base64!"), u"");
  EXPECT_EQ(read(Base64EncodeStr("short")), u"");  // not a string form
  EXPECT_EQ(read(""), u"");
  // Under another element's name key the value never comes out in clear.
  EXPECT_NE(read(Base64EncodeStr(EncryptStringWithName("/home/u/a.cer", "pvkpath"))),
            u"/home/u/a.cer");
}

TEST(SettingsRules, MalformedBytesLeaveOptionsUntouched) {
  const char* const bad[] = {
      "",
      "garbage",
      "<options_xml><conn>",
      "<?xml version=\"1.0\"?>\r\n",
      "<options_xml><conn><srvaddr>a</srvadr></conn></options_xml>",
  };
  for (const char* bytes : bad) {
    TOptions o;
    o.langid = 7;
    EXPECT_FALSE(ReadOptionsFromBytes(bytes, o)) << bytes;
    EXPECT_EQ(o.langid, 7);
  }
}

TEST(SettingsRules, DtdEntitiesAreNeverExpanded) {
  const std::string bytes =
      "<?xml version=\"1.0\"?>\r\n<!DOCTYPE o [<!ENTITY x \"EXPANDED\">"
      "<!ENTITY ext SYSTEM \"file:///etc/passwd\">]>\r\n"
      "<options_xml><other><lastlgn>&x;&ext;</lastlgn></other></options_xml>";
  TOptions o;
  ASSERT_TRUE(ReadOptionsFromBytes(bytes, o));
  EXPECT_EQ(o.Other.lastlgn, "&x;&ext;");
}

TEST(SettingsRules, ProxyTextLimitsCountCharactersAndNeverSplitOne) {
  const std::string zhe = "\u0416";  // two bytes of UTF-8
  std::string cyrillic;
  for (int i = 0; i < 130; ++i) cyrillic += zhe;
  struct Case {
    std::string text;
    size_t bytes_kept;
  } const cases[] = {
      {std::string(126, 'a') + zhe, 128},           // 127 characters: whole
      {std::string(127, 'a') + zhe, 127},           // the 128th is dropped whole
      {std::string(126, 'a') + "\U0001F600", 130},  // four bytes, one character
      {cyrillic, 254},
      {std::string(126, 'a') + "\xD0", 127},       // a lone lead byte counts as one
      {std::string(126, 'a') + "\xE2\x82x", 127},  // a cut sequence: its bytes count singly
  };
  for (const Case& c : cases) {
    TConnOpts conn;
    conn.prxpass = c.text;
    EXPECT_EQ(conn.prxpass.size(), c.bytes_kept);
    EXPECT_EQ(conn.prxpass.str(), c.text.substr(0, c.bytes_kept));
  }
  // The same limit when the settings file holds a longer value.
  TOptions o;
  const std::string raw(130, '\xC6');  // "Ж" in Windows-1251
  ASSERT_TRUE(ReadOptionsFromBytes(
      File("<conn><useprxy>1</useprxy><prxaddr>p</prxaddr><prxpass>" + raw + "</prxpass></conn>"),
      o));
  EXPECT_EQ(o.Conn.prxpass.str(), cyrillic.substr(0, 254));
}

TEST(SettingsText, DecodeExpandsEntitiesReferencesAndCodePage) {
  struct Case {
    std::string raw;
    std::string utf8;
  } const cases[] = {
      {"&amp;&lt;&gt;&quot;&apos;&#039;", "&<>\"''"},
      {"&#1202;&#x4B2;&#X4b2;", "\u04B2\u04B2&#X4b2;"},  // "&#X" is no reference
      {"\xCF\xE0\xF0\xEE\xEB\xFC", "\u041F\u0430\u0440\u043E\u043B\u044C"},
      {"\x98", "\u0098"},
      {"&#128512;", "\U0001F600"},
      {"&#0;&#55296;&#1114112;&#;&#x;", "&#0;&#55296;&#1114112;&#;&#x;"},
      {"&foo; & &amp", "&foo; & &amp"},
      {"&#123456789012;", "&#123456789012;"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeSettingsText(c.raw), c.utf8) << c.raw;
}

TEST(SettingsText, EncodeWritesCodePageBytesAndReferencesAndRoundTrips) {
  struct Case {
    std::string utf8;
    std::string raw;
  } const cases[] = {
      {"a&\"'<>b", "a&amp;&quot;&#039;&lt;&gt;b"},
      {"\u041F\u0430\u0440", "\xCF\xE0\xF0"},
      {"\u04B2\u0430", "&#1202;\xE0"},  // Uzbek letter outside the code page
      {"\U0001F600", "&#128512;"},
      {"\u0098\t\r\n", "&#152;&#9;&#13;&#10;"},
      {"\xFF", "&#65533;"},  // not UTF-8: the replacement character
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeSettingsText(c.utf8), c.raw) << c.utf8;
    if (c.utf8 != "\xFF") {
      EXPECT_EQ(DecodeSettingsText(c.raw), c.utf8) << c.utf8;
    }
  }
  EXPECT_EQ(EscapeSettingsBytes("/a&b/\xD0\x97\n"), "/a&amp;b/\xD0\x97&#10;");
}

TEST(SettingsText, GetNodeTextJoinsTextAndCdataOrGivesDefault) {
  pugi::xml_document doc;
  ASSERT_TRUE(ParseSettingsDocument(
      "<r><a>x&amp;<![CDATA[&amp;\xCF]]><b>y</b>z</a><e></e><s> </s></r>", doc));
  const pugi::xml_node r = doc.document_element();
  EXPECT_EQ(GetNodeText(r, "a", "d"), "x&&amp;\u041Fyz");
  EXPECT_EQ(GetNodeText(r, "e", "d"), "");
  EXPECT_EQ(GetNodeText(r, "s", "d"), " ");
  EXPECT_EQ(GetNodeText(r, "missing", "d"), "d");
}

}  // namespace
}  // namespace qovra
