// The mail commands of one delivered copy: download (166) and the flag
// report (170).
//
// Both write their request XML, send it through ServerRequest in session
// mode (server URL of the settings) and read what they need of the reply.
// Result: true only for result 1; any other result has already been shown
// to the user and leaves every output untouched. Interface thread only.
#pragma once

#include <cstdint>
#include <pugixml.hpp>
#include <string_view>

#include "base/records.h"
#include "commands/account_commands.h"
#include "net/envelope_files.h"

namespace qovra {

// True when text is exactly 32 hexadecimal digits (a uuid or a suid).
[[nodiscard]] bool IsHexId(std::string_view text);

// True when text can be stored as the server's id of a delivered copy: 1 to
// 32 ASCII letters and digits. The server may choose other forms than the
// 32 hexadecimal digits of IsHexId.
[[nodiscard]] bool IsServerCopyId(std::string_view text);

// True when text is a mailbox number: 1 to 9 decimal digits.
[[nodiscard]] bool IsYmboxText(std::string_view text);

// True when text is a time text "yyyy-mm-dd hh:nn:ss" of digits in those
// places (the zero time included).
[[nodiscard]] bool IsTimeText(std::string_view text);

// 166: downloads the copy (uuid, suid, ymbox) of a mail from from_address.
// The server's files (<uuid>.eme, <uuid>.ems) are stored in MessagesDir by
// ServerRequest. The progress window keeps open with its bar under title.
// uuid and suid must be 32 hexadecimal digits and ymbox a mailbox number;
// otherwise nothing is sent and the result is false ("msgMailNotFound").
// On result 1 without a `rep` element: "msgMailNotFound", false. On
// success mail is filled: Uuid, Suid, FromAddress, Ymbox, MailSize (size),
// Flags (flag, with mfReceived set and mfSent cleared unless from_address
// is the own address), Recipients (the own address), FolderId (inbox),
// SentTime (sent_time), ReceivedTime and ReadTime (0), Priority (priority,
// default 1). Values that are not numbers give their defaults; a size below
// 0 gives 0. taker, when given, handles the files it takes itself
// (envelope_files.h).
[[nodiscard]] bool DownloadMail(const TCommandOwner& owner, std::string_view from_address,
                                std::string_view uuid, TMailMessage& mail, std::string_view title,
                                std::string_view ymbox, std::string_view suid,
                                IReplyFileTaker* taker = nullptr);

// 170: reports flags for the own copy (uuid, ymbox). owner.ProgressBar is
// the main window's status bar; visible is passed as both keep-open and
// show-bar. The reply stays in reply for the caller. When uuid is not 32
// hexadecimal digits or ymbox is below 0 nothing is sent and the result is
// false ("msgMailNotFound").
[[nodiscard]] bool UpdateMailFlag(const TCommandOwner& owner, std::string_view uuid, int32_t ymbox,
                                  pugi::xml_document& reply, bool visible, uint16_t flags);

}  // namespace qovra
