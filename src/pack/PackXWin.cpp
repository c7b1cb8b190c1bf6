// The volume questions of the container reader, which only Windows can answer.
#include <windows.h>

#include "pack/PackX.h"
#include "pack/PackXWin.h"

uint64_t ClusterSize(const std::string& path)
{
    if (path.size() < 3)
        return 0;
    const std::string root = path.substr(0, 3);
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return 0;
    return uint64_t{sectorsPerCluster} * bytesPerSector;
}

double TGFileInfo::SpaceRequired(const std::string& path) const
{
    return SpaceRequiredForCluster(Trailer(), ClusterSize(path));
}
