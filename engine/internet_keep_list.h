// The Internet keep list: the source URLs that cache cleaning spares.
#pragma once

#include <string>
#include <vector>

namespace tidrex::engine {

std::vector<std::string> LoadInternetKeepList();

// Rebuilds "Clean.ini" with the carried-over settings, the entries and the cookie list,
// in one atomic replace of the file.
void SaveInternetKeepList(const std::vector<std::string>& entries);

}  // namespace tidrex::engine
