#pragma once
#include <cstdint>
#include <string>

// Bytes per cluster of the volume named by the path's first three characters (such as "C:\");
// 0 when the volume cannot be queried.
uint64_t ClusterSize(const std::string& path);
