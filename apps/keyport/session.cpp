#include "apps/keyport/session.h"

#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/partition_refresh.h"

namespace kvx::keyport {

Session::Session(Host& hostIn, ui::View& viewIn, const ui::StringSource& stringsIn)
    : ProgramSession(hostIn, viewIn, stringsIn, {kStrCaption, kStrLoadLibrary, kStrFilePresent}) {
    refresh = [this] { return RefreshPartitions(host, names.Companion(u"KVX.INI"), hostSystem); };
}

}  // namespace kvx::keyport
