// String resources by id: the program's own table, replaced by an English resource library when
// the user's language is English and the library is present beside the program (on Windows;
// elsewhere there are no resource libraries and the table is always used).
#pragma once

#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/view.h"

namespace kvx::ui {

class StringSource {
  public:
    virtual ~StringSource() = default;
    // The text of a string resource; empty when there is none.
    virtual std::u16string Load(StringId id) const = 0;
};

struct StringEntry {
    StringId id;
    const char16_t* text;
};

// A built-in table; entries need not be sorted, ids are unique.
class StringTable : public StringSource {
  public:
    explicit StringTable(std::span<const StringEntry> entries) : entries_(entries) {}
    std::u16string Load(StringId id) const override;
    // Whether the table holds the id at all (an entry may be empty text).
    bool Contains(StringId id) const;
    std::span<const StringEntry> entries() const { return entries_; }

  private:
    std::span<const StringEntry> entries_;
};

// A resource library loaded from a file; its strings replace the built-in table's.
class ResourceModule {
  public:
    virtual ~ResourceModule() = default;
    virtual std::u16string String(StringId id) const = 0;
    // The module for the Win32 view's dialog templates; null elsewhere.
    virtual void* NativeHandle() const = 0;
};

// Loads a resource library by native path; null when it cannot be loaded (always elsewhere
// than on Windows).
std::unique_ptr<ResourceModule> LoadResourceModule(const std::string& nativePath);

// Whether the user's default language is English (primary language id 9). Hosts without a
// language setting count as English.
bool UserLanguageIsEnglish();

// The strings the program shows: the resource library's when one was loaded, else the table's.
class ResourceStrings : public StringSource {
  public:
    explicit ResourceStrings(const StringSource& builtIn) : builtIn_(builtIn) {}
    void UseModule(std::unique_ptr<ResourceModule> module) { module_ = std::move(module); }
    const ResourceModule* module() const { return module_.get(); }
    std::u16string Load(StringId id) const override;

  private:
    const StringSource& builtIn_;
    std::unique_ptr<ResourceModule> module_;
};

// "%s"-style formatting of UTF-16 texts: each "%s" takes the next argument, "%%" is a percent
// sign; missing arguments are empty.
std::u16string FormatStrings(std::u16string_view format,
                             std::initializer_list<std::u16string_view> args);

}  // namespace kvx::ui
