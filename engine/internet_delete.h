// Module InternetDelete: listing and cleaning the browsers' HTTP caches.
#pragma once

#include <string>
#include <vector>

namespace tidrex::engine {

// The source URLs of the normal cache entries, in the cache's stable order.
std::vector<std::string> ListCacheEntries();

// Deletes every listed entry whose URL is not on the Internet keep list.
void CleanInternetCache();

}  // namespace tidrex::engine
