#pragma once
// The update step: an applicable publication downloaded, the running product shut down by the
// method the INFO file names, the new setup run, the new version recorded, the user told and the
// product started again.

// True when the new setup ran to completion; the check then restarts the agent from a fresh
// transient copy, since the setup may have replaced the agent's files.
bool PerformAutoUpdate();
