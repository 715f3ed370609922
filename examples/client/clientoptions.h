// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace Olvane {

// How the client runs, from its environment (the launcher passes no arguments of its own, and a
// restarted launcher inherits the environment):
//   OLVANE_UNATTENDED=1        run check, download, install and restart by itself
//   OLVANE_TRANSCRIPT=<file>   also append the transcript to this file
//   OLVANE_PICTURES=<folder>   save a picture of each view there
//   OLVANE_STREAM_SECONDS=<n>  how long the stream view runs unattended (default 6)
//   OLVANE_CAMERAS=<n>         cameras in the stream view (default 32)
//   OLVANE_SOLUTION_FILE=<f>   the solution information file (default: in the solutions folder)
//   OLVANE_MAP=0               leave the "Map" view out of the unattended run
struct ClientOptions
{
    bool unattended = false;
    QString transcriptFile;
    QString picturesDir;
    int streamSeconds = 6;
    int cameras = 32;
    bool map = true;
    QString solutionFile;
    // How many times this client already asked the launcher for a fresh copy in this chain.
    int restarts = 0;

    static ClientOptions fromEnvironment();
};

// Name of the variable a client sets before asking for a restart, so that the fresh copy knows.
extern const char *const kRestartsVariable;

} // namespace Olvane
