// The two language files: both parse, hold the same keys with the same format
// arguments, and hold every key the program looks up.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char* const kLangFiles[] = {"lang.uzc.xml", "lang.ru.xml"};

// Every message key the program's windows and core show, with the numbered
// families written out: server result codes 2-18, the per-recipient
// certificate codes 3-5 of the send workflow, the two sending modes, the five
// folders and the five security questions.
// clang-format off
const char* const kProgramKeys[] = {
    // Buttons, hints, folders, questions
    "btnYes", "btnNo", "btnCancel", "btnFinish", "btnCheckAll", "btnSendingMode0",
    "btnSendingMode1", "btnSaveVoiceCaption", "btnSaveVoiceHint", "hintSecureSended",
    "hintFastSended", "folder0", "folder1", "folder2", "folder3", "folder4", "strQuestion1",
    "strQuestion2", "strQuestion3", "strQuestion4", "strQuestion5",
    // Server request and transport
    "msgMailContentBiggerThanServerUploadSizeLimit", "msgCannotSignSendingData",
    "msgCannotEncryptRequest", "msgConnectionError", "msgXmlParsingError", "msgSessionIsExpired",
    "msgCheckSumError", "msgServerCertificateInvalid", "msgUnauthenticSignature", "msgInvalidData",
    "msgUnreachableHost", "msgSwitchToOnline", "msgEncrypting", "msgSendingRequest",
    "msgReadingResponse", "msgDecrypting",
    // Server result codes
    "msgServerError2", "msgServerError3", "msgServerError4", "msgServerError5", "msgServerError6",
    "msgServerError7", "msgServerError8", "msgServerError9", "msgServerError10", "msgServerError11",
    "msgServerError12", "msgServerError13", "msgServerError14", "msgServerError15",
    "msgServerError16", "msgServerError17", "msgServerError18",
    // Keys, certificate, session
    "msgCertificatePathNotSpecified", "msgCertificatePathNotExists",
    "msgPrivateKeyPathNotSpecified", "msgPrivateKeyNotExists", "msgServerURLNotSpecified",
    "msgSpecifiedServerURLInvalid", "msgMurvexNotFound", "msgMurvexPasswordCaption",
    "msgMurvexPasswordPrompt", "msgMurvexPasswordIncorrect", "msgMurvexPassword",
    "msgUserPrivateKeyInvalid", "msgPrivateKeyIsPasswordEncrypted", "msgEnterPrivateKeyPassword",
    "msgUserPrivateKeyPasswordIncorrect", "msgUserCertificateInvalid", "msgHandshaking",
    "msgCannotGenerateEncKey", "msgPasswordCaption", "msgPasswordPrompt", "msgGoOnlineCaption",
    "msgCertIsAboutToBeExpired",
    // Account, update and download commands
    "msgChangingPassword", "msgRegisteringUser", "msgGetControlQuestion", "msgSetPassword",
    "msgUpdatingMail", "msgChangingProfile", "msgCheckingUpdate", "msgMailNotFound",
    "msgNoNeedUpdate", "msgNewVersionAvailable2", "msgNewVersionAvailable", "msgUpdaterNotStarted",
    // Sending protocol and workflow
    "msgGettingUsersCertificates", "msgSendingMailMessage", "msgPreparing", "msgSigning",
    "msgSending", "msgEncryptingFor", "msgCannotSignFile", "msgCannotEncryptFile",
    "msgVoiceNotRecorded", "msgEMailAddressesNotSpecified", "msgEMailAddressesIsInvalid",
    "msgConfirmEmptySubject", "msgInvalidEmailsSpecified", "msgInvalidEmail3", "msgInvalidEmail4",
    "msgInvalidEmail5", "msgMailContentTooBigSwitchToFastMode", "msgLoginMailSended",
    "msgLoginMailSendingSkipped", "msgLoginMailSendError", "msgDomainMailSendError",
    "msgMailSended", "msgMailSendResult",
    // Main window, receiving, opening
    "msgReady", "msgOfflineMode", "msgSubject", "msgSentTime", "msgReceivedTime", "msgReadTime",
    "msgTo", "msgFrom", "msgDate", "msgAttachments", "msgBuildingList",
    "msgChangingPasswordNotAvailable", "msgGettingMails", "msgDownloadingMail", "msgGettingReport",
    "msgSaving", "msgProcessingMail", "msgInvalidSenderCertificate",
    "msgIncompatibleSenderDiffieHellmanKey", "msgVerifying", "msgCannotDecryptMail",
    "msgMessageSizeIncorrect", "msgParsingMail", "msgMailFileCorrupted", "msgNewMailNotice",
    "msgAuthentic", "msgUnauthentic", "msgSignerCertInvalid", "msgSignerCertNotYetValid",
    "msgSignerCertExpired", "msgMailSignContentNotFound", "msgMailContentNotFound",
    "msgOpeningMail", "msgParsingSignature", "msgSignatureFileCorrupted", "msgFAU",
    // Report, printing, saving
    "msgMailReportTitle", "msgSender", "msgMailSubject", "msgSendTime", "msgRecipients",
    "msgReceived", "msgRead", "msgConfirmOverwrite", "msgSavingAudioRecord", "msgSavingAttachment",
    "msgOpeningAttachment",
    // Import
    "msgQovraMailFilesFilter", "msgSelectMailFilesFolder", "msgMailsImported", "msgImporting",
    // Compose, drafts, delete, forward
    "msgAttachedFileIsExistsAndEmptyAndForbidden", "msgAttachedFileIsExistsAndEmpty",
    "msgAttachedFileIsExistsAndForbidden", "msgAttachedFileIsEmptyAndForbidden",
    "msgAttachedFileIsExists", "msgAttachedFileIsForbidden", "msgAttachedFileEmpty",
    "msgSaveToDraftsPrompt", "msgCouldNotSaveMailForAdministrativeUseOnly",
    "msgCannotSaveEmptyMail", "msgCouldNotEditMailForAdministrativeUse",
    "msgCouldNotForwardForAdministrativeUseMail", "msgConfirmDeleteMail", "msgConfirmDeleteMails",
    "msgDeleting", "msgOpening",
    "msgAttachedFilePathTooLong", "msgMailTooBig", "msgCannotWriteMail", "odAttachFiles",
    "msgNoRecordingDevice", "msgNoPlaybackDevice", "msgAudioDeviceError", "msgVoiceRecordTooLong",
    "msgVoiceCompressFailed",
    // Address book
    "msgAll", "msgUpdateContactInfoAs", "msgGroupExists", "msgUpdateGroupNameAs",
    "msgGroupOrContactName", "msgContactEmail", "msgContactCompany", "msgContactJobTitle",
    "msgEditContact", "msgEditGroup", "msgConfirmDeleteContact", "msgConfirmDeleteContacts",
    "msgContacts", "msgIncorrectQovraContactsFile", "msgEmptyQovraContactsFile",
    "msgCouldNotConnectToServer", "msgFIO", "msgEmail",
    // Login, registration, recovery, password change, profile
    "msgNotSpecified", "msgLogin", "msgPassword", "msgOfflinePassword", "msgLoginNotSpecified",
    "msgPasswordNotSpecified", "msgPasswordLengthMismatch", "msgAuthorizing",
    "msgConnectingToServer", "msgConnectionOK", "msgENKeyboardLayoutActivated", "msgEnterFirstName",
    "msgEnterLastName", "msgEnterLogin", "msgLoginLengthMustMoreThan4", "msgEnterPassword",
    "msgPasswordNotConfirmed", "msgEnterAnswer", "msgAnswerLengthMustBeAtLeast6Symbols",
    "msgSuccessfullyRegistered", "msgAllChancesUsed", "msgEnterCaptcha", "msgIncorrectCaptcha",
    "msgIncorrectAnswer", "msgEnterNewPassword", "msgPasswordSetButRemains",
    "msgChangeOfflinePassword", "msgEnterCurrentPassword", "msgCurrentPasswordIncorrect",
    "msgPasswordUnchanged", "msgPasswordChanged", "msgOfflinePasswordChanged",
    "msgUserProfileSuccessfullyChanged",
    // Settings
    "msgMailDirectoryChanged", "msgMailDataExistsIgnoreCopy", "msgFreqNotUsed", "msgFreq5",
    "msgFreq10", "msgFreq15", "msgFreq30", "msgFreq60", "msgSelectMailDirectory",
};
// clang-format on

// Keys that core/ looks up by name without a "msg" literal (the message-box
// buttons). Every "msg..." literal in the sources is found by the scan below.
const char* const kCodeKeys[] = {"btnYes", "btnNo", "btnCancel"};

// The format arguments each key is filled with, as conversion letters in
// order; every key not listed here is shown without arguments.
const std::map<std::string, std::string> kFormats = {
    {"msgFunctionNotAvailable", "s"},      // caption of the action or link
    {"msgUnreachableHost", "s"},           // host
    {"msgHttpHostNotFound", "s"},          // host
    {"msgHttpConnectFailed", "s"},         // host
    {"msgHttpProxyNotFound", "s"},         // proxy host
    {"msgHttpProxyConnectFailed", "s"},    // proxy host
    {"msgHttpProxyRefused", "s"},          // proxy host
    {"msgHttpTimedOut", "s"},              // host
    {"msgHttpTlsFailed", "s"},             // host
    {"msgHttpStatus", "sd"},               // host, HTTP status
    {"msgHttpConnectionLost", "s"},        // host
    {"msgHttpBadReply", "s"},              // host
    {"msgHttpRequestFailed", "sd"},        // host, error code
    {"msgServerError15", "s"},             // login the certificate is registered to
    {"msgServerError16", "s"},             // login that is taken
    {"msgPasswordPrompt", "s"},            // last login
    {"msgCertIsAboutToBeExpired", "d"},    // days left
    {"msgNewVersionAvailable", "s"},       // version
    {"msgNewVersionAvailable2", "s"},      // version
    {"msgDownloadingMail", "dsds"},        // k, size of k, N, total size
    {"msgProcessingMail", "dd"},           // k, N
    {"msgNewMailNotice", "d"},             // new mails
    {"msgFreqSeconds", "d"},               // receive period in seconds
    {"msgConfirmOverwrite", "s"},          // file name
    {"msgCannotSaveAttachment", "s"},      // file name
    {"msgAttachmentNotOpened", "s"},       // file name
    {"msgFileSizeBytes", "s"},             // byte count in the locale's digits
    {"msgContactsExportFailed", "s"},      // file name
    {"msgMailsImported", "d"},             // files imported
    {"msgMailsNotImported", "s"},          // names of the files not imported, one a line
    {"msgLoginMailSended", "ss"},          // login, domain
    {"msgLoginMailSendingSkipped", "ss"},  // login, domain
    {"msgLoginMailSendError", "ss"},       // login, domain
    {"msgDomainMailSendError", "s"},       // domain
    {"msgAttachedFileIsExistsAndEmptyAndForbidden", "sss"},
    {"msgAttachedFileIsExistsAndEmpty", "ss"},
    {"msgAttachedFileIsExistsAndForbidden", "ss"},
    {"msgAttachedFileIsEmptyAndForbidden", "ss"},
    {"msgAttachedFileIsExists", "s"},
    {"msgAttachedFileIsForbidden", "s"},
    {"msgAttachedFileEmpty", "s"},
    {"msgAttachedFilePathTooLong", "s"},     // the refused paths
    {"msgUpdateContactInfoAs", "ssssssss"},  // name, address, company, job title: old, new
    {"msgGroupExists", "s"},                 // group name
    {"msgUpdateGroupNameAs", "s"},           // group name
    {"msgPasswordSetButRemains", "dd"},      // recoveries used, recoveries allowed
    {"msgCertKeyField", "sd"},               // key field name, its size in bits
};

struct Messages {
  std::vector<std::string> order;  // keys in file order, repeats included
  std::map<std::string, std::string> text;
};

std::string LangPath(const char* name) {
  return std::string(QOVRA_LANG_DIR) + "/" + name;
}

::testing::AssertionResult Load(const char* name, Messages& out) {
  pugi::xml_document doc;
  const pugi::xml_parse_result r = doc.load_file(LangPath(name).c_str());
  if (!r)
    return ::testing::AssertionFailure() << name << ": " << r.description() << " at " << r.offset;
  const pugi::xml_node messages = doc.document_element().child("Messages");
  if (!messages) return ::testing::AssertionFailure() << name << ": no Messages element";
  for (pugi::xml_node n = messages.first_child(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_element) continue;
    out.order.push_back(n.name());
    out.text.emplace(n.name(), n.child_value());
  }
  return ::testing::AssertionSuccess();
}

// Conversion letters of text in order; "!" marks a "%" the formatter does not
// understand.
std::string Conversions(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    const char c = i + 1 < text.size() ? text[i + 1] : '\0';
    if (c == '%') {
      ++i;
    } else if (c == 's' || c == 'd' || c == 'u' || c == 'x') {
      out += c;
      ++i;
    } else {
      out += '!';
    }
  }
  return out;
}

class LangFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Load(kLangFiles[0], uz_));
    ASSERT_TRUE(Load(kLangFiles[1], ru_));
  }
  Messages uz_, ru_;
};

TEST(LangFileFormat, StartsWithUtf8DeclarationAndRootLanguage) {
  for (const char* name : kLangFiles) {
    std::ifstream in(LangPath(name), std::ios::binary);
    std::string first;
    ASSERT_TRUE(std::getline(in, first)) << name;
    EXPECT_EQ(first, R"(<?xml version="1.0" encoding="UTF-8"?>)") << name;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(LangPath(name).c_str())) << name;
    EXPECT_STREQ(doc.document_element().name(), "language") << name;
  }
}

TEST_F(LangFiles, NoKeyTwiceAndNoEmptyText) {
  for (const Messages* m : {&uz_, &ru_}) {
    EXPECT_EQ(m->order.size(), m->text.size()) << "a key appears twice";
    for (const auto& [key, text] : m->text) {
      EXPECT_NE(text.find_first_not_of(" \t\r\n"), std::string::npos) << key << " is empty";
    }
  }
}

TEST_F(LangFiles, BothFilesHoldTheSameKeys) {
  for (const auto& [key, text] : uz_.text)
    EXPECT_TRUE(ru_.text.count(key)) << key << " missing in Russian";
  for (const auto& [key, text] : ru_.text)
    EXPECT_TRUE(uz_.text.count(key)) << key << " missing in Uzbek";
}

TEST_F(LangFiles, FormatArgumentsAsTheCallersFillThem) {
  for (const Messages* m : {&uz_, &ru_}) {
    for (const auto& [key, text] : m->text) {
      const auto it = kFormats.find(key);
      EXPECT_EQ(Conversions(text), it == kFormats.end() ? "" : it->second) << key << ": " << text;
    }
  }
  for (const auto& [key, letters] : kFormats) EXPECT_TRUE(uz_.text.count(key)) << key;
}

TEST_F(LangFiles, EveryKeyTheProgramUsesExists) {
  std::set<std::string> wanted(std::begin(kProgramKeys), std::end(kProgramKeys));
  wanted.insert(std::begin(kCodeKeys), std::end(kCodeKeys));
  for (const std::string& key : wanted) {
    EXPECT_TRUE(uz_.text.count(key)) << key << " missing in Uzbek";
    EXPECT_TRUE(ru_.text.count(key)) << key << " missing in Russian";
  }
}

// Every "msgXxx" string literal in the program's sources names a key of both
// files; a literal joined to a number with "+" is the prefix of a numbered
// family (msgServerError<N>, msgInvalidEmail<N>).
TEST_F(LangFiles, EveryMessageLiteralInTheSourcesExists) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(QOVRA_LANG_DIR).parent_path();
  size_t found = 0;
  for (const char* dir : {"core", "app", "workspace", "addressbook", "account"}) {
    if (!fs::exists(root / dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / dir)) {
      const auto ext = entry.path().extension();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      std::ifstream in(entry.path());
      const std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
      // "msg" + a capital + letters and digits + a closing quote.
      for (size_t at = text.find("\"msg"); at != std::string::npos;
           at = text.find("\"msg", at + 1)) {
        size_t end = at + 4;
        if (end >= text.size() || !std::isupper(static_cast<unsigned char>(text[end]))) continue;
        while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
        if (end >= text.size() || text[end] != '"') continue;
        const std::string key = text.substr(at + 1, end - at - 1);
        // A prefix joined to a number ("msgServerError" + code) is a family.
        const size_t next = text.find_first_not_of(" \t\n", end + 1);
        if (next != std::string::npos && text[next] == '+') continue;
        if (key == "msgServerError") continue;
        ++found;
        EXPECT_TRUE(uz_.text.count(key)) << key << " (" << entry.path() << ") missing in Uzbek";
        EXPECT_TRUE(ru_.text.count(key)) << key << " (" << entry.path() << ") missing in Russian";
      }
    }
  }
  EXPECT_GT(found, 20u);
}

// The send result list ends with its last entry's separator turned into ".",
// which takes every per-recipient line to end in a separator and a line end.
TEST_F(LangFiles, SendResultLinesEndInSeparatorAndLineEnd) {
  for (const char* key : {"msgLoginMailSended", "msgLoginMailSendingSkipped",
                          "msgLoginMailSendError", "msgDomainMailSendError"}) {
    for (const Messages* m : {&uz_, &ru_}) {
      const std::string& text = m->text.at(key);
      ASSERT_GE(text.size(), 2u) << key;
      EXPECT_EQ(text.substr(text.size() - 2), ";\n") << key;
    }
  }
}

TEST(LangConversions, ReadsEveryConversion) {
  EXPECT_EQ(Conversions("a %s b %d c %u %x"), "sdux");
  EXPECT_EQ(Conversions("100%% sure %s"), "s");
  EXPECT_EQ(Conversions("%5d %q %"), "!!!");
}

}  // namespace
