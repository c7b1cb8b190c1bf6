// ulvselfdel: a test helper that deletes itself the way a transient copy does at the end of its
// run, and ends at once.
//   ulvselfdel [/RemoveFolder] [/ShortNames]
// /RemoveFolder also removes its folder once it is empty; /ShortNames makes the batch name every
// path by its 8.3 form. Exit code 0, or 2 on an unknown argument.
#include <cstdio>
#include <string>

#include "util/Files.h"
#include "util/Utils.h"

int main(int argc, char** argv)
{
    bool removeFolder = false;
    bool shortNames = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (SameText(arg, "/RemoveFolder")) {
            removeFolder = true;
        } else if (SameText(arg, "/ShortNames")) {
            shortNames = true;
        } else {
            std::fprintf(stderr, "usage: ulvselfdel [/RemoveFolder] [/ShortNames]\n");
            return 2;
        }
    }
    DeleteMySelf(removeFolder, shortNames);
    return 0;
}
