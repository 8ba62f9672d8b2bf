// The product's information file (velaInfo4.0, older velaInfo2.0): where the
// product lives and which queues belong to it.
#pragma once

#include <string>

// Fills usrdir and kind (1 older, 2 current, -1 none); 1 when found.
int findInfoFile(std::string& usrdir, int& kind);

void writeInfoFile();
void upgradeInfoFile();
