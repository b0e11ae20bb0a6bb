// Language files: the texts of windows and the message table.
//
// The language file for the setting langid is ProgramDir + "lang/lang." +
// code + ".xml" with code "uzc" (langid 0) or "ru" (langid 1); a langid of
// 2 or more loads no file. The root element's children are
//   - one element per window class, named by the class name, holding one
//     child per component (named by the component's object name) and
//     optional "Caption" and "Hint" children for the window itself: a
//     child's text is a caption, its "hint" attribute a hint, its own child
//     elements the items of a list;
//   - the element "Messages", whose children are named by message keys and
//     whose texts are the messages.
// Texts are UTF-8. The window side (ApplyLanguage of the Qt library) maps
// the entries onto widgets; this part parses and caches files and fills the
// message table (messages.h). Interface thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qovra {

// "uzc" for langid 0, "ru" for 1, empty for any other value.
std::string_view LanguageCode(int langid);

// ProgramDir + "lang/lang." + code + ".xml"; empty when langid loads no file.
std::string LanguageFilePath(int langid);

// One child of a window class's element.
struct TLanguageEntry {
  std::string name;  // component name; "Caption" or "Hint" for the window itself
  std::string text;  // the element's own text (its direct text children)
  bool has_hint = false;
  std::string hint;                // the "hint" attribute when has_hint
  std::vector<std::string> items;  // texts of its child elements in order; empty: none
};

// One parsed language file. Immutable once parsed.
class TLanguageFile {
 public:
  // Parses a whole file's bytes (UTF-8, or the encoding its declaration or
  // byte-order mark names). Only the five predefined entities and
  // character references are expanded; DTDs are never read. Returns false
  // on malformed input, leaving the object empty.
  [[nodiscard]] bool Parse(std::string_view bytes);

  // The entries of every root child named class_name (ASCII letters
  // compared without regard to case), in file order; empty when there is
  // none. The reference stays valid while the object lives.
  const std::vector<TLanguageEntry>& Entries(std::string_view class_name) const;

  // True when the file has a "Messages" element; Messages() then holds the
  // key-value pairs of the last one in file order.
  bool HasMessages() const { return has_messages_; }
  const std::vector<std::pair<std::string, std::string>>& Messages() const { return messages_; }

 private:
  struct ClassEntries {
    std::string lower_name;
    std::vector<TLanguageEntry> entries;
  };
  std::vector<ClassEntries> classes_;
  bool has_messages_ = false;
  std::vector<std::pair<std::string, std::string>> messages_;
};

// Longest language file accepted; a bigger file counts as malformed.
constexpr size_t kMaxLanguageFileSize = 16u << 20;

// The parsed file of path from a cache: the file is parsed again only when
// its size, modification time or identity changed. Null when the file is
// missing, too big or malformed (nothing is reported).
std::shared_ptr<const TLanguageFile> LoadLanguageFile(const std::string& path);

// LoadLanguageFile of LanguageFilePath(Options.langid); null for a langid
// of 2 or more.
std::shared_ptr<const TLanguageFile> CurrentLanguageFile();

// Empties the cache of parsed files.
void ClearLanguageCache();

// Replaces the whole message table with the Messages of file when it has
// that element; otherwise (also for a null file) the table stays as it is.
void ApplyLanguageMessages(const TLanguageFile* file);

// ApplyLanguageMessages of CurrentLanguageFile(): what the program does to
// reload its messages without a window.
void ApplyLanguageMessages();

}  // namespace qovra
