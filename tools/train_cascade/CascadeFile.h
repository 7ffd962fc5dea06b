#pragma once
// Writes a cascade in the detector's tagged-record layout (19 x 19 patterns).
#include <string>
#include <vector>

#include "tools/train_cascade/Boosting.h"

namespace cascade_training {

void writeCascade(const std::string& path, const std::vector<Stage>& stages);
// Reads a cascade written by writeCascade (the library's tagged reader ends the process on a bad file).
std::vector<Stage> readCascade(const std::string& path);
// One stage of one all-zero table with threshold -1: accepts every window (the bootstrap's start).
std::vector<Stage> acceptAllCascade();

}  // namespace cascade_training
