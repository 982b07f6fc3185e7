#include "apps/keywiper/session.h"

#include "apps/keywiper/keywiper_strings.h"

namespace kvx::keywiper {

Session::Session(Host& hostIn, ui::View& viewIn, const ui::StringSource& stringsIn)
    : ProgramSession(hostIn, viewIn, stringsIn, {kStrCaption, kStrLoadLibrary, kStrFilePresent}) {}

}  // namespace kvx::keywiper
