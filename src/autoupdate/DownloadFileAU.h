#pragma once
// The agent's downloads of its three kinds of file, and the error box they and the check show.
#include <cstdint>
#include <string>

// Download kinds of DownloadFileAU.
enum : uint8_t { KindInfoFile = 1, KindUpdateFile = 2, KindInformFile = 3 };

// Fetches `file` (its name part) from `address` (a local or network folder, or an HTTP folder; the
// test-mode folder instead while test mode is on). The INFO file (kind 1) goes to the agent's
// INFO path and must not be a server error page; an update (2) or inform file (3) goes beside the
// agent and must carry the agent's update token, or it is deleted and "Bad Secret Token!" shown.
// True on success; `error` holds the download's error text.
bool DownloadFileAU(const std::string& address, const std::string& file, uint8_t kind, std::string& error);

// An error box (mode 0) in the agent's box settings.
void ShowAgentError(const std::string& text);
