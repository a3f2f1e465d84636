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
  // Each URL is deleted with every entry it stands for; a URL listed twice is deleted
  // once and its second deletion fails quietly, like one for an entry that vanished
  // meanwhile. The results are not looked at.
  platform::DeleteUrlCacheEntries(deletion);
}

}  // namespace tidrex::engine
