// The receiving run: new mails and delivery reports from the server.
//
// One exchange (165) brings the list of new mails and the reports awaited
// for the user's own sent mails (BuildPendingReportList). Each new mail is
// downloaded (166), acknowledged (170) and stored with its header in
// MailDb. An ordinary mail is deciphered while its download is read
// (receiving_download.h), so its enciphered file is never stored; a mail
// for administrative use only, or one that cannot be deciphered that way,
// is stored as <uuid>.eme first. Then its signature container is read, the
// key is agreed with the sender's certificate (secure mode) or taken from
// the session (fast mode), the mail is decrypted (unless it already was)
// and checked (length, signature, container)
// and, once every check passed, kept as MessagesDir/<uuid>.emz with its
// subject in the database. A mail for administrative use only stays
// enciphered in <uuid>.eme and its key is sealed into the database
// (StoreMailKey). Finally the reported delivery and read times are written
// to the recipients' rows of the sent mails.
//
// A bad mail (unusable values in the list, failed download, unreadable
// signature container or sender certificate, failed key agreement,
// decryption, length, signature or container check) is reported and
// skipped, and so is a checked mail whose subject or sealed key the
// database does not take ("msgDatabaseError"); the run goes on with the
// next mail and the reports. A skipped mail keeps only its header row, no
// subject. Decrypted data is written under a temporary name and renamed
// only after every check passed; an existing mail file is never
// overwritten. A listed mail already held checked (its <uuid>.emz, or its
// <uuid>.eme with a sealed key) is not downloaded again; it is only
// reported to the server as received. An <uuid>.eme without that key was
// never checked and is fetched again. A failed 165 exchange ends the run
// with nothing stored; so does a mail database that cannot list the
// awaited reports ("msgDatabaseError", before any request).
//
// Reads Session (own address, keys, session key), Options (Mail.playsnd,
// Mail.sndpath, Other.traymin), MessagesDir and MailDb. Messages, progress,
// the new-mail sound, the tray notice and the folder refresh go through
// the window seam (ui_seam.h). Interface thread only; one run at a time.
#pragma once

#include <cstdint>

#include "commands/account_commands.h"

namespace qovra {

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
