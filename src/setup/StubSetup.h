#pragma once
// The setup launcher's road from the first timer tick to the finished setup engine.
#include <string>

// The launcher's work folder in the temporary area, "SETUP_" + the time half of the stub file's
// DOS date-time. On first use a leftover folder of that name is removed and the folder created;
// later uses return the kept name.
std::string SetupWorkFolder();
// The name SetupWorkFolder uses, without touching the disk.
std::string SetupWorkFolderName(const std::string& tempFolder, unsigned dosTime);
// Runs on the launcher's first timer tick (the stub window has stopped its timer).
void StartSetup();
