#include "engine/internet_delete.h"

#include <string_view>
#include <unordered_set>

#include "engine/internet_keep_list.h"
#include "platform/internet_cache.h"

namespace tidrex::engine {

std::vector<std::string> ListCacheEntries() {
  std::vector<std::string> listing;
  for (platform::UrlCacheEntry& entry : platform::ListUrlCacheEntries()) {
    if ((entry.entry_type & platform::kNormalCacheEntry) == platform::kNormalCacheEntry)
      listing.push_back(std::move(entry.source_url));
  }
  return listing;
}

std::vector<std::string> SpareKeptEntries(std::vector<std::string> deletion,
                                          const std::vector<std::string>& keep) {
  // A set gives the same answer as comparing with every keep-list entry in turn, at the
  // cost of one lookup per entry.
  const std::unordered_set<std::string_view> kept(keep.begin(), keep.end());
  std::size_t out = 0;
  std::size_t i = 0;
  for (; i < deletion.size(); ++i) {
    const std::string& entry = deletion[i];
    if (entry.empty() || entry == "0") break;
    if (kept.count(entry)) continue;
    if (out != i) deletion[out] = std::move(deletion[i]);
    ++out;
  }
  for (; i < deletion.size(); ++i, ++out)
    if (out != i) deletion[out] = std::move(deletion[i]);
  deletion.resize(out);
  return deletion;
}

void CleanInternetCache() {
  const std::vector<std::string> deletion = SpareKeptEntries(ListCacheEntries(), LoadInternetKeepList());
  // One URL may stand for several listed entries; the first deletion removes them all
  // and the later ones fail quietly, as for an entry that vanished meanwhile.
  for (const std::string& url : deletion) platform::DeleteUrlCacheEntry(url);
}

}  // namespace tidrex::engine
