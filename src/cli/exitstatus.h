#pragma once

// zentaval-cli's exit statuses, the same for every command.
namespace ExitStatus {

constexpr int Done = 0;              // done, every limit met
constexpr int LimitMissed = 1;       // a reading missed a limit
constexpr int UsageError = 2;        // a bad command line (said on standard error)
constexpr int NoInstrument = 3;      // none found, busy, no answer, or lost
constexpr int CaptureIncomplete = 4; // the capture file holds what arrived
constexpr int FileNotWritten = 5;    // a file could not be written or a template used
constexpr int CannotListen = 6;      // serve: an address that cannot be listened on

// mask's own meanings of 3 and 4.
constexpr int PictureUnreadable = 3; // a picture that cannot be read
constexpr int NoEye = 4;             // a picture with no eye

} // namespace ExitStatus
