#pragma once

// Undoing an in-place publish: the original goes back under its name and the
// stamped movie takes the backup's name. Nothing is deleted.

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "result.h"
#include "service_state.h"

namespace velmora {

// The calls a restore makes; each answers 0 or the error number. Tests
// replace them to reach the fallback and its undo.
struct ExchangeCalls {
    using Call = std::function<int(const std::string& from, const std::string& to)>;
    Call exchange;           // swaps two names in one step
    Call rename_no_replace;  // fails with EEXIST instead of replacing
};
ExchangeCalls system_exchange_calls();

// Remembers a movie just published in place, with both files as they are now
// and the original's record as imported. A file that cannot be read leaves
// the movie unrestorable.
void remember_in_place_result(ServiceState& state, const std::string& id, const MovieRecord& imported,
                              const std::string& backup);

// Swaps the names of the stamped movie and its backup: in one step where the
// file system can, else through a hidden temporary name with three renames,
// undone on failure so that both files keep a name the message gives.
Status exchange_files(const std::string& path, const std::string& backup, const ExchangeCalls& calls);

// "restore" {"id"}: refuses, changing nothing, an unknown id, a missing file
// and a file changed since the batch. A movie published in place by this
// process gets its record as it was imported; any other one its first backup
// listed as the original, once the full check passes, and a record read
// again. Answers {"backup", "id", "path", "record"}.
Result<nlohmann::json> restore_original(ServiceState& state, const nlohmann::json& args,
                                        const ExchangeCalls& calls = system_exchange_calls());

}  // namespace velmora
