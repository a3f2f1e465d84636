// Module InternetDelete: listing and cleaning the browsers' HTTP caches.
#pragma once

#include <string>
#include <vector>

namespace tidrex::engine {

// The source URLs of the normal cache entries, in the cache's stable order.
std::vector<std::string> ListCacheEntries();

// Deletes every listed entry whose URL is not on the Internet keep list.
void CleanInternetCache();

// The sparing walk: `deletion` without the entries that equal a keep-list entry exactly.
// An empty or "0" entry ends the walk; it and everything after it stay in the list.
std::vector<std::string> SpareKeptEntries(std::vector<std::string> deletion,
                                          const std::vector<std::string>& keep);

}  // namespace tidrex::engine
