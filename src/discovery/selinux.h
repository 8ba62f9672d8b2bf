// SELinux policy module loading and file labelling.
#pragma once

#include <string>

// Loads /opt/tam/etc/vela.pp with semodule; 0 when nothing ran.
int installSelinuxModule();

// Runs chcon with options on target; -1 when no usable chcon is known.
int setSelinuxContext(const std::string& target, const std::string& options, int logIt);
