// The previous generation's product PPDs that the build made, in name
// order: the benchmarks give their many queues these, one after another.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> oldProductPPDs() {
  std::vector<std::string> names, texts;
  if (DIR* dir = opendir(VELA_OLD_PPD_DIR)) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::ifstream in(std::string(VELA_OLD_PPD_DIR) + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    texts.push_back(text.str());
  }
  return texts;
}
