// An INI file in memory, read and changed with the platform's profile-file rules:
// - "[name]" starts a section; "key=value" lines belong to the section above them;
// - section and key names match with letter case ignored (the user's locale), the first match
//   wins; names and values lose the blanks around them, and a value wrapped in one pair of
//   matching quotes ('"' or '\'') loses the quotes when read;
// - lines starting with ';' or '#', blank lines and any other lines are kept as they are;
// - setting an existing key rewrites only its line; a new key goes after the last non-blank line
//   of its section; a new section goes at the end of the file.
// Lines are kept as their original bytes and only decoded (8-bit code page, see ansi_codec.h)
// to be matched, so a rewrite changes nothing but the lines it sets. The line ending of the
// first line ("\r\n" or "\n") is used for new lines. Not thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/text.h"

class IniDocument {
 public:
  explicit IniDocument(std::string_view bytes);

  // The value of the first `key` in the first `section`; nullopt when either is missing.
  [[nodiscard]] std::optional<Text> Find(TextView section, TextView key) const;

  // Sets the key. Fails (EINVAL) for a line break in any of the three texts, which would
  // break the file's lines apart, and for a lone surrogate, which has no 8-bit form.
  [[nodiscard]] Result<void> Set(TextView section, TextView key, TextView value);

  [[nodiscard]] std::string Serialize() const;

 private:
  enum class Kind { kSection, kEntry, kOther };
  struct Line {
    std::string raw;  // without its "\n"; a "\r" before it stays
    Kind kind = Kind::kOther;
    Text name;   // section or key name, trimmed
    Text value;  // an entry's value, trimmed, quotes kept
  };
  static Line Parse(std::string raw, bool first);
  // Index of the first section header named `section`; nullopt when there is none.
  std::optional<size_t> FindSection(TextView section) const;
  // Index of `key` in the section whose header is at `header`.
  std::optional<size_t> FindKey(size_t header, TextView key) const;
  size_t SectionEnd(size_t header) const;

  std::vector<Line> lines_;
  std::string eol_ = "\n";
};
