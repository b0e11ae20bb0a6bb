// The receiving run: new mails and delivery reports from the server.
//
// One exchange (165) brings the list of new mails and the reports awaited
// for the user's own sent mails (BuildPendingReportList). Then each listed
// mail in turn is downloaded (166), checked and kept (receiving_keep.h),
// and only then reported to the server as received (170), whose reply's
// delivery and read times are written to the mail's own recipient row. An
// ordinary mail is deciphered while its download is read
// (receiving_download.h), so its enciphered file is never stored; a mail
// for administrative use only, or one that cannot be deciphered that way,
// is stored as <uuid>.eme first. Finally the reported delivery and read
// times are written to the recipients' rows of the sent mails.
//
// So a mail the server counts as delivered is always in the database: a
// kept one with its file, its subject and (for administrative use only)
// its sealed key; one that failed a check (unreadable signature container
// or sender certificate, failed key agreement, decryption, length,
// signature or container check) with its header row and no subject, after
// its warning. A mail that could not be downloaded, or whose file or row
// could not be kept (a full disk, "msgDatabaseError"), is not reported: the
// server lists it again. A listed mail already kept (a run that stopped
// before its report) is not downloaded again, only reported; one whose
// row was never committed is fetched and checked again. The run goes on
// with the next mail and the reports in every case. A failed 165 exchange
// ends the run with nothing stored; so does a mail database that cannot
// list the awaited reports ("msgDatabaseError", before any request).
//
// Reads Session (own address, keys, session key), Options (Mail.playsnd,
// Mail.sndpath, Other.traymin), MessagesDir and MailDb. Messages, progress,
// the new-mail sound, the tray notice and the folder refresh go through
// the window seam (ui_seam.h). Interface thread only; one run at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "commands/account_commands.h"

namespace qovra {

// Where one listed mail stands within a run; see TReceiveRun::Probe.
enum class TReceiveStep {
  Downloaded,    // its files are on disk, not yet checked
  FileKept,      // its checked file has its final name; no row yet
  Kept,          // file, row and sealed key committed; not yet reported
  Refused,       // a check failed; its header row is written; not yet reported
  Acknowledged,  // reported to the server; its times not yet written
};

struct TReceiveRun {
  // The main window ("TfrmMain") and the progress window's bar.
  TCommandOwner Owner;
  // The main window's status progress bar, for the flag reports.
  void* StatusBar = nullptr;
  // The timer's silent receive: the progress window is neither shown nor
  // hidden; warnings still appear.
  bool Silent = false;
  // False only for the receive that the main window's first activation
  // starts: the flag reports then show their progress.
  bool FirstActivationDone = true;
  // Fault injection (tests): called at each step of each listed mail,
  // named by its uuid; may end the process there.
  std::function<void(TReceiveStep step, const std::string& uuid)> Probe;
};

// What a run did, for the caller and for tests.
struct TReceiveSummary {
  bool Listed = false;  // the 165 exchange succeeded
  int NewMails = 0;     // entries of the new-mails list
  int Downloaded = 0;   // downloads that succeeded
  int Stored = 0;       // mails that passed every check and were kept
  int Reports = 0;      // recipient rows updated from the report section
};

TReceiveSummary ReceiveMails(const TReceiveRun& run);

}  // namespace qovra
