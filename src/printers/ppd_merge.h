// Carrying a queue's option defaults from its old PPD into a new one.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct OptionEntry {
  std::string keyword;        // without the leading '*', at most 40 characters
  std::string defaultChoice;  // at most 40 characters
  int index = 0;
};

struct OptionList {
  std::vector<OptionEntry> entries;
};

int readOldDefaults(const std::string& path, OptionList& list, int& count);
int processNewPPD(std::FILE* input, std::FILE* output, const OptionList& list, int nOptions);
