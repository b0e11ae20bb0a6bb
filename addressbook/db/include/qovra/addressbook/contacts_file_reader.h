// Reading a contacts file (".ecx") into its groups and contacts, without a
// database: the import stores what this reads.
//
// A file is read as XML in the encoding it declares (a byte-order mark for
// UTF-16 or UTF-8, else the declaration's encoding="...", else UTF-8);
// Windows-1251, UTF-8 and UTF-16 are read here, other names through the
// system's iconv. Its document element is "addressbook" in any case;
// "contact" and "group" elements (any case) below it are taken in document
// order, groups nesting to any depth; other nodes are passed over with
// what they hold. Attributes are read by their exact names; a missing one
// reads as empty. Neither entities nor a DTD are expanded: a reference
// other than the five predefined entities and character references stays
// as written.
//
// A file is refused as a whole, before anything of it is handed on, when
// it cannot be decoded, is not well-formed (also a bare "&" or "<" inside
// any value, which the parser alone would let through), holds a value
// longer than kMaxContactsValueBytes, or nests groups deeper than
// kMaxContactsGroupDepth (the windows lay out and free such trees
// recursively).
//
// Not thread-safe; one reader per file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/records.h"

namespace qovra {

// Files above this size are refused before they are read.
inline constexpr int64_t kMaxContactsFileSize = int64_t{64} << 20;
// The longest value (attribute) a file may hold, in UTF-8 bytes after its
// references are resolved: far above any name, address, company or title.
inline constexpr size_t kMaxContactsValueBytes = 4096;
// The deepest nesting of groups a file may hold.
inline constexpr int kMaxContactsGroupDepth = 256;

// Why a file was refused.
enum class TContactsFileFault {
  None,
  Unreadable,       // the file cannot be opened or read
  TooLarge,         // over kMaxContactsFileSize
  UnknownEncoding,  // the declared encoding is not one we can read
  Undecodable,      // bytes that are not text in the file's encoding
  NotWellFormed,    // the XML parser refused it, or a character XML forbids
  BareMarkup,       // "&" beginning no reference, or "<", inside a value
  ValueTooLong,     // a value over kMaxContactsValueBytes
  TooDeep,          // groups nested deeper than kMaxContactsGroupDepth
  NotAddressBook,   // the document element is not "addressbook"
  Empty,            // "addressbook" without child nodes
};

// A short name of fault for the log ("bare markup").
std::string_view ContactsFileFaultName(TContactsFileFault fault);

// What a walk does after a group element.
enum class TGroupStep { Enter, Skip, Stop };

// The handlers of a walk, called in document order.
struct TContactsFileVisitor {
  // A group element; the record has Id -1, the name in FirstName and
  // IsContact false. Enter walks its content (OnGroupEnd follows it), Skip
  // passes over it, Stop ends the walk.
  std::function<TGroupStep(const TContact& group)> OnGroup;
  // A contact element; the record has Id -1, the six texts (Email as UTF-8),
  // CompanyId and JobTitleId -1 and IsContact true. False ends the walk.
  std::function<bool(const TContact& contact)> OnContact;
  // The end of an entered group's content.
  std::function<void()> OnGroupEnd;
};

class TContactsFileReader {
 public:
  TContactsFileReader();
  ~TContactsFileReader();
  TContactsFileReader(const TContactsFileReader&) = delete;
  TContactsFileReader& operator=(const TContactsFileReader&) = delete;

  // Decodes, parses and checks the bytes of a file. False (Fault() set)
  // when the file is refused; a file may be read only once.
  [[nodiscard]] bool ReadText(std::string_view bytes);
  // ReadText of the file at path; Unreadable when it cannot be read,
  // TooLarge above kMaxContactsFileSize.
  [[nodiscard]] bool ReadFile(const std::string& path);

  TContactsFileFault Fault() const;
  // Where and what, for the log; empty when the read succeeded.
  const std::string& Detail() const;
  // The contact and group elements a walk that enters every group meets.
  size_t ItemCount() const;

  // REQUIRES: a successful read. Walks the contact and group elements.
  // False when a handler stopped it.
  bool Walk(const TContactsFileVisitor& visitor) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qovra
