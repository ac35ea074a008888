#pragma once

#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/temp_dir.h"

inline const std::string kSkinsplit = SKINSPLIT_EXE;
inline const std::string kSkinweld = SKINWELD_EXE;
inline const std::string kPrompt = "\n**** Press ENTER to continue ****\n";
