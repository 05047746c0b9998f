#pragma once

// The tool's exit status, as --help documents it.
enum ExitCode {
    eExit_Ok = 0,
    eExit_Failed = 1, // a missing or unexpected answer
    eExit_Usage = 2,  // unknown command, option or message; bad value; no definitions
    eExit_Bus = 3,    // the bus could not be opened or was lost
    eExit_Interrupted = 130,
};
