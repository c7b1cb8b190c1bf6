#pragma once
// A second look at a container whose unpacking delivered no main file: was there nothing to
// start, or did the unpacking stop short (a damaged record table, a disk file that is missing,
// a disk prompt the user cancelled)? The unpacking itself reports such cases only by an empty
// main file text, which alone cannot tell them from a setup that simply has no program to run.
// Portable: reads the disk files with BinFile and the rules of pack/.
#include <string>

struct PayloadSurvey {
    // Every disk file of the chain is there and has the container layout, and every record lies
    // inside its file: an unpacking could have read all of it.
    bool complete = false;
    // Some record's descriptor marks a main file (a "*" in it).
    bool hasMainFile = false;
};

// Walks the disk files from `containerFile` on (as the unpacking does: ".001" names and the
// next-disk flag), reading the record lengths and, until a main file is seen, the start of each
// record's body up to its descriptor. Never inflates more than a descriptor needs.
PayloadSurvey SurveyPayload(const std::string& containerFile);

// True when a launch whose unpacking gave no main file text (and whose checksum passed) failed,
// rather than having nothing to start.
bool UnpackingFellShort(const PayloadSurvey& survey);
