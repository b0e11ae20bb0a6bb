// Plain data records that cross subsystem borders, and their constants.
//
// Text fields with a width limit are BoundedText / BoundedWideText: whatever
// is stored in them is cut to the limit on the way in. Sizes are 64-bit.
// Copies of TMailMessage, TContact and TOptions are plain value copies;
// TSessionInfo holds secrets and can be neither copied nor moved.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/bounded_text.h"

namespace qovra {

// Date-time: days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

// Progress callback. A call with done == 0 announces total; later calls
// report done growing towards total. data is passed through unchanged from
// whoever supplied the callback. A null TProgressProc means "no progress".
using TProgressProc = void (*)(void* data, int64_t total, int64_t done);

// Calls progress when it is set.
inline void ReportProgress(TProgressProc progress, void* data, int64_t total, int64_t done) {
  if (progress) progress(data, total, done);
}

// Mail flag word (TMailMessage::Flags, ecm_mails.flag, request attribute flag).
// The value 0x0004 is not used.
constexpr uint16_t mfAttachments = 0x0001;
constexpr uint16_t mfVoice = 0x0002;
constexpr uint16_t mfSent = 0x0008;
constexpr uint16_t mfReceived = 0x0010;
constexpr uint16_t mfRead = 0x0020;
constexpr uint16_t mfDeliveryReport = 0x0040;
constexpr uint16_t mfReadReport = 0x0080;
constexpr uint16_t mfReportDone = 0x0100;
constexpr uint16_t mfBadSignature = 0x0200;
constexpr uint16_t mfAdminOnly = 0x0400;

// Folder ids (TMailMessage::FolderId, ecm_mails.folder_id); captions are the
// message keys "folder0" to "folder4".
constexpr int32_t kFolderInbox = 0;
constexpr int32_t kFolderOutbox = 1;
constexpr int32_t kFolderSent = 2;
constexpr int32_t kFolderTrash = 3;
constexpr int32_t kFolderDrafts = 4;

// Send modes (TMailMessage::SendMode, setting sendmode, request attribute mode).
constexpr uint8_t kSendModeSecure = 0;
constexpr uint8_t kSendModeFast = 1;

// Priorities (TMailMessage::Priority, request attribute priority).
constexpr uint8_t kPriorityLow = 0;
constexpr uint8_t kPriorityNormal = 1;
constexpr uint8_t kPriorityHigh = 2;

// Time text: "yyyy-mm-dd hh:nn:ss"; a zero time is written as kZeroTimeText.
// The compact form "yyyymmddhhnnss" is also read (see time_stamp.h).
inline constexpr std::string_view kZeroTimeText = "0000-00-00 00:00:00";

// Longest address held by one address entry.
constexpr size_t kMaxAddressLen = 63;

// Growable list of e-mail addresses, in the order they were added. Each entry
// holds at most kMaxAddressLen bytes; a longer address is cut when added.
class TEMailList {
 public:
  void Add(std::string_view address) { items_.emplace_back(address.substr(0, kMaxAddressLen)); }
  void Clear() { items_.clear(); }
  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  // REQUIRES: index < Count().
  const std::string& operator[](size_t index) const { return items_[index]; }
  std::vector<std::string>::const_iterator begin() const { return items_.begin(); }
  std::vector<std::string>::const_iterator end() const { return items_.end(); }

 private:
  std::vector<std::string> items_;
};

// One mail's header data.
struct TMailMessage {
  int32_t Id = 0;                 // row id in ecm_mails; 0 = not stored yet
  BoundedText<32> Uuid;           // 32 hex digits naming the mail's files
  BoundedText<32> Suid;           // server id of the delivered copy; empty until assigned
  int32_t Ymbox = 0;              // server mailbox number of the delivered copy
  BoundedText<63> FromAddress;    // sender address
  TEMailList Recipients;          // one address per entry
  BoundedWideText<1023> Subject;  // at most 1023 UTF-16 code units
  int32_t FolderId = kFolderInbox;
  TDateTime SentTime = 0;  // 0 = none
  TDateTime ReceivedTime = 0;
  TDateTime ReadTime = 0;
  int64_t MailSize = 0;  // bytes of the mail container; 0 = unknown
  uint8_t SendMode = kSendModeSecure;
  uint8_t Priority = kPriorityLow;
  uint16_t Flags = 0;  // mf* bits
  // The mail key sealed with the user's private key: 1 length byte and 64
  // enciphered bytes; all zero when no sealed key is known.
  std::array<uint8_t, 65> FauKey{};
};

// One address-book node: a contact or a group.
struct TContact {
  int32_t Id = -1;           // -1 = new, not stored
  std::u16string FirstName;  // for a group: the group's name
  std::u16string MiddleName;
  std::u16string LastName;
  std::string Email;
  int32_t CompanyId = 0;  // -1 = resolve by name, 0 = none; group: parent group id
  std::u16string Company;
  int32_t JobTitleId = 0;
  std::u16string JobTitle;
  bool IsContact = true;  // false for a group
};

// The settings' text fields srvaddr, prxaddr, prxuser, prxpass and lastlgn
// hold UTF-8 text in memory, as typed. The settings file stores them as
// Windows-1251 bytes (characters without a byte as character references),
// so they read back unchanged. Where the 8-bit bytes of such a text are
// needed (the proxy's Basic credentials, a login hashed with a password),
// the caller converts it with Utf8ToCp1251 (cp1251.h). The proxy fields keep
// at most 127 characters (a 128-character field with its terminator).
struct TConnOpts {
  std::string srvaddr;    // host, optionally ":port"
  std::string ServerUrl;  // "http://" + srvaddr + "/qovra4/"
  uint8_t useprxy = 0;
  BoundedUtf8Text<127> prxaddr;
  uint16_t prxport = 0;
  uint8_t prxauth = 0;
  BoundedUtf8Text<127> prxuser;
  BoundedUtf8Text<127> prxpass;
  uint8_t useiewc = 0;  // below 2: socket-library client; 2: the other client
};

struct TKeysOpts {
  uint8_t keyssrc = 0;  // 0 key files, 1 key device
  std::u16string crtpath;
  std::u16string pvkpath;
  std::string offpass;  // 160-byte signature; empty = no offline login
};

struct TMailOpts {
  int32_t sendmode = 0;
  int32_t reffreq = 0;  // seconds; 0 = off
  uint8_t playsnd = 0;
  std::u16string sndpath;  // stored in the settings file as UTF-8 bytes
  uint8_t showgrp = 0;
  uint8_t sdownld = 0;
};

struct TOtherOpts {
  std::string lastlgn;  // UTF-8, see TConnOpts
  uint8_t chkupdt = 0;
  uint8_t traymin = 0;
};

struct TFolderOpts {
  std::u16string maildir;  // root of the mail folders
};

// The settings; one global instance, Options.
struct TOptions {
  TConnOpts Conn;
  TKeysOpts Keys;
  int32_t langid = 0;  // 0 Uzbek Cyrillic, 1 Russian, 2+ no language file
  TMailOpts Mail;
  TOtherOpts Other;
  TFolderOpts Folders;
};

// The logged-in session; one global instance, Session. It holds secret
// material. Clear() wipes every secret before it resets the fields, and the
// destructor calls it, so no secret outlives the record in its own storage.
struct TSessionInfo {
  TSessionInfo() = default;
  ~TSessionInfo() { Clear(); }
  TSessionInfo(const TSessionInfo&) = delete;
  TSessionInfo& operator=(const TSessionInfo&) = delete;

  // Wipes every secret field and resets every field to its initial value.
  void Clear();
  // Wipes and empties the private-key password (e.g. when it proved wrong).
  void ClearPrivateKeyPassword();
  // Wipes and empties the device PIN.
  void ClearDevicePin();

  uint8_t State = 0;  // 0 not logged in, 1 online, 2 offline
  uint8_t Level = 0;
  BoundedText<31> Login;
  BoundedText<254> Host;
  std::array<uint8_t, 32> CertKeyHash{};
  std::array<uint8_t, 768> OwnDhKey{};
  std::array<uint8_t, 768> OwnPublicKey{};
  std::array<uint8_t, 256> OwnPrivateKey{};
  std::array<uint8_t, 64> SessionKey{};
  std::array<uint8_t, 32> SessionId{};
  std::array<uint8_t, 768> ServerDhKey{};
  std::array<uint8_t, 768> ServerKey{};
  std::array<uint8_t, 32> OnlinePasswordHash{};
  std::array<uint8_t, 32> OfflinePasswordHash{};
  std::string PrivateKeyPassword;
  std::string DevicePin;
  std::string Certificate;  // certificate bytes as stored
  TContact OwnContact;
  int64_t MaxUploadSize = 0;  // 0 = no limit
  int32_t CertValidityRemain = 0;
};

// Process-wide settings and session.
extern TOptions Options;
extern TSessionInfo Session;

// True when uuid is exactly 32 hexadecimal digits.
bool IsValidUuid(std::string_view uuid);

// The per-mail files, all named by the mail's uuid in the messages folder.
enum class MailFileKind {
  Container,   // <uuid>.emz
  Enciphered,  // <uuid>.eme, kept for mfAdminOnly mails
  Signature,   // <uuid>.ems
  DraftCopy,   // ~<uuid>.emz, working copy of a draft
};

// The file name (no folder) of one per-mail file; empty when uuid is not
// exactly 32 hexadecimal digits, so no name from outside can leave the folder.
[[nodiscard]] std::string MailFileName(std::string_view uuid, MailFileKind kind);

}  // namespace qovra
